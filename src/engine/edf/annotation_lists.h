// The time-stamped annotation lists of an EDF+ annotation signal: what one data
// record's bytes of the signal hold. Each list is an onset, an optional
// duration and texts: "+ONSET[\x15DURATION]\x14[TEXT\x14]...\0"; the bytes after
// the last list are NUL. The first list of a data record's first annotation
// signal begins with an empty text: its onset is the data record's own.
#ifndef SIGTROVE_ENGINE_ANNOTATION_LISTS_H
#define SIGTROVE_ENGINE_ANNOTATION_LISTS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "edf/decimal_seconds.h"

namespace sigtrove::engine {

struct EdfAnnotationList {
    DecimalSeconds onset;
    std::optional<DecimalSeconds> duration;
    std::vector<std::string_view> texts;  // into the parsed bytes, in order, empty ones included
};

// Parses the lists in `bytes` (one data record's bytes of one annotation
// signal), appending them to `out`. False at the first malformed list, with
// `error` saying what is wrong and where (lists before it stay in `out`).
bool parse_annotation_lists(const std::uint8_t *bytes, std::size_t size, std::vector<EdfAnnotationList> &out,
                            std::string &error);

// The onset of the data record whose first annotation signal is `bytes`: the
// onset of its first list, which must begin with an empty text. None, with
// `error` set, when the bytes give none.
std::optional<DecimalSeconds> data_record_onset(const std::uint8_t *bytes, std::size_t size, std::string &error);

}  // namespace sigtrove::engine

#endif
