// Turns a signal file's sample stream (stored values, signal after signal in
// every frame) into the bytes of an uncompressed format. The bit-packed formats
// pack the stream across signals and frames; a unit left incomplete at the end
// of the file is written short, as the field's writer writes it.
#ifndef SIGTROVE_ENGINE_SAMPLE_ENCODER_H
#define SIGTROVE_ENGINE_SAMPLE_ENCODER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sigtrove::engine {

class SampleEncoder {
public:
    // FORMAT is one of 8, 16, 24, 32, 61, 80, 160, 212, 310, 311.
    explicit SampleEncoder(int format);

    // Appends the bytes of COUNT values to OUT. Values are the stored ones: an
    // invalid sample already as its format's code, format 8 as its steps.
    void encode(const std::int32_t *values, std::size_t count, std::vector<std::uint8_t> &out);

    // Appends what is left of a last, incomplete packing unit.
    void finish(std::vector<std::uint8_t> &out);

private:
    int format_;
    int unit_;  // samples per packing unit
    std::int32_t held_[3] = {};
    int held_count_ = 0;
};

}  // namespace sigtrove::engine

#endif
