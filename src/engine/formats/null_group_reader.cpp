// Format 0 groups have no file: every sample is invalid, for as many frames as
// the signals' length says (or without end when it is unknown).
#include <algorithm>
#include <climits>

#include "formats/uncompressed_group_reader.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

class NullGroupReader final : public GroupReader {
public:
    explicit NullGroupReader(const GroupLayout &layout) : frame_size_(layout.frame_size), limit_(layout.frame_limit) {}

    long long read_frames(std::int32_t *dest, std::size_t max_frames) override {
        auto frames = static_cast<long long>(max_frames);
        // Without a stated length the frames still end at the largest frame number.
        long long end = limit_ >= 0 ? limit_ : LLONG_MAX;
        frames = std::clamp(end - next_frame_, 0LL, frames);
        std::fill_n(dest, static_cast<std::size_t>(frames) * frame_size_, WFDB_INVALID_SAMPLE);
        next_frame_ += frames;
        return frames;
    }

    SeekOutcome seek_frame(long long frame) override {
        // As in the reference, a format 0 signal can not be positioned at its end, only before it.
        if (frame < 0 || (limit_ >= 0 && frame >= limit_)) {
            next_frame_ = std::max(limit_, 0LL);
            return SeekOutcome::past_end;
        }
        next_frame_ = frame;
        return SeekOutcome::ok;
    }

    long long frame_count() override { return limit_; }

private:
    std::size_t frame_size_;
    long long limit_;
    long long next_frame_ = 0;
};

}  // namespace

std::unique_ptr<GroupReader> open_null_group_reader(const GroupLayout &layout) {
    return std::make_unique<NullGroupReader>(layout);
}

}  // namespace sigtrove::engine
