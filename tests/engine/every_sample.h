// Every sample of every opened signal of a record, signal by signal, as a bulk
// read delivers them: what the writer and copy tests compare with what they wrote.
#ifndef SIGTROVE_TESTS_EVERY_SAMPLE_H
#define SIGTROVE_TESTS_EVERY_SAMPLE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "record/record.h"
#include "signals/frame_sink.h"
#include "wfdb/wfdb.h"

namespace sigtrove::testing {

template <class Value>
using SignalSamples = std::vector<std::vector<Value>>;

// Appends each column's samples (spf per frame, WFDB_INVALID_SAMPLE where a
// block has none) to its own vector.
template <class Value>
class CollectingSink final : public engine::FrameSink {
public:
    explicit CollectingSink(SignalSamples<Value> &out) : out_(out) {}
    void put(std::size_t, std::size_t frames, const engine::ColumnBlock *columns) override {
        for (std::size_t c = 0; c < out_.size(); ++c)
            for (std::size_t k = 0; k < frames; ++k)
                for (int j = 0; j < columns[c].spf; ++j)
                    out_[c].push_back(columns[c].first ? columns[c].first[k * columns[c].stride + j]
                                                       : WFDB_INVALID_SAMPLE);
    }

private:
    SignalSamples<Value> &out_;
};

// Reads frames [0, frames) of every opened signal of `record` into `samples`
// (one vector per signal, replacing what they held).
template <class Value>
engine::Status read_every_sample(engine::Record &record, long long frames, SignalSamples<Value> &samples,
                                 engine::BulkOutcome &outcome) {
    samples.assign(record.opened().size(), {});
    std::vector<std::size_t> all;
    for (std::size_t s = 0; s < samples.size(); ++s) all.push_back(s);
    CollectingSink<Value> sink(samples);
    return record.read(0, frames, all, sink, outcome);
}

}  // namespace sigtrove::testing

#endif
