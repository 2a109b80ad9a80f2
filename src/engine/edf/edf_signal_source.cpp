#include "edf/edf_signal_source.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "edf/annotation_lists.h"
#include "edf/edf_layout.h"
#include "errors/error_state.h"
#include "io/signal_file_handle.h"
#include "network/remote_file.h"
#include "paths/path_search.h"

namespace sigtrove::engine {
namespace {

// What one read of the file takes at most: a few hundred kilobytes keep the
// decoded frames in the processor's caches while the sink takes them.
constexpr std::int64_t kChunkBytes = 256 << 10;
// Time stamps of data records looked up out of order, kept for later lookups.
constexpr std::size_t kMaxProbedOnsets = 1 << 16;

inline std::int32_t le16(const std::uint8_t *p) { return static_cast<std::int16_t>(p[0] | (p[1] << 8)); }
inline std::int32_t le24(const std::uint8_t *p) {
    std::int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
    return (v ^ 0x800000) - 0x800000;
}

// Spreads one signal's block of a data record over the frames: sample m goes to
// frame m / spf, place m % spf of the signal's columns.
template <int Bytes>
void spread(const std::uint8_t *src, std::int64_t frames, std::size_t spf, std::int32_t *dst, std::size_t frame_size) {
    auto decode = [](const std::uint8_t *p) { return Bytes == 2 ? le16(p) : le24(p); };
    if (spf == 1) {
        for (std::int64_t k = 0; k < frames; ++k)
            dst[static_cast<std::size_t>(k) * frame_size] = decode(src + k * Bytes);
        return;
    }
    for (std::int64_t k = 0; k < frames; ++k) {
        std::int32_t *row = dst + static_cast<std::size_t>(k) * frame_size;
        const std::uint8_t *in = src + static_cast<std::size_t>(k) * spf * Bytes;
        for (std::size_t j = 0; j < spf; ++j) row[j] = decode(in + j * Bytes);
    }
}

class EdfSignalSource final : public SignalSource {
public:
    EdfSignalSource(std::shared_ptr<const EdfLayout> layout, std::shared_ptr<SignalFileHandle> file, long claimed,
                    int first_signal, int first_group, std::string record)
        : layout_(std::move(layout)),
          file_(std::move(file)),
          record_(std::move(record)),
          g_(layout_->frames_per_record),
          claimed_(claimed),
          first_signal_(first_signal),
          first_group_(first_group) {
        for (const EdfSignalBlock &b : layout_->data) {
            spf_.push_back(static_cast<int>(b.samples / g_));
            column_.push_back(frame_size_);
            frame_size_ += static_cast<std::size_t>(spf_.back());
        }
        chunk_records_ = std::max<std::int64_t>(1, kChunkBytes / std::max<std::int64_t>(layout_->record_bytes, 1));
    }

    const std::vector<int> &samples_per_frame() const override { return spf_; }

    FrameStatus next_frame(WFDB_Sample *out) override {
        const std::int64_t n = next_;
        window_start_ = false;
        Place place = locate(n);
        if (place.kind == Place::gap) {
            std::fill(out, out + frame_size_, WFDB_INVALID_SAMPLE);
            gap_ = true;
            ++next_;
            return frame_delivered;
        }
        if (place.kind == Place::data && !hold(place.record, chunk_records_)) place.kind = Place::end;
        if (place.kind != Place::data) return place.kind == Place::end ? end_status(n) : frame_error;
        const std::int32_t *row = row_of(place.record, n);
        std::copy(row, row + frame_size_, out);
        gap_ = false;
        ++next_;
        return frame_delivered;
    }

    BulkOutcome read_bulk(const std::vector<std::size_t> &chosen, long long frames, FrameSink &sink) override {
        BulkOutcome outcome;
        blocks_.resize(chosen.size());
        // A read that starts a window reads the data records it needs; one that goes on reads whole chunks.
        const bool window = window_start_;
        window_start_ = false;
        while (outcome.frames < frames) {
            const std::int64_t n = next_;
            const std::int64_t remaining = frames - outcome.frames;
            Place place = locate(n);
            if (place.kind == Place::gap) {
                std::int64_t k = std::min(remaining, place.until - n);
                for (std::size_t c = 0; c < chosen.size(); ++c)
                    blocks_[c] = ColumnBlock{nullptr, 0, spf_[chosen[c]], false};
                put(sink, outcome, k);
                continue;
            }
            if (place.kind == Place::data) {
                std::int64_t wanted =
                    window ? (n - start_of_known(place.record) + remaining + g_ - 1) / g_ : chunk_records_;
                if (!hold(place.record, std::clamp<std::int64_t>(wanted, 1, chunk_records_))) place.kind = Place::end;
            }
            if (place.kind != Place::data) {
                outcome.stop = place.kind == Place::end ? end_status(n) : frame_error;
                return outcome;
            }
            // The frames from n on that lie side by side in the window: data records that follow without a gap.
            std::int64_t r = place.record;
            std::int64_t end = window_start(r) + g_;
            while (r + 1 < window_first_ + window_count_ && window_start(r + 1) == end) end = window_start(++r) + g_;
            const std::int32_t *row = row_of(place.record, n);
            for (std::size_t c = 0; c < chosen.size(); ++c) {
                std::size_t s = chosen[c];
                blocks_[c] = ColumnBlock{row + column_[s], frame_size_, spf_[s], false};
            }
            put(sink, outcome, std::min(remaining, end - n));
        }
        return outcome;
    }

    long long position() const override { return next_; }

    long long stored_frames() override {
        const std::int64_t stored = layout_->stored_records;
        if (stored < 0) return -1;
        if (stored == 0) return 0;
        return layout_->discontinuous ? layout_->last_record_frame + g_ : stored * g_;
    }

    int seek(long long frame, bool inside_frame) override {
        long long stored = stored_frames();
        if (frame < 0 || (stored >= 0 && (frame > stored || (inside_frame && frame >= stored)))) {
            record_error("isigsettime: improper seek on signal group %d\n", first_group_);
            return -1;
        }
        next_ = frame;
        window_start_ = true;
        return 0;
    }

    bool last_frame_in_gap() const override { return gap_; }

private:
    struct Place {
        enum Kind { data, gap, end, error } kind = end;
        std::int64_t record = 0;  // data: the data record holding the frame
        std::int64_t until = 0;   // gap: the frame at which the next data record begins
    };

    void put(FrameSink &sink, BulkOutcome &outcome, std::int64_t k) {
        sink.put(static_cast<std::size_t>(outcome.frames), static_cast<std::size_t>(k), blocks_.data());
        next_ += k;
        outcome.frames += k;
    }

    // Where frame n is: in which data record, in a gap, or past the end of the data.
    Place locate(std::int64_t n) {
        const std::int64_t stored = file_end_ >= 0 ? file_end_ : layout_->stored_records;
        if (!layout_->discontinuous) {
            std::int64_t r = n / g_;
            if (stored >= 0 && r >= stored) return Place{Place::end};
            return Place{Place::data, r};
        }
        if (stored <= 0) return Place{Place::end};
        // Reading on: the frame is in the window, or in the gap after it, or in the next data record.
        std::int64_t r = -1;
        if (window_count_ > 0 && n >= window_start(window_first_)) {
            std::int64_t last = window_first_ + window_count_ - 1;
            if (n < window_start(last) + g_) {
                auto at = std::upper_bound(window_starts_.begin(), window_starts_.begin() + window_count_, n);
                r = window_first_ + (at - window_starts_.begin()) - 1;
            } else if (last + 1 >= stored) {
                r = last;
            } else {
                std::optional<std::int64_t> next = start_of(last + 1);
                if (!next) return Place{Place::error};
                r = n < *next ? last : last + 1;
                if (n >= *next + g_) r = -1;
            }
        }
        if (r < 0 && !search(n, stored, r)) return Place{Place::error};
        std::optional<std::int64_t> start = start_of(r);
        if (!start) return Place{Place::error};
        // A data record found by its time stamp must begin after the one before it ends (the window's
        // own data records were checked as they were read).
        if (r > 0 && !(r > window_first_ && r < window_first_ + window_count_)) {
            std::optional<std::int64_t> before = start_of(r - 1);
            if (!before) return Place{Place::error};
            if (*start < *before + g_) return overlap(r);
        }
        if (n < *start + g_) return Place{Place::data, r};
        if (r + 1 >= stored) return Place{Place::end};
        std::optional<std::int64_t> next = start_of(r + 1);
        if (!next) return Place{Place::error};
        if (*next < *start + g_) return overlap(r + 1);
        return Place{Place::gap, r, *next};
    }

    // The last data record that begins at or before frame n, by the time stamps of a few.
    bool search(std::int64_t n, std::int64_t stored, std::int64_t &out) {
        std::int64_t lo = 0, hi = stored - 1;  // data record 0 begins at frame 0 <= n
        while (lo < hi) {
            std::int64_t mid = lo + (hi - lo + 1) / 2;
            std::optional<std::int64_t> start = start_of(mid);
            if (!start) return false;
            if (*start <= n)
                lo = mid;
            else
                hi = mid - 1;
        }
        out = lo;
        return true;
    }

    Place overlap(std::int64_t r) {
        record_error("getvec: data record %lld of %s begins before data record %lld ends\n", static_cast<long long>(r),
                     record_.c_str(), static_cast<long long>(r - 1));
        failed_ = true;
        return Place{Place::error};
    }

    std::int64_t window_start(std::int64_t r) const {
        return layout_->discontinuous ? window_starts_[static_cast<std::size_t>(r - window_first_)] : r * g_;
    }
    // The first frame of a data record that locate has just found.
    std::int64_t start_of_known(std::int64_t r) { return start_of(r).value_or(0); }

    // The frame at which data record r begins; none (with a text) when its time stamp can not be read.
    std::optional<std::int64_t> start_of(std::int64_t r) {
        if (!layout_->discontinuous) return r * g_;
        if (r == 0) return 0;
        if (r >= window_first_ && r < window_first_ + window_count_) return window_start(r);
        if (auto known = probed_.find(r); known != probed_.end()) return known->second;
        const EdfSignalBlock &a = layout_->annotations.front();
        stamp_.resize(static_cast<std::size_t>(a.samples * layout_->sample_bytes));
        long long got = file_->read_fully(stamp_.data(), stamp_.size(), layout_->record_offset(r) + a.offset);
        if (got < 0) return read_failure(r);
        std::optional<std::int64_t> start = start_from_stamp(r, stamp_.data(), static_cast<std::size_t>(got));
        if (start) {
            if (probed_.size() >= kMaxProbedOnsets) probed_.clear();
            probed_.emplace(r, *start);
        }
        return start;
    }

    std::optional<std::int64_t> start_from_stamp(std::int64_t r, const std::uint8_t *bytes, std::size_t size) {
        std::string error;
        std::optional<DecimalSeconds> onset = data_record_onset(bytes, size, error);
        if (!onset) {
            record_error("getvec: %s has no time stamp in data record %lld: %s\n", record_.c_str(),
                         static_cast<long long>(r), error.c_str());
            failed_ = true;
            return std::nullopt;
        }
        return nearest_frame(*onset, layout_->first_onset, layout_->frame_rate);
    }

    std::optional<std::int64_t> read_failure(std::int64_t r) {
        if (!file_->failure().empty()) note_remote_failure();
        std::string reason = file_->failure();
        record_error("getvec: can't read data record %lld of %s%s\n", static_cast<long long>(r), record_.c_str(),
                     reason.empty() ? "" : (" (" + reason + ")").c_str());
        failed_ = true;
        return std::nullopt;
    }

    // Makes data record r part of the window, reading up to `count` data records
    // from it when it is not; false at the end of the file or when reading fails.
    bool hold(std::int64_t r, std::int64_t count) {
        if (r >= window_first_ && r < window_first_ + window_count_) return true;
        const std::int64_t stored = file_end_ >= 0 ? file_end_ : layout_->stored_records;
        if (stored >= 0) count = std::min(count, stored - r);
        if (count <= 0) return false;
        const auto bytes = static_cast<std::size_t>(count * layout_->record_bytes);
        raw_.resize(bytes);
        file_->expect(layout_->record_offset(r), static_cast<long long>(bytes));
        long long got = file_->read_fully(raw_.data(), bytes, layout_->record_offset(r));
        if (got < 0) {
            window_count_ = 0;
            read_failure(r);
            return false;
        }
        const std::int64_t whole = got / layout_->record_bytes;
        if (whole < count) file_end_ = r + whole;  // the file is shorter than its size said
        window_count_ = 0;
        if (whole == 0) return false;
        rows_.resize(static_cast<std::size_t>(whole * g_) * frame_size_);
        window_starts_.resize(static_cast<std::size_t>(whole));
        std::int64_t held = whole;
        for (std::int64_t k = 0; k < whole; ++k) {
            const std::uint8_t *record = raw_.data() + k * layout_->record_bytes;
            if (layout_->discontinuous) {
                // A data record without a usable time stamp, or one that overlaps the one before, ends the
                // window there: reading reaches it by locate, which says what is wrong with it.
                const EdfSignalBlock &a = layout_->annotations.front();
                const auto size = static_cast<std::size_t>(a.samples * layout_->sample_bytes);
                std::optional<std::int64_t> start = 0;
                if (r + k > 0) {
                    std::string error;
                    std::optional<DecimalSeconds> onset = data_record_onset(record + a.offset, size, error);
                    if (onset)
                        start = nearest_frame(*onset, layout_->first_onset, layout_->frame_rate);
                    else
                        start.reset();
                }
                if (k == 0 && !start) start = start_from_stamp(r, record + a.offset, size);  // says why
                if (!start) return false;
                if (k > 0 && (!start || *start < window_starts_[static_cast<std::size_t>(k - 1)] + g_)) {
                    held = k;
                    break;
                }
                window_starts_[static_cast<std::size_t>(k)] = *start;
            }
            decode(record, rows_.data() + static_cast<std::size_t>(k * g_) * frame_size_);
        }
        window_first_ = r;
        window_count_ = held;
        window_starts_.resize(static_cast<std::size_t>(held));
        return true;
    }

    void decode(const std::uint8_t *record, std::int32_t *rows) const {
        for (std::size_t i = 0; i < spf_.size(); ++i) {
            const std::uint8_t *src = record + layout_->data[i].offset;
            const auto spf = static_cast<std::size_t>(spf_[i]);
            if (layout_->sample_bytes == 2)
                spread<2>(src, g_, spf, rows + column_[i], frame_size_);
            else
                spread<3>(src, g_, spf, rows + column_[i], frame_size_);
        }
    }

    const std::int32_t *row_of(std::int64_t r, std::int64_t n) const {
        std::int64_t row = (r - window_first_) * g_ + (n - window_start(r));
        return rows_.data() + static_cast<std::size_t>(row) * frame_size_;
    }

    // Why frame n can not be read: a failure, the data ending before the header's length, or the end.
    FrameStatus end_status(std::int64_t n) {
        if (failed_) return frame_error;
        if (n < claimed_) {
            record_error("getvec: unexpected EOF in signal %d\n", first_signal_);
            return frame_error;
        }
        return frame_end;
    }

    std::shared_ptr<const EdfLayout> layout_;
    std::shared_ptr<SignalFileHandle> file_;
    std::string record_;
    std::int64_t g_;  // frames per data record
    long claimed_;    // the record's length as the header says, 0 when unknown
    int first_signal_, first_group_;
    std::vector<int> spf_;
    std::vector<std::size_t> column_;  // each signal's first place in a frame
    std::size_t frame_size_ = 0;
    std::int64_t chunk_records_ = 1;
    std::vector<std::uint8_t> raw_, stamp_;
    std::vector<std::int32_t> rows_;  // the window's frames, data record after data record
    std::int64_t window_first_ = 0, window_count_ = 0;
    std::vector<std::int64_t> window_starts_;  // EDF+D: the frame each window data record begins at
    std::map<std::int64_t, std::int64_t> probed_;
    std::int64_t file_end_ = -1;  // where the file was found to end, in data records (-1: as its size said)
    std::vector<ColumnBlock> blocks_;
    std::int64_t next_ = 0;
    bool window_start_ = true;
    bool gap_ = false;
    bool failed_ = false;
};

}  // namespace

SourceOpening open_edf_source(const Header &header, int room, int first_signal, int first_group,
                              const std::string &record) {
    SourceOpening result;
    const std::shared_ptr<const EdfLayout> &layout = header.edf;
    if (!layout || header.signals.empty() || static_cast<int>(header.signals.size()) > room) return result;
    if (layout->discontinuous && layout->stored_records < 0) {
        record_error("isigopen: the size of EDF+D file %s can not be told, so its data records can not be placed\n",
                     record.c_str());
        return result;
    }
    std::shared_ptr<SignalFileHandle> file;
    if (is_url(layout->file)) {
        RemoteOpening opening = open_remote_file(layout->file, RemoteAccess::anywhere);
        if (!opening.source) {
            if (!opening.failure.empty()) note_remote_failure();
            record_error("isigopen: can't open signal file %s of record %s%s\n", layout->file.c_str(), record.c_str(),
                         opening.failure.empty() ? "" : (" (" + opening.failure + ")").c_str());
            result.status = opening.failure.empty() ? 0 : -3;
            return result;
        }
        file = std::make_shared<SignalFileHandle>(std::move(opening.source));
    } else {
        file = std::make_shared<SignalFileHandle>(layout->file);
        if (!file->open()) {
            record_error("isigopen: can't open signal file %s of record %s\n", layout->file.c_str(), record.c_str());
            return result;
        }
    }
    for (std::size_t i = 0; i < header.signals.size(); ++i) {
        result.opened.push_back(i);
        result.group_of_opened.push_back(first_group);
    }
    result.source =
        std::make_unique<EdfSignalSource>(layout, std::move(file), header.nsamp, first_signal, first_group, record);
    return result;
}

}  // namespace sigtrove::engine
