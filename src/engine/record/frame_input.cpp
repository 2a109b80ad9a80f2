#include "record/frame_input.h"

#include <algorithm>
#include <optional>
#include <string>

#include "errors/error_state.h"
#include "signals/array_sink.h"

namespace sigtrove::engine {
namespace {

FrameStatus worse(FrameStatus a, FrameStatus b) {
    auto rank = [](FrameStatus s) { return s == frame_error ? 3 : s == frame_end ? 2 : s == frame_checksum_error; };
    return rank(a) >= rank(b) ? a : b;
}

}  // namespace

void FrameInput::set_mode(int mode) {
    settle_position();
    mode_chosen_ = true;
    high_mode_ = (mode & WFDB_HIGHRES) != 0;
    pad_ = (mode & WFDB_GVPAD) != 0;
    choose_path();
}

void FrameInput::choose_path() {
    direct_ = records_.size() == 1 && layout_.all_single && !pad_ && !high_resolution() ? records_[0].get() : nullptr;
}

void FrameInput::close() {
    // Buffers are given back, not only emptied, and before the records: a record's
    // destruction returns what was freed to the system (see Record::~Record).
    record_offset_ = std::vector<std::size_t>();
    layout_.clear();
    frame_ = std::vector<WFDB_Sample>();
    last_valid_ = std::vector<WFDB_Sample>();
    records_.clear();
    group_count_ = 0;
    counts_vary_ = false;
    frame_index_ = 0;
    sub_ = 0;
    frame_loaded_ = false;
    direct_ = nullptr;
}

void FrameInput::reset() {
    close();
    ever_opened_ = false;
    mode_chosen_ = false;
    pad_ = false;
    high_mode_ = false;
}

void FrameInput::add(std::unique_ptr<Record> record) {
    settle_position();
    record_offset_.push_back(layout_.size);
    const Header &header = record->header();
    for (std::size_t i = 0; i < record->opened().size(); ++i) {
        layout_.add_signal(record->samples_per_frame()[i]);
        last_valid_.push_back(header.signals[record->opened()[i]].initval);
    }
    frame_.resize(layout_.size);
    group_count_ = std::max(group_count_, record->group_of_opened().back() + 1);
    counts_vary_ = counts_vary_ || header.multi_segment;
    records_.push_back(std::move(record));
    ever_opened_ = true;
    choose_path();
}

// Reads the next frame of every record into frame_.
FrameStatus FrameInput::read_frame() {
    FrameStatus status = frame_delivered;
    for (std::size_t i = 0; i < records_.size(); ++i)
        status = worse(status, records_[i]->next_frame(frame_.data() + record_offset_[i]));
    if (pad_ && (status == frame_delivered || status == frame_checksum_error))
        pad_invalid_samples(layout_, frame_.data(), last_valid_);
    return status;
}

// The signal count getvec reports for a delivered frame when a multi-segment record is open.
int FrameInput::reported_signal_count() const {
    int count = 0;
    for (const auto &record : records_) count += record->reported_signal_count();
    return count;
}

int FrameInput::next(WFDB_Sample *vector) {
    int n = signal_count();
    if (n == 0) return ever_opened_ ? -1 : 0;
    FrameStatus status;
    if (direct_) {
        status = direct_->next_frame(vector);
        count_frame();
    } else if (!high_resolution()) {
        status = read_frame();
        count_frame();  // even when the read fails, as the reference counts calls
        if (status == frame_delivered || status == frame_checksum_error)
            low_resolution_vector(layout_, frame_.data(), vector);
    } else {
        if (!frame_loaded_) {
            loaded_status_ = read_frame();
            frame_loaded_ = true;
        }
        status = loaded_status_;
        if (status == frame_delivered || status == frame_checksum_error)
            high_resolution_vector(layout_, frame_.data(), sub_, vector);
        if (++sub_ == layout_.spf_max) {
            sub_ = 0;
            frame_loaded_ = false;
            count_frame();
        }
    }
    if (status == frame_end || status == frame_error) {
        // A frame that can not be delivered leaves no stale values behind.
        std::fill_n(vector, n, WFDB_INVALID_SAMPLE);
        return status;
    }
    if (status != frame_delivered) return status;
    return counts_vary_ ? reported_signal_count() : n;
}

int FrameInput::seek(WFDB_Time t, bool always) {
    if (signal_count() == 0 || (t == position() && !always)) return 0;
    if (t == LONG_MIN) {
        record_error("isigsettime: improper seek on signal group %d\n", 0);
        return -1;
    }
    long long target = t < 0 ? -static_cast<long long>(t) : t;
    bool high = high_resolution();
    long long frame = high ? target / layout_.spf_max : target;
    int sub = high ? static_cast<int>(target % layout_.spf_max) : 0;
    int result = 0;
    for (auto &record : records_)
        if (record->seek(frame, sub > 0) < 0) result = -1;
    frame_index_ = frame;
    sub_ = sub;
    frame_loaded_ = false;
    return result;
}

// Whether a run of getvec calls can be read as one bulk read: one single-segment
// record in low resolution without padding, where getvec's frames are exactly the
// record's frames (a multi-segment record's getvec passes over unreadable frames
// one call at a time, which a bulk read does not).
bool FrameInput::reads_in_blocks() const {
    return records_.size() == 1 && !pad_ && !high_resolution() && !records_[0]->multi_segment() && !frame_loaded_;
}

namespace {

// Passes blocks on, noting which rows come without samples (a null block).
class InvalidRows final : public FrameSink {
public:
    InvalidRows(FrameSink &inner, unsigned char *invalid) : inner_(inner), invalid_(invalid) {}
    void put(std::size_t row, std::size_t frames, const ColumnBlock *columns) override {
        std::fill_n(invalid_ + row, frames, columns[0].first == nullptr ? 1 : 0);
        inner_.put(row, frames, columns);
    }

private:
    FrameSink &inner_;
    unsigned char *invalid_;
};

}  // namespace

SignalRun FrameInput::read_signal_in_blocks(int signal, long long count, WFDB_Sample *out, unsigned char *invalid) {
    static const std::vector<PhysicalScale> no_scales;
    std::unique_ptr<FrameSink> sink = make_array_sink(SampleType::int32, out, 1, SampleRate::frame, no_scales);
    std::vector<std::size_t> chosen{static_cast<std::size_t>(signal)};
    std::optional<InvalidRows> marking;
    if (invalid) marking.emplace(*sink, invalid);
    BulkOutcome outcome =
        records_[0]->source().read_bulk(chosen, count, marking ? static_cast<FrameSink &>(*marking) : *sink);
    SignalRun run{outcome.frames, 0};
    // getvec counts every call, the one that stops the run included.
    long long calls = outcome.frames + (outcome.stop != frame_delivered ? 1 : 0);
    for (long long i = 0; i < calls; ++i) count_frame();
    if (outcome.stop != frame_delivered) run.status = outcome.stop;
    return run;
}

SignalRun FrameInput::read_signal_by_frames(int signal, long long count, WFDB_Sample *out, unsigned char *invalid) {
    std::vector<WFDB_Sample> vector(static_cast<std::size_t>(std::max(signal_count(), 1)));
    SignalRun run;
    while (run.delivered < count) {
        int status = next(vector.data());
        if (status == frame_end || (status < 0 && status != frame_checksum_error)) {
            run.status = status;
            break;
        }
        if (status == 0) {  // nothing open
            run.status = -1;
            break;
        }
        if (invalid) {
            // Only one record's frames can lie in its gaps; records side by side have no gaps.
            const bool gap = records_.size() == 1 && records_[0]->source().last_frame_in_gap();
            invalid[run.delivered] = gap ? 1 : 0;
        }
        out[run.delivered++] = vector[static_cast<std::size_t>(signal)];
    }
    return run;
}

SignalRun FrameInput::read_signal(int signal, long long count, WFDB_Sample *out, unsigned char *invalid) {
    if (signal < 0 || signal >= signal_count() || count <= 0) return SignalRun{0, count > 0 ? -1 : 0};
    return reads_in_blocks() ? read_signal_in_blocks(signal, count, out, invalid)
                             : read_signal_by_frames(signal, count, out, invalid);
}

}  // namespace sigtrove::engine
