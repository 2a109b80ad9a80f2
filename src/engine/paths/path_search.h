// Record names and finding files along the database path (the WFDB environment variable).
#ifndef SIGTROVE_ENGINE_PATH_SEARCH_H
#define SIGTROVE_ENGINE_PATH_SEARCH_H

#include <cstdio>
#include <string>
#include <vector>

namespace sigtrove::engine {

// The engine's own copy of a record argument given to an opening call. With
// keep_open non-null (isigopen, annopen) a leading '+' is removed and reported
// there; sampfreq passes null, so '+' stays part of the name. A trailing ".hea"
// (on a name longer than 4 characters) is removed. The caller's text is never
// changed. A null name gives "".
std::string record_name_for_open(const char *name, bool *keep_open);

// The name files of a record are looked up under: a name ending in '/' gets its
// last directory repeated ("abc/123/" is "abc/123/123").
std::string record_lookup_name(const std::string &record);

// Looks up RECORD.TYPE (then RECORD.TYP truncated to 3 characters) along the
// database path, learning the directory it is found in. Also makes RECORD the
// name that %r stands for in the path. Returns the path found, or an empty string.
// Names containing ".." are never found.
std::string find_record_file(const std::string &record, const std::string &type);

// Looks up a signal file named in a header (FNAME, then "FNAME.") along the path.
std::string find_signal_file(const std::string &fname);

// Opens a found file for reading in binary mode; null when it can not be opened.
std::FILE *open_for_reading(const std::string &path);

// The database path in use, one entry per prefix, learned directories included
// (reads WFDB on first use). For tests and diagnostics.
std::vector<std::string> database_path_components();

}  // namespace sigtrove::engine

#endif
