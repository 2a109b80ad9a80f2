// Where a bulk read of a record puts what it decodes. A bulk read fills an
// output of chosen signals ("columns") over a run of frames ("rows"), handing
// the sink one block of rows at a time, straight from the decoded file block:
// no call per frame, no branch per sample on the storage format.
#ifndef SIGTROVE_ENGINE_FRAME_SINK_H
#define SIGTROVE_ENGINE_FRAME_SINK_H

#include <cstddef>
#include <cstdint>

namespace sigtrove::engine {

// Where one column's samples are in a block: frame k's spf samples are
// first[k * stride + j] for j < spf. A null `first` means the column has no
// valid sample in this block (a null or missing segment, a signal a segment lacks).
// Where `invalid_marker` is set (WFDB signals), a value equal to
// WFDB_INVALID_SAMPLE is an invalid sample; where it is not (EDF signals), every
// value is a sample, and only a null `first` (a gap) is invalid.
struct ColumnBlock {
    const std::int32_t *first = nullptr;
    std::size_t stride = 0;
    int spf = 1;
    bool invalid_marker = true;
};

class FrameSink {
public:
    virtual ~FrameSink() = default;

    // Rows [row, row + frames) of every column; `columns` has one entry per
    // column, in the output's order. Values equal to WFDB_INVALID_SAMPLE are
    // invalid samples in columns whose blocks say so (see ColumnBlock).
    virtual void put(std::size_t row, std::size_t frames, const ColumnBlock *columns) = 0;
};

// What a bulk read gave: how many frames it delivered, and why it stopped short
// (frame_end: the data ended; frame_error: they could not be read, a text says why).
struct BulkOutcome {
    long long frames = 0;
    int stop = 0;                    // a FrameStatus: 0 when every frame asked for was delivered
    bool checksum_mismatch = false;  // a checksum did not match (a text says which); the frames are delivered
};

}  // namespace sigtrove::engine

#endif
