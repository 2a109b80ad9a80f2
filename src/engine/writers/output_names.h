// The names written files get: a record, an annotator and a signal file name
// each name one file in the destination folder and nothing outside it.
#ifndef SIGTROVE_ENGINE_OUTPUT_NAMES_H
#define SIGTROVE_ENGINE_OUTPUT_NAMES_H

#include <string>

#include "errors/status.h"

namespace sigtrove::engine {

// A record name: not empty, no folder separator, no "..", no blank or control
// character (the header is split at blanks), not beginning with '+' and not "-"
// (the field's tools give both a meaning of their own), and no '.' (the field's
// tools read a dotted name as an EDF file). bad_request naming the fault.
Status check_record_name(const std::string &name);

// An annotator name (the annotation file's extension): as a record name, but a
// '.' is allowed (never "..").
Status check_annotator_name(const std::string &name);

// A signal file name as a header names it: as an annotator name.
Status check_signal_file_name(const std::string &name);

}  // namespace sigtrove::engine

#endif
