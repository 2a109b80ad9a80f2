// Format 8 stores first differences: each signal's sample is its previous
// sample plus a signed byte, starting from INITVAL at frame 0. A seek must
// therefore know the running values at the target frame; they are recomputed
// from the nearest checkpoint (the running values at every `interval_`-th
// frame, recorded the first time reading passes there), so a seek costs at
// most one block of reading and a window read after a seek equals the same
// window read from the start.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "formats/uncompressed_group_reader.h"

namespace sigtrove::engine {
namespace {

class DifferenceGroupReader final : public GroupReader {
public:
    DifferenceGroupReader(const GroupLayout &layout, std::unique_ptr<GroupReader> differences)
        : differences_(std::move(differences)), frame_size_(layout.frame_size) {
        for (std::size_t s = 0; s < layout.spf.size(); ++s)
            signal_of_column_.insert(signal_of_column_.end(), static_cast<std::size_t>(layout.spf[s]),
                                     static_cast<int>(s));
        for (int v : layout.initval) running_.push_back(static_cast<std::uint32_t>(v));
        // A checkpoint every 64 KiB of file: one block of reading at most after a seek.
        interval_ = std::max<long long>(1, 65536 / static_cast<long long>(frame_size_));
        checkpoints_.push_back(running_);
    }

    long long read_frames(std::int32_t *dest, std::size_t max_frames) override {
        long long got = differences_->read_frames(dest, max_frames);
        if (got > 0) accumulate(dest, got);
        return got;
    }

    SeekOutcome seek_frame(long long frame) override {
        long long count = differences_->frame_count();
        if (frame < 0 || (count >= 0 && frame > count)) return differences_->seek_frame(frame);
        auto nearest = std::min(static_cast<std::size_t>(frame / interval_), checkpoints_.size() - 1);
        long long start = static_cast<long long>(nearest) * interval_;
        SeekOutcome outcome = differences_->seek_frame(start);
        if (outcome != SeekOutcome::ok) return outcome;
        running_ = checkpoints_[nearest];
        next_frame_ = start;
        return skip_frames(frame - start);
    }

    long long frame_count() override { return differences_->frame_count(); }
    void expect_frames(long long frames) override { differences_->expect_frames(frames); }

private:
    // Reads and discards frames, which advances the running values (and records checkpoints).
    SeekOutcome skip_frames(long long frames) {
        if (frames > 0 && scratch_.empty()) scratch_.resize(static_cast<std::size_t>(interval_) * frame_size_);
        while (frames > 0) {
            auto chunk = static_cast<std::size_t>(std::min<long long>(frames, interval_));
            long long got = read_frames(scratch_.data(), chunk);
            if (got < 0) return SeekOutcome::failed;
            if (got == 0) return SeekOutcome::past_end;
            frames -= got;
        }
        return SeekOutcome::ok;
    }

    // Turns the differences of `frames` frames into running values, in place.
    void accumulate(std::int32_t *rows, long long frames) {
        for (long long f = 0; f < frames; ++f, ++next_frame_) {
            if (next_frame_ % interval_ == 0 && next_frame_ / interval_ == static_cast<long long>(checkpoints_.size()))
                checkpoints_.push_back(running_);
            std::int32_t *row = rows + static_cast<std::size_t>(f) * frame_size_;
            for (std::size_t c = 0; c < frame_size_; ++c) {
                // Unsigned arithmetic wraps like the reference's int does, without undefined behaviour.
                std::uint32_t &value = running_[static_cast<std::size_t>(signal_of_column_[c])];
                value += static_cast<std::uint32_t>(row[c]);
                row[c] = static_cast<std::int32_t>(value);
            }
        }
    }

    std::unique_ptr<GroupReader> differences_;
    std::size_t frame_size_;
    std::vector<int> signal_of_column_;
    std::vector<std::uint32_t> running_;
    std::vector<std::vector<std::uint32_t>> checkpoints_;  // running values at frames k * interval_
    long long interval_ = 1;
    long long next_frame_ = 0;  // the stored frame the next read starts at
    std::vector<std::int32_t> scratch_;
};

}  // namespace

std::unique_ptr<GroupReader> open_difference_group_reader(const GroupLayout &layout,
                                                          std::unique_ptr<GroupReader> differences) {
    return std::make_unique<DifferenceGroupReader>(layout, std::move(differences));
}

}  // namespace sigtrove::engine
