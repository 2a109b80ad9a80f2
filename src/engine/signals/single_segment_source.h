// Opening the signal groups of a single-segment record and reading them in
// step: skew, end of data and checksums.
#ifndef SIGTROVE_ENGINE_SINGLE_SEGMENT_SOURCE_H
#define SIGTROVE_ENGINE_SINGLE_SEGMENT_SOURCE_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "header/header.h"
#include "signals/signal_source.h"

namespace sigtrove::engine {

class SearchLocation;

// The largest window of decoded samples one group may need (skew included):
// larger frames or skews are refused at open rather than allocated.
constexpr long long kMaxWindowSamples = 1LL << 26;

struct SourceOpening {
    std::unique_ptr<SignalSource> source;  // null when nothing could be opened
    std::vector<std::size_t> opened;       // header signal numbers opened, in order
    std::vector<int> group_of_opened;      // their group numbers, counted from first_group
    int status = 0;                        // -3 after recording a text: a limit was exceeded
};

// Opens at most `room` signals of a single-segment header, group by group:
// a group with more signals than the room left, or whose file can not be
// found or opened, is skipped without a text. `first_signal` and `first_group`
// number the opened signals and groups (they follow signals already open).
// `record` names the record in texts. Signal files are looked up along `location`.
SourceOpening open_single_segment_source(const Header &header, int room, int first_signal, int first_group,
                                         const std::string &record, SearchLocation &location);

}  // namespace sigtrove::engine

#endif
