// Reads a group's sample stream from a file of an uncompressed format, a
// block at a time, decoding whole packing units straight into the caller's
// frame buffer.
#include "formats/uncompressed_group_reader.h"

#include <algorithm>
#include <climits>

#include "errors/error_state.h"
#include "io/signal_file.h"

namespace sigtrove::engine {
namespace {

class StreamGroupReader final : public GroupReader {
public:
    StreamGroupReader(const GroupLayout &layout, const SampleFormat &format, std::shared_ptr<SignalFileHandle> file)
        : format_(format),
          file_(std::move(file), signal_file_block_size(layout.group_count)),
          offset_(std::max(0L, layout.offset)),
          frame_size_(layout.frame_size),
          first_signal_(layout.first_signal) {
        // A file too short to reach the offset simply holds no frames.
        file_.seek(offset_);
    }

    long long read_frames(std::int32_t *dest, std::size_t max_frames) override {
        std::size_t got = read_samples(dest, max_frames * frame_size_);
        if (file_.failed()) {
            std::string reason = file_.failure_suffix();
            if (!reason.empty()) note_remote_failure();
            record_error("getvec: can't read the file of signal %d%s\n", first_signal_, reason.c_str());
            return -1;
        }
        // A partial frame at the end of the file is dropped with the rest of the file.
        return static_cast<long long>(got / frame_size_);
    }

    SeekOutcome seek_frame(long long frame) override {
        long long count = frame_count();
        if (frame < 0 || (count >= 0 && frame > count)) {
            carry_pos_ = carry_len_ = 0;
            file_.seek(std::max(file_.size(), 0LL));
            return SeekOutcome::past_end;
        }
        // Seek to the packing unit that holds the frame's first sample, then skip into it.
        __int128 sample = static_cast<__int128>(frame) * static_cast<__int128>(frame_size_);
        __int128 byte = offset_ + sample / format_.samples_per_unit * format_.bytes_per_unit;
        if (byte > LLONG_MAX || !file_.seek(static_cast<long long>(byte))) return SeekOutcome::failed;
        carry_pos_ = carry_len_ = 0;
        auto skip = static_cast<std::size_t>(sample % format_.samples_per_unit);
        if (skip > 0) {
            load_carry();
            if (file_.failed()) return SeekOutcome::failed;
            carry_pos_ = std::min(skip, carry_len_);
        }
        return SeekOutcome::ok;
    }

    void expect_frames(long long frames) override {
        if (frames <= 0) return;
        // Whole packing units for the samples, and one more for a frame that straddles a unit.
        __int128 units =
            (static_cast<__int128>(frames) * static_cast<__int128>(frame_size_) + format_.samples_per_unit - 1) /
                format_.samples_per_unit +
            1;
        __int128 bytes = units * format_.bytes_per_unit;
        if (bytes <= LLONG_MAX) file_.expect(static_cast<long long>(bytes));
    }

    long long frame_count() override {
        long long size = file_.size();
        if (size < 0) return -1;
        return samples_in_bytes(format_, size - offset_) / static_cast<long long>(frame_size_);
    }

private:
    // Fills dest with up to `wanted` samples; fewer only at the end of the file or on a read error.
    std::size_t read_samples(std::int32_t *dest, std::size_t wanted) {
        const auto unit_bytes = static_cast<std::size_t>(format_.bytes_per_unit);
        const auto unit_samples = static_cast<std::size_t>(format_.samples_per_unit);
        std::size_t got = 0;
        while (got < wanted) {
            if (carry_pos_ < carry_len_) {
                std::size_t n = std::min(carry_len_ - carry_pos_, wanted - got);
                std::copy_n(carry_ + carry_pos_, n, dest + got);
                carry_pos_ += n;
                got += n;
                continue;
            }
            std::size_t whole_units = (wanted - got) / unit_samples;
            std::size_t available = file_.fill(unit_bytes);
            if (whole_units > 0 && available >= unit_bytes) {
                std::size_t units = std::min(whole_units, available / unit_bytes);
                format_.decode(file_.data(), units, dest + got);
                file_.consume(units * unit_bytes);
                got += units * unit_samples;
                continue;
            }
            // The request ends inside a unit, or the file ends inside one.
            if (!load_carry()) break;
        }
        return got;
    }

    // Decodes the next unit (or the partial unit the file ends with) into carry_.
    bool load_carry() {
        const auto unit_bytes = static_cast<std::size_t>(format_.bytes_per_unit);
        std::size_t available = file_.fill(unit_bytes);
        carry_pos_ = 0;
        if (available >= unit_bytes) {
            format_.decode(file_.data(), 1, carry_);
            carry_len_ = static_cast<std::size_t>(format_.samples_per_unit);
            file_.consume(unit_bytes);
        } else {
            carry_len_ = format_.decode_partial(file_.data(), available, carry_);
            file_.consume(available);
        }
        return carry_len_ > 0;
    }

    const SampleFormat &format_;
    SignalFile file_;
    long long offset_;
    std::size_t frame_size_;
    int first_signal_;
    std::int32_t carry_[3] = {};  // decoded samples of a unit that straddles a request
    std::size_t carry_pos_ = 0, carry_len_ = 0;
};

}  // namespace

std::unique_ptr<GroupReader> open_stream_group_reader(const GroupLayout &layout, const SampleFormat &format,
                                                      std::shared_ptr<SignalFileHandle> file) {
    return std::make_unique<StreamGroupReader>(layout, format, std::move(file));
}

std::unique_ptr<GroupReader> open_uncompressed_group_reader(const GroupLayout &layout,
                                                            std::shared_ptr<SignalFileHandle> file) {
    const SampleFormat *format = uncompressed_format(layout.fmt);
    if (!format || layout.frame_size == 0) return nullptr;
    if (format->code == 0) return open_null_group_reader(layout);
    if (!file) return nullptr;
    auto reader = open_stream_group_reader(layout, *format, std::move(file));
    if (format->code == 8) return open_difference_group_reader(layout, std::move(reader));
    return reader;
}

}  // namespace sigtrove::engine
