// The bytes of a segment's signal files that a window of frames needs, worked
// out from the segment's header alone: a read of a remote multi-segment record
// asks for those of every segment it crosses at once, before it opens any of them.
#ifndef SIGTROVE_ENGINE_SEGMENT_BYTE_RANGES_H
#define SIGTROVE_ENGINE_SEGMENT_BYTE_RANGES_H

#include <vector>

#include "header/header.h"
#include "network/prefetched_files.h"
#include "paths/search_location.h"

namespace sigtrove::engine {

// Adds to `out` the range of each remote signal file of `segment` that frames
// [from, to) of it (counted from the segment's start, skew included) are stored
// in: one range per file, covering every group stored there. A group whose bytes
// are not placed by arithmetic (FLAC) gets its file's first bytes, which its open
// reads. Nothing for format 0 groups, local files, or names the location refuses.
void add_segment_byte_ranges(const Header &segment, long long from, long long to, const SearchLocation &location,
                             std::vector<WantedRange> &out);

}  // namespace sigtrove::engine

#endif
