// What a record's header says of the record's other files, for a program that
// fetches or lists them: the signal files (of signals stored in a format other
// than 0) and, for a multi-segment record, its segments. The header is parsed
// by the engine's own parser; no other file is opened.
#ifndef SIGTROVE_ENGINE_HEADER_FILES_H
#define SIGTROVE_ENGINE_HEADER_FILES_H

#include <string>
#include <vector>

#include "errors/status.h"

namespace sigtrove::engine {

struct HeaderFiles {
    bool multi_segment = false;
    std::vector<std::string> signal_files;  // each once, in the header's order
    std::vector<std::string> segments;      // the segments' names, null segments ("~") left out
};

// Parses RECORD.hea in the folder `directory` (and nowhere else) into `out`.
// A header that is not there is not_found, one the parser refuses is malformed,
// each with the parser's text.
Status read_header_files(const std::string &directory, const std::string &record, HeaderFiles &out);

}  // namespace sigtrove::engine

#endif
