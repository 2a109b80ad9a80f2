// The frame sink of a copy: each block of frames read from the source record is
// handed, as stored values, to the writer of the new record (WFDB or EDF).
#ifndef SIGTROVE_ENGINE_COPY_SINK_H
#define SIGTROVE_ENGINE_COPY_SINK_H

#include <cstddef>
#include <vector>

#include "errors/status.h"
#include "signals/frame_sink.h"
#include "writers/record_writer.h"

namespace sigtrove::engine {

// `Writer` has `Status put(std::size_t frames, const SampleColumn *columns)`.
template <class Writer>
class CopySink final : public FrameSink {
public:
    CopySink(Writer &writer, std::size_t columns) : writer_(writer), columns_(columns) {}

    void put(std::size_t, std::size_t frames, const ColumnBlock *blocks) override {
        if (!status_.ok()) return;
        for (std::size_t c = 0; c < columns_.size(); ++c)
            columns_[c] = SampleColumn{SampleColumn::Kind::stored, blocks[c].first, blocks[c].stride};
        status_ = writer_.put(frames, columns_.data());
    }

    // The first failure of the writer; success until one.
    const Status &status() const { return status_; }

private:
    Writer &writer_;
    std::vector<SampleColumn> columns_;
    Status status_;
};

}  // namespace sigtrove::engine

#endif
