// Decoded FLAC samples waiting to be handed out as WFDB frames. libFLAC
// delivers a block of samples per channel at a time; frames take spf samples
// of each channel in turn, so a frame may straddle two blocks.
#ifndef SIGTROVE_ENGINE_FLAC_CHANNEL_STAGE_H
#define SIGTROVE_ENGINE_FLAC_CHANNEL_STAGE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace sigtrove::engine {

class FlacChannelStage {
public:
    // One row per channel, each long enough for `row_length` samples; allocates.
    void reset(std::size_t channels, std::size_t row_length) {
        rows_.assign(channels * row_length, 0);
        channels_ = channels;
        row_length_ = row_length;
        clear();
    }
    void clear() { begin_ = end_ = 0; }
    std::size_t unread() const { return end_ - begin_; }

    // Appends `n` samples of each channel; allocates only when a block is larger
    // than any before (a row then grows to hold it).
    void append(const std::int32_t *const channels[], std::size_t n) {
        make_room(n);
        for (std::size_t c = 0; c < channels_; ++c) std::memcpy(row(c) + end_, channels[c], n * sizeof(std::int32_t));
        end_ += n;
    }

    // Moves `frames` frames to `out`: per frame, spf samples of channel 0, then of channel 1...
    void take_frames(std::int32_t *out, std::size_t frames, std::size_t spf) {
        for (std::size_t f = 0; f < frames; ++f) {
            const std::size_t from = begin_ + f * spf;
            for (std::size_t c = 0; c < channels_; ++c, out += spf)
                std::memcpy(out, row(c) + from, spf * sizeof(std::int32_t));
        }
        begin_ += frames * spf;
        if (begin_ == end_) clear();
    }

private:
    std::int32_t *row(std::size_t channel) { return rows_.data() + channel * row_length_; }

    void make_room(std::size_t n) {
        if (end_ + n <= row_length_) return;
        const std::size_t kept = unread();
        if (kept + n > row_length_) {
            const std::size_t length = std::max(kept + n, 2 * row_length_);
            std::vector<std::int32_t> grown(channels_ * length);
            for (std::size_t c = 0; c < channels_; ++c)
                std::memcpy(grown.data() + c * length, row(c) + begin_, kept * sizeof(std::int32_t));
            rows_.swap(grown);
            row_length_ = length;
        } else {
            for (std::size_t c = 0; c < channels_; ++c)
                std::memmove(row(c), row(c) + begin_, kept * sizeof(std::int32_t));
        }
        begin_ = 0;
        end_ = kept;
    }

    std::vector<std::int32_t> rows_;
    std::size_t channels_ = 0, row_length_ = 0;
    std::size_t begin_ = 0, end_ = 0;  // unread samples of each row: [begin_, end_)
};

}  // namespace sigtrove::engine

#endif
