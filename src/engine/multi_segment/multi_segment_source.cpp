#include "multi_segment/multi_segment_source.h"

#include <algorithm>
#include <climits>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "errors/error_state.h"
#include "multi_segment/segment_byte_ranges.h"
#include "multi_segment/segment_signal_map.h"
#include "network/prefetched_files.h"
#include "paths/search_location.h"
#include "record_header/record_header.h"
#include "signals/signal_source.h"

namespace sigtrove::engine {
namespace {

// Segments whose headers, then signal bytes, are asked for in one batch each by a read that crosses many.
constexpr std::size_t kPrefetchedSegments = 64;

// A segment named "~" has no files: its frames hold no valid sample.
bool is_null_segment(const SegmentSpec &segment) { return segment.name == "~"; }

// Inside a multi-segment record the master's segment length says how many
// frames a segment holds, and checksums are not verified: the segment's own
// lengths are dropped, except that a format 0 signal holds exactly the
// segment's frames.
void take_length_from_master(Header &segment, long length) {
    for (SignalSpec &s : segment.signals) {
        s.has_cksum = false;
        s.nsamp = s.fmt == 0 ? length : 0;
    }
}

// Passes a segment's blocks on as blocks of the record's signals: the chosen
// record signals the segment has come from their segment signals (rescaled from
// the segment's gain and baseline to the layout's where they differ), the others
// have no valid samples.
class MappedSink final : public FrameSink {
public:
    MappedSink(FrameSink &out, const SegmentSignalMap &map, const std::vector<std::size_t> &chosen,
               const std::vector<int> &spf, std::size_t row)
        : out_(out),
          map_(map),
          chosen_(chosen),
          spf_(spf),
          row_(row),
          blocks_(chosen.size()),
          rescaled_(chosen.size()) {}

    void put(std::size_t row, std::size_t frames, const ColumnBlock *segment_columns) override {
        std::size_t next_segment_column = 0;
        for (std::size_t c = 0; c < chosen_.size(); ++c) {
            const SegmentSignalMap::SignalOrigin &origin = map_.origins()[chosen_[c]];
            if (origin.segment_signal < 0) {
                blocks_[c] = ColumnBlock{nullptr, 0, spf_[chosen_[c]]};
                continue;
            }
            const ColumnBlock &in = segment_columns[next_segment_column++];
            blocks_[c] = in;
            if (!origin.rescaled) continue;
            // Each sample is rescaled before any averaging, as getvec does.
            std::vector<std::int32_t> &values = rescaled_[c];
            const auto spf = static_cast<std::size_t>(in.spf);
            values.resize(frames * spf);
            for (std::size_t k = 0; k < frames; ++k)
                for (std::size_t j = 0; j < spf; ++j) {
                    std::int32_t raw = in.first[k * in.stride + j];
                    values[k * spf + j] = raw == WFDB_INVALID_SAMPLE ? raw : origin.rescale.apply(raw);
                }
            blocks_[c] = ColumnBlock{values.data(), spf, in.spf};
        }
        out_.put(row_ + row, frames, blocks_.data());
    }

private:
    FrameSink &out_;
    const SegmentSignalMap &map_;
    const std::vector<std::size_t> &chosen_;
    const std::vector<int> &spf_;  // the record signals' samples per frame
    std::size_t row_;
    std::vector<ColumnBlock> blocks_;
    std::vector<std::vector<std::int32_t>> rescaled_;
};

class MultiSegmentSource final : public SignalSource {
public:
    MultiSegmentSource(const Header &master, std::size_t count, int first_signal, int first_group,
                       const SearchLocation &location)
        : segments_(master.segments),
          all_signals_(master.signals),
          signals_(master.signals.begin(), master.signals.begin() + static_cast<std::ptrdiff_t>(count)),
          variable_layout_(has_layout_segment(master)),
          first_signal_(first_signal),
          first_group_(first_group),
          location_(location) {
        for (const SignalSpec &s : signals_) {
            spf_.push_back(std::max(s.spf, 1));
            frame_size_ += static_cast<std::size_t>(spf_.back());
        }
        long long sum = segments_.back().start + segments_.back().nsamp;
        end_ = master.nsamp > 0 ? std::min<long long>(master.nsamp, sum) : sum;
    }

    const std::vector<int> &samples_per_frame() const override { return spf_; }

    // Never more than the signals being read: a caller may size its use of the vector by it.
    int reported_signal_count() const override {
        return std::min(segment_signal_count_, static_cast<int>(spf_.size()));
    }

    // A frame of a segment that can not be read (not opened, or its file ended
    // early) fails and is passed over, as getvec counts every call: reading on
    // reaches the next segment, and the position stays that of getvec.
    FrameStatus next_frame(WFDB_Sample *out) override {
        if (next_ >= segment_end_ || state_ != SegmentState::open) {
            FrameStatus reached = enter_segment_at(next_);
            if (reached == frame_error) ++next_;
            if (reached != frame_delivered) return reached;
        }
        FrameStatus status = read_segment_frame(out);
        if (status == frame_end) {
            record_error("getvec: unexpected EOF in segment %s\n", segments_[current_].name.c_str());
            ++next_;
            return frame_error;
        }
        // A read error inside an open segment keeps the position, as in any other record.
        if (status == frame_delivered) ++next_;
        return status;
    }

    BulkOutcome read_bulk(const std::vector<std::size_t> &chosen, long long frames, FrameSink &sink) override {
        read_ahead(next_, frames);
        BulkOutcome outcome;
        while (outcome.frames < frames) {
            if (next_ >= end_) {
                outcome.stop = frame_end;
                return outcome;
            }
            if (next_ >= segment_end_ || next_ < segment_begin_ || state_ == SegmentState::none) {
                // A read past the segments asked for ahead asks for the next batch.
                if (next_ >= read_ahead_until_) read_ahead(next_, frames - outcome.frames);
                enter_segment_at(next_);
            }
            const long long left = std::min(frames - outcome.frames, segment_end_ - next_);
            long long got = 0;
            if (state_ == SegmentState::open && segment_source_) got = read_segment_bulk(chosen, left, outcome, sink);
            if (got < left) {
                // Gaps, unreadable segments and segment data that end early read as invalid samples.
                if (state_ == SegmentState::open && segment_source_) {
                    record_error("getvec: unexpected EOF in segment %s\n", segments_[current_].name.c_str());
                    state_ = SegmentState::failed;
                }
                put_invalid(chosen, static_cast<std::size_t>(outcome.frames + got),
                            static_cast<std::size_t>(left - got), sink);
            }
            next_ += left;
            outcome.frames += left;
        }
        return outcome;
    }

    long long position() const override { return next_; }

    long long stored_frames() override { return end_; }

    // A bulk read passes over what can not be read, so any frame is a position:
    // the segment holding it is opened (and positioned) when reading reaches it.
    bool reposition(long long frame) override {
        next_ = frame;
        if (state_ == SegmentState::open && frame >= segment_begin_ && frame < segment_end_) {
            if (segment_source_ && segment_source_->seek(frame - segment_begin_, false) < 0)
                state_ = SegmentState::failed;
        } else {
            state_ = SegmentState::none;
        }
        return true;
    }

    int seek(long long frame, bool inside_frame) override {
        next_ = frame;
        if (frame >= end_) {
            record_error("isigsettime: improper seek on signal group %d\n", first_group_);
            return -1;
        }
        // A seek retries a segment that could not be opened: the fault may have been mended.
        std::size_t k = segment_index_of(frame);
        if (k != current_ || state_ != SegmentState::open) open_segment(k);
        if (state_ != SegmentState::open) {
            record_error("isigsettime: can't open segment %s\n", segments_[k].name.c_str());
            return -1;
        }
        return segment_source_ ? segment_source_->seek(frame - segment_begin_, inside_frame) : 0;
    }

private:
    enum class SegmentState { none, open, failed };

    // A read of a remote record asks for what the segments it crosses need in two
    // rounds, rather than two per segment: first the headers of all of them at
    // once, then, from those headers, the bytes of every crossed segment's signal
    // files that the read will take (whose answers also say that the files are
    // there, and their sizes). Each segment is then opened from what came, when
    // reading reaches it. A bounded batch of segments; reading goes on as usual past it.
    void read_ahead(long long from, long long frames) {
        read_ahead_until_ = end_;
        if (frames <= 0 || from >= end_ || from < 0) return;
        const long long to = frames > end_ - from ? end_ : from + frames;
        std::vector<std::size_t> crossed;
        std::vector<std::string> urls;
        std::size_t k = segment_index_of(from);
        for (; k < segments_.size() && segments_[k].start < to; ++k) {
            if (k == current_ && state_ != SegmentState::none) continue;
            if (is_null_segment(segments_[k]) || segments_[k].nsamp == 0) continue;
            std::string url = location_.remote_record_file(segments_[k].name, "hea");
            if (url.empty()) return;  // a local record
            crossed.push_back(k);
            if (!read_ahead_headers_.count(k)) urls.push_back(std::move(url));
            if (crossed.size() >= kPrefetchedSegments) {
                ++k;
                break;
            }
        }
        if (k < segments_.size()) read_ahead_until_ = segments_[k].start;
        if (crossed.empty()) return;
        prefetch_remote_files(urls);
        std::vector<WantedRange> ranges;
        for (std::size_t k : crossed) {
            auto kept = read_ahead_headers_.find(k);
            if (kept == read_ahead_headers_.end()) {
                Header header;
                {
                    // A header that can not be read is read again by the segment's open, which says why.
                    ErrorCapture quiet;
                    if (read_segment_header(segments_[k].name, location_, header) < 0) continue;
                }
                kept = read_ahead_headers_.emplace(k, std::move(header)).first;
            }
            const SegmentSpec &segment = segments_[k];
            const long long begin = segment.start;
            const long long first = std::max(from, begin) - begin;
            const long long last = std::min(to, begin + segment.nsamp) - begin;
            add_segment_byte_ranges(kept->second, first, last, location_, ranges);
        }
        prefetch_remote_ranges(ranges);
    }

    // The segment holding `frame` (< end_): the last one starting at or before
    // it, which skips the empty segments (the layout header) starting there too.
    std::size_t segment_index_of(long long frame) const {
        auto after = std::upper_bound(segments_.begin(), segments_.end(), frame,
                                      [](long long f, const SegmentSpec &s) { return f < s.start; });
        return static_cast<std::size_t>(after - segments_.begin()) - 1;
    }

    // Makes the segment holding `frame` the open one. Reading reaches a
    // segment at its first frame, where a freshly opened segment stands.
    FrameStatus enter_segment_at(long long frame) {
        if (frame >= end_) return frame_end;
        std::size_t k = segment_index_of(frame);
        // A segment that failed is not retried until a seek or an open: every read needing it fails alike.
        if (k != current_ || state_ == SegmentState::none) open_segment(k);
        // A segment entered in its middle (a bulk read's start) is positioned there first.
        if (state_ == SegmentState::open && segment_source_ && segment_source_->position() != frame - segment_begin_ &&
            segment_source_->seek(frame - segment_begin_, false) < 0)
            state_ = SegmentState::failed;
        if (state_ == SegmentState::open) return frame_delivered;
        record_error("getvec: error opening segment %s\n", segments_[k].name.c_str());
        return frame_error;
    }

    void open_segment(std::size_t k) {
        segment_source_.reset();
        map_.reset();
        current_ = k;
        const SegmentSpec &segment = segments_[k];
        segment_begin_ = segment.start;
        segment_end_ = std::min<long long>(segment.start + segment.nsamp, end_);
        state_ = SegmentState::failed;
        if (is_null_segment(segment)) {
            // The reference reports one signal for each frame of a null segment.
            segment_signal_count_ = 1;
            state_ = SegmentState::open;
            return;
        }
        Header header;
        if (auto kept = read_ahead_headers_.find(k); kept != read_ahead_headers_.end()) {
            header = std::move(kept->second);
            read_ahead_headers_.erase(kept);
        } else if (read_segment_header(segment.name, location_, header) < 0) {
            return;
        }
        if (header.signals.empty()) {
            record_error("getvec: segment %s has no signals\n", segment.name.c_str());
            return;
        }
        take_length_from_master(header, segment.nsamp);
        std::optional<SegmentSignalMap> map =
            SegmentSignalMap::build(signals_, all_signals_, header.signals, variable_layout_, segment.name);
        if (!map) return;
        SourceOpening opening =
            open_single_segment_source(header, INT_MAX, first_signal_, first_group_, segment.name, location_);
        // A signal file that is missing makes the segment unreadable, not shorter.
        if (!opening.source || opening.opened.size() != header.signals.size()) return;
        scratch_.assign(map->segment_frame_size(), 0);
        segment_source_ = std::move(opening.source);
        map_ = std::move(map);
        segment_signal_count_ = static_cast<int>(header.signals.size());
        state_ = SegmentState::open;
    }

    // Reads up to `frames` frames of the open segment into the sink, mapped to the
    // record's signals (rescaled in a variable layout); returns how many it read.
    long long read_segment_bulk(const std::vector<std::size_t> &chosen, long long frames, BulkOutcome &outcome,
                                FrameSink &sink) {
        segment_chosen_.clear();
        for (std::size_t signal : chosen) {
            std::ptrdiff_t from = map_->origins()[signal].segment_signal;
            if (from >= 0) segment_chosen_.push_back(static_cast<std::size_t>(from));
        }
        MappedSink mapped(sink, *map_, chosen, spf_, static_cast<std::size_t>(outcome.frames));
        BulkOutcome part = segment_source_->read_bulk(segment_chosen_, frames, mapped);
        outcome.checksum_mismatch = outcome.checksum_mismatch || part.checksum_mismatch;
        return part.frames;
    }

    void put_invalid(const std::vector<std::size_t> &chosen, std::size_t row, std::size_t frames, FrameSink &sink) {
        invalid_.assign(chosen.size(), ColumnBlock{});
        for (std::size_t c = 0; c < chosen.size(); ++c) invalid_[c].spf = spf_[chosen[c]];
        sink.put(row, frames, invalid_.data());
    }

    FrameStatus read_segment_frame(WFDB_Sample *out) {
        if (!segment_source_) {
            std::fill_n(out, frame_size_, WFDB_INVALID_SAMPLE);
            return frame_delivered;
        }
        const bool direct = map_->is_identity();
        FrameStatus status = segment_source_->next_frame(direct ? out : scratch_.data());
        if (status == frame_end || status == frame_error) return status;
        if (!direct) map_->apply(scratch_.data(), out);
        return frame_delivered;
    }

    const std::vector<SegmentSpec> segments_;
    const std::vector<SignalSpec> all_signals_;  // every signal the record presents
    const std::vector<SignalSpec> signals_;      // those being read
    const bool variable_layout_;
    const int first_signal_, first_group_;
    SearchLocation location_;  // where the record was opened: segments are looked up from there
    std::vector<int> spf_;
    std::size_t frame_size_ = 0;
    long long end_ = 0;  // frames in the record

    // The segment reading is in.
    static constexpr std::size_t kNoSegment = static_cast<std::size_t>(-1);
    std::size_t current_ = kNoSegment;
    SegmentState state_ = SegmentState::none;
    long long segment_begin_ = 0, segment_end_ = 0;
    std::unique_ptr<SignalSource> segment_source_;  // null in a null segment
    std::optional<SegmentSignalMap> map_;
    std::vector<WFDB_Sample> scratch_;  // a segment frame, when it needs mapping
    int segment_signal_count_ = 0;
    long long next_ = 0;                       // the next frame of the record
    std::vector<std::size_t> segment_chosen_;  // bulk reads: the segment signals behind the chosen ones
    std::vector<ColumnBlock> invalid_;         // bulk reads: columns of a block without valid samples
    // Headers of the segments a read crossed, read ahead of their opens; each is taken by its open.
    std::map<std::size_t, Header> read_ahead_headers_;
    long long read_ahead_until_ = 0;  // the first frame of the first segment past those asked for ahead
};

}  // namespace

bool has_layout_segment(const Header &master) {
    return !master.segments.empty() && master.segments[0].nsamp == 0 && !is_null_segment(master.segments[0]);
}

int present_segment_signals(Header &master, SearchLocation &location) {
    auto described = has_layout_segment(master)
                         ? master.segments.begin()
                         : std::find_if(master.segments.begin(), master.segments.end(),
                                        [](const SegmentSpec &s) { return !is_null_segment(s); });
    if (described == master.segments.end()) return 0;
    Header header;
    if (int rc = read_segment_header(described->name, location, header); rc < 0) return rc;
    master.signals = std::move(header.signals);
    for (SignalSpec &s : master.signals) s.nsamp = master.nsamp;
    return 0;
}

SourceOpening open_multi_segment_source(const Header &master, int room, int first_signal, int first_group,
                                        const std::string &record, const SearchLocation &location) {
    SourceOpening result;
    std::size_t count = std::min(master.signals.size(), static_cast<std::size_t>(std::max(room, 0)));
    if (count == 0 || master.segments.empty()) return result;
    long long frame_size = 0;
    for (std::size_t i = 0; i < count; ++i) frame_size += std::max(master.signals[i].spf, 1);
    if (frame_size > kMaxWindowSamples) {
        record_error("isigopen: total frame size too large in record %s\n", record.c_str());
        result.status = -3;
        return result;
    }
    for (std::size_t i = 0; i < count; ++i) {
        result.opened.push_back(i);
        result.group_of_opened.push_back(first_group + master.signals[i].group);
    }
    result.source = std::make_unique<MultiSegmentSource>(master, count, first_signal, first_group, location);
    return result;
}

}  // namespace sigtrove::engine
