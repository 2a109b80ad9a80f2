// Record names and finding files along the database path (the WFDB environment variable).
#ifndef SIGTROVE_ENGINE_PATH_SEARCH_H
#define SIGTROVE_ENGINE_PATH_SEARCH_H

#include <cstdio>
#include <string>

namespace sigtrove::engine {

// Looks up RECORD.TYPE (then RECORD.TYP truncated to 3 characters) along the
// database path, learning the directory it is found in. Returns the path found,
// or an empty string.
std::string find_record_file(const std::string &record, const std::string &type);

// Looks up a signal file named in a header (FNAME, then "FNAME.") along the path.
std::string find_signal_file(const std::string &fname);

// Opens a found file for reading in binary mode; null when it can not be opened.
std::FILE *open_for_reading(const std::string &path);

}  // namespace sigtrove::engine

#endif
