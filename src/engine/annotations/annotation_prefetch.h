// An annotation file of a remote record and the record's header asked for
// together, in one round trip, when the open that reads the file will read the
// header too (for the record's frequency and base time): each open then takes
// the answer that came for it.
#ifndef SIGTROVE_ENGINE_ANNOTATION_PREFETCH_H
#define SIGTROVE_ENGINE_ANNOTATION_PREFETCH_H

#include <string>

#include "paths/search_location.h"

namespace sigtrove::engine {

// Asks for RECORD.ANNOTATOR and RECORD.hea at once, when `location` is a remote
// record's; does nothing for a local record (or a name it refuses).
void prefetch_annotation_with_header(const std::string &record, const std::string &annotator,
                                     const SearchLocation &location);

}  // namespace sigtrove::engine

#endif
