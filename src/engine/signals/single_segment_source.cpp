#include "signals/single_segment_source.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "errors/error_state.h"
#include "formats/group_reader.h"
#include "formats/sample_formats.h"
#include "network/prefetched_files.h"
#include "paths/search_location.h"
#include "signals/group_window.h"
#include "signals/signal_file_set.h"
#include "texts/shown_field.h"

namespace sigtrove::engine {
namespace {

struct SourceSignal {
    std::size_t group;   // index into the source's groups
    long long skew;      // frames
    std::size_t column;  // first column in the group's stored frame
    int spf;
    long long nsamp;
    int number;  // open signal number, for texts
};

struct SourceGroup {
    GroupWindow window;
    int fmt;
    std::vector<std::size_t> signals;  // indices into the source's signals
};

struct Check {
    long long frame;  // the output frame by which the group has read the signal's last counted sample
    std::size_t signal;
    std::size_t group, tally;
    int cksum;
};

class SingleSegmentSource final : public SignalSource {
public:
    SingleSegmentSource(std::vector<SourceGroup> groups, std::vector<SourceSignal> signals, std::vector<Check> checks,
                        int first_group, bool seekable)
        : groups_(std::move(groups)),
          signals_(std::move(signals)),
          checks_(std::move(checks)),
          first_group_(first_group),
          seekable_(seekable) {
        // Each delivered sample's place: its group, and its distance from the row of the output frame.
        for (const SourceSignal &s : signals_) {
            spf_.push_back(s.spf);
            std::size_t offset = static_cast<std::size_t>(s.skew) * groups_[s.group].window.frame_size() + s.column;
            for (int k = 0; k < s.spf; ++k) gather_.push_back({s.group, offset + static_cast<std::size_t>(k)});
        }
        rows_.resize(groups_.size());
        std::sort(checks_.begin(), checks_.end(), [](const Check &a, const Check &b) { return a.frame < b.frame; });
        next_check_ = checks_.empty() ? -1 : checks_.front().frame;
    }

    const std::vector<int> &samples_per_frame() const override { return spf_; }

    FrameStatus next_frame(WFDB_Sample *out) override {
        const long long n = next_;
        window_start_ = false;
        if (groups_.size() == 1) {
            // One file: no per-sample group lookup.
            GroupWindow &window = groups_[0].window;
            if (!window.cover(n)) return end_status(n);
            const std::int32_t *row = window.row(n);
            for (std::size_t i = 0; i < gather_.size(); ++i) out[i] = row[gather_[i].offset];
        } else {
            for (std::size_t g = 0; g < groups_.size(); ++g) {
                GroupWindow &window = groups_[g].window;
                if (!window.cover(n)) return end_status(n);
                rows_[g] = window.row(n);
            }
            for (std::size_t i = 0; i < gather_.size(); ++i) out[i] = rows_[gather_[i].group][gather_[i].offset];
        }
        ++next_;
        return n == next_check_ ? verify_checksums(n) : frame_delivered;
    }

    BulkOutcome read_bulk(const std::vector<std::size_t> &chosen, long long frames, FrameSink &sink) override {
        BulkOutcome outcome;
        blocks_.resize(chosen.size());
        // A read that starts where the data were just opened or repositioned is a window
        // of known length: its groups read no further ahead than it needs. A read that
        // goes on from the last one reads ahead in whole blocks, as sequential reading wants.
        if (window_start_)
            for (SourceGroup &g : groups_) g.window.expect(next_, frames);
        window_start_ = false;
        while (outcome.frames < frames) {
            const long long n = next_;
            auto block = static_cast<std::size_t>(std::min<long long>(frames - outcome.frames, kMaxBlockFrames));
            for (SourceGroup &g : groups_) {
                if (!g.window.cover(n)) {
                    outcome.stop = end_status(n);
                    return outcome;
                }
                block = std::min(block, g.window.ready_from(n));
            }
            // A block ends on the frame whose checksums are due, so they are tested where getvec tests them.
            if (next_check_ >= n) block = std::min<std::size_t>(block, static_cast<std::size_t>(next_check_ - n + 1));
            for (std::size_t c = 0; c < chosen.size(); ++c) {
                const SourceSignal &s = signals_[chosen[c]];
                const GroupWindow &window = groups_[s.group].window;
                blocks_[c] = ColumnBlock{window.row(n + s.skew) + s.column, window.frame_size(), s.spf};
            }
            sink.put(static_cast<std::size_t>(outcome.frames), block, blocks_.data());
            next_ += static_cast<long long>(block);
            outcome.frames += static_cast<long long>(block);
            if (next_ - 1 == next_check_ && verify_checksums(next_ - 1) == frame_checksum_error)
                outcome.checksum_mismatch = true;
        }
        return outcome;
    }

    long long position() const override { return next_; }

    long long stored_frames() override {
        long long frames = -1;
        for (SourceGroup &g : groups_) {
            long long stored = g.window.stored_frames();
            if (stored < 0) continue;
            long long deliverable = std::max(0LL, stored - g.window.span());
            frames = frames < 0 ? deliverable : std::min(frames, deliverable);
        }
        return frames;
    }

    int seek(long long frame, bool inside_frame) override {
        // Checksums cover a whole signal read in one pass from its start, so a seek ends them.
        next_check_ = -1;
        if (!seekable_) {
            // Only format 0 signals of unknown length: there is no position to reach.
            record_error("isigsettime: improper seek on signal group %d\n", first_group_);
            return -1;
        }
        // The reference repositions groups 1, 2, ... and group 0 last, naming the first that fails.
        int failed_group = -1;
        for (std::size_t i = 1; i <= groups_.size(); ++i) {
            std::size_t g = i % groups_.size();
            if (groups_[g].window.seek(frame, inside_frame) != SeekOutcome::ok && failed_group < 0)
                failed_group = first_group_ + static_cast<int>(g);
        }
        next_ = frame;
        window_start_ = true;
        if (failed_group < 0) return 0;
        record_error("isigsettime: improper seek on signal group %d\n", failed_group);
        return -1;
    }

private:
    // Why frame n can not be read: the data of some group ended (early, if the
    // header promised more frames) or could not be read.
    FrameStatus end_status(long long n) {
        bool failed = false;
        int early = -1;
        for (SourceGroup &g : groups_) {
            if (g.window.cover(n)) continue;
            if (g.window.failed()) {
                failed = true;
                continue;
            }
            for (std::size_t i : g.signals) {
                const SourceSignal &s = signals_[i];
                // A format 0 signal of known length ends as the reference's does: as an early end.
                bool ended_early = g.fmt == 0 ? s.nsamp > 0 : s.nsamp > g.window.end_frame();
                if (ended_early) early = s.number;
            }
        }
        if (early >= 0) {
            record_error("getvec: unexpected EOF in signal %d\n", early);
            return frame_error;
        }
        return failed ? frame_error : frame_end;
    }

    FrameStatus verify_checksums(long long n) {
        FrameStatus status = frame_delivered;
        for (; check_index_ < checks_.size() && checks_[check_index_].frame == n; ++check_index_) {
            const Check &c = checks_[check_index_];
            std::uint32_t sum = groups_[c.group].window.checksum_sum(c.tally);
            if (static_cast<std::uint16_t>(sum - static_cast<std::uint32_t>(c.cksum)) != 0) {
                record_error("getvec: checksum error in signal %d\n", signals_[c.signal].number);
                status = frame_checksum_error;
            }
        }
        next_check_ = check_index_ < checks_.size() ? checks_[check_index_].frame : -1;
        return status;
    }

    std::vector<SourceGroup> groups_;
    std::vector<SourceSignal> signals_;
    std::vector<Check> checks_;
    std::vector<int> spf_;
    struct Gather {
        std::size_t group, offset;
    };
    std::vector<Gather> gather_;              // where each sample of a delivered frame comes from
    std::vector<const std::int32_t *> rows_;  // each group's row of the frame being read
    std::vector<ColumnBlock> blocks_;         // where each chosen signal's samples are in a bulk block
    // Blocks of a bulk read are at most a window's worth anyway; this only bounds the arithmetic.
    static constexpr long long kMaxBlockFrames = 1LL << 30;
    int first_group_;
    bool seekable_;
    long long next_ = 0;         // the next output frame
    bool window_start_ = true;   // no read since the open or the last seek
    long long next_check_ = -1;  // output frame of the next checksum test, -1 for none
    std::size_t check_index_ = 0;
};

// The header signals [begin, end) that form one group (consecutive lines naming one file).
struct HeaderGroup {
    std::size_t begin, end;
};

std::vector<HeaderGroup> header_groups(const Header &header) {
    std::vector<HeaderGroup> groups;
    for (std::size_t i = 0; i < header.signals.size(); ++i) {
        if (groups.empty() || header.signals[i].group != header.signals[groups.back().begin].group)
            groups.push_back({i, i});
        groups.back().end = i + 1;
    }
    return groups;
}

// A group of signals that open_single_segment_source will read.
struct PlannedGroup {
    HeaderGroup lines;
    GroupLayout layout;
    long long span = 0;
    std::unique_ptr<GroupReader> reader;  // null for format 0 until the null readers are made
};

GroupLayout layout_of(const Header &header, HeaderGroup lines, int first_signal) {
    GroupLayout layout;
    const SignalSpec &lead = header.signals[lines.begin];
    layout.fmt = lead.fmt;
    layout.offset = lead.offset;
    layout.fname = lead.fname;
    layout.first_signal = first_signal;
    long long frame_size = 0, nsamp = 0;
    for (std::size_t i = lines.begin; i < lines.end; ++i) {
        const SignalSpec &s = header.signals[i];
        layout.spf.push_back(std::max(s.spf, 1));
        layout.initval.push_back(s.initval);
        frame_size += std::max(s.spf, 1);
        nsamp = std::max<long long>(nsamp, s.nsamp);
    }
    layout.frame_size = static_cast<std::size_t>(frame_size);
    if (lead.fmt == 0) layout.frame_limit = nsamp > 0 ? nsamp : -1;
    return layout;
}

std::unique_ptr<GroupReader> open_reader(const GroupLayout &layout, std::shared_ptr<SignalFileHandle> file) {
    if (is_flac_format(layout.fmt)) return open_flac_group_reader(layout, std::move(file));
    return open_uncompressed_group_reader(layout, std::move(file));
}

// Records the text of a group too large to buffer; false when it is.
bool check_window_limits(const PlannedGroup &g, const std::string &record) {
    auto frame_size = static_cast<long long>(g.layout.frame_size);
    if (frame_size > kMaxWindowSamples) {
        record_error("isigopen: total frame size too large in record %s\n", record.c_str());
        return false;
    }
    if ((g.span + 1) * frame_size > kMaxWindowSamples) {
        record_error("isigopen: maximum skew too large in record %s\n", record.c_str());
        return false;
    }
    return true;
}

// Opens the groups that fit in `room` signals and can be read, in header order.
bool plan_groups(const Header &header, int room, int first_signal, const std::string &record, SearchLocation &location,
                 std::vector<PlannedGroup> &planned) {
    int opened_signals = 0;
    const std::vector<HeaderGroup> groups = header_groups(header);
    // Groups that name one file share its handle.
    SignalFileSet files(location);
    for (HeaderGroup lines : groups) {
        auto size = static_cast<int>(lines.end - lines.begin);
        if (size > room - opened_signals) continue;
        PlannedGroup g{lines, layout_of(header, lines, first_signal + opened_signals), 0, nullptr};
        g.layout.group_count = groups.size();
        for (std::size_t i = lines.begin; i < lines.end; ++i)
            g.span = std::max<long long>(g.span, header.signals[i].skew);
        std::shared_ptr<SignalFileHandle> file;
        if (g.layout.fmt != 0) {
            FoundFile found;
            file = files.find(g.layout.fname, found);
            // A file that is not there is skipped; one that is there but can not be fetched (or is no
            // regular file) fails the open.
            if (!found.failure.empty()) {
                if (found.remote_failure()) note_remote_failure();
                record_error("isigopen: can't open signal file %s of record %s (%s)\n",
                             shown_field(g.layout.fname).c_str(), record.c_str(), found.failure.c_str());
                return false;
            }
            if (!file) continue;
        }
        // Limits first: readers size their buffers by the frame.
        if (!check_window_limits(g, record)) return false;
        if (g.layout.fmt != 0 && !(g.reader = open_reader(g.layout, std::move(file)))) continue;
        opened_signals += size;
        planned.push_back(std::move(g));
    }
    // Format 0 groups of unknown length last as long as the other groups; alone, they hold nothing.
    bool only_unknown_null = true;
    for (const PlannedGroup &g : planned)
        if (g.layout.fmt != 0 || g.layout.frame_limit >= 0) only_unknown_null = false;
    for (PlannedGroup &g : planned) {
        if (g.layout.fmt != 0) continue;
        if (only_unknown_null) g.layout.frame_limit = 0;
        g.reader = open_uncompressed_group_reader(g.layout, nullptr);
    }
    return true;
}

// Collects the signals, checksum tests and windows of the planned groups.
struct SourceBuilder {
    const Header &header;
    int first_signal, first_group;
    SourceOpening &result;
    std::vector<SourceGroup> groups;
    std::vector<SourceSignal> signals;
    std::vector<Check> checks;

    void add(PlannedGroup &g) {
        std::vector<ChecksumTally> tallies;
        std::vector<std::size_t> members;
        std::size_t column = 0;
        for (std::size_t i = g.lines.begin; i < g.lines.end; ++i) {
            const SignalSpec &line = header.signals[i];
            int spf = std::max(line.spf, 1);
            // Tested on the first output frame by which the group has read the
            // signal's last counted sample: reading frame n reads stored frames up
            // to n + span, the group's largest skew. (A signal skewed less than its
            // group's largest skew would otherwise wait for a frame that the group,
            // ending with its most skewed signal, never delivers.)
            if (line.nsamp > 0 && g.layout.fmt != 0) {
                checks.push_back({std::max(0LL, line.nsamp - 1 - g.span), signals.size(), groups.size(), tallies.size(),
                                  line.cksum});
                tallies.push_back({column, spf, line.nsamp});
            }
            members.push_back(signals.size());
            int number = first_signal + static_cast<int>(signals.size());
            signals.push_back({groups.size(), line.skew, column, spf, line.nsamp, number});
            result.opened.push_back(i);
            result.group_of_opened.push_back(first_group + static_cast<int>(groups.size()));
            column += static_cast<std::size_t>(spf);
        }
        groups.push_back(
            {GroupWindow(std::move(g.reader), g.layout, g.span, std::move(tallies)), g.layout.fmt, std::move(members)});
    }
};

}  // namespace

namespace {

// The signal files of a remote record, when it has several, are asked for together before they are
// opened one by one: a round trip for all of them rather than one each. Those asked for already
// (beside the header, or by a database's batch) are passed over by the prefetch.
void prefetch_signal_files(const Header &header, const SearchLocation &location) {
    std::vector<std::string> urls;
    for (const SignalSpec &s : header.signals) {
        if (s.fmt == 0) continue;  // a signal of no file
        std::string url = location.remote_signal_file(s.fname);
        if (url.empty()) return;  // a local record, or a name its open refuses
        if (std::find(urls.begin(), urls.end(), url) == urls.end() && prefetched_status(url) == 0)
            urls.push_back(std::move(url));
    }
    if (urls.size() >= 2) prefetch_remote_files(urls);
}

}  // namespace

SourceOpening open_single_segment_source(const Header &header, int room, int first_signal, int first_group,
                                         const std::string &record, SearchLocation &location) {
    SourceOpening result;
    prefetch_signal_files(header, location);
    std::vector<PlannedGroup> planned;
    if (!plan_groups(header, room, first_signal, record, location, planned)) {
        result.status = -3;
        return result;
    }
    if (planned.empty()) return result;
    bool seekable = false;
    SourceBuilder builder{header, first_signal, first_group, result, {}, {}, {}};
    for (PlannedGroup &g : planned) {
        seekable = seekable || g.layout.fmt != 0 || g.layout.frame_limit != 0;
        builder.add(g);
    }
    result.source = std::make_unique<SingleSegmentSource>(std::move(builder.groups), std::move(builder.signals),
                                                          std::move(builder.checks), first_group, seekable);
    return result;
}

}  // namespace sigtrove::engine
