// The parser of WFDB header files (.hea): the record line, signal lines, segment
// lines and comments, every default applied. A record named like an EDF or BDF
// file has no .hea file: record_header/ reads either kind.
#ifndef SIGTROVE_ENGINE_HEADER_PARSER_H
#define SIGTROVE_ENGINE_HEADER_PARSER_H

#include <string>

#include "header/header.h"

namespace sigtrove::engine {

class SearchLocation;

// Finds RECORD.hea along the database path, or along `location`, and parses it:
// 0, or -1 (not found) or -2 (malformed) after recording the text.
int read_wfdb_header(const std::string &record, Header &out);
int read_wfdb_header(const std::string &record, SearchLocation &location, Header &out);

}  // namespace sigtrove::engine

#endif
