// One open record: its description (header parsed once, shared), its signal
// groups or segments, its own read position and buffers. Opening, reading,
// seeking and closing work on this object only; nothing in it depends on the
// process working directory, and nothing process-wide changes while it reads.
// One thread at a time may use an object; different objects may be used from
// different threads at once.
#ifndef SIGTROVE_ENGINE_RECORD_H
#define SIGTROVE_ENGINE_RECORD_H

#include <climits>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "errors/status.h"
#include "record/record_description.h"
#include "signals/frame_sink.h"
#include "signals/signal_source.h"

namespace sigtrove::engine {

class Record {
public:
    // Which signals to open, and how to number them in texts (the C interface
    // opens records beside records already open).
    struct Options {
        int max_signals = INT_MAX;  // groups that do not fit in what is left are skipped
        int first_signal = 0;
        int first_group = 0;
    };

    // Opens the signals of a described record. Returns the number of signals
    // opened (> 0); 0 when none could be, or -3 when the record asks for more than
    // the engine holds; a text is recorded (to the caller's ErrorCapture, or
    // process-wide) for every failure. As isigopen counts.
    static int open_signals(std::shared_ptr<const RecordDescription> description, const Options &options,
                            std::unique_ptr<Record> &out);

    // Finds, describes and opens a record with every signal that can be opened;
    // the failure, if any, comes back as a value with its text.
    static Status open(const std::string &record, std::unique_ptr<Record> &out);
    static Status open(std::shared_ptr<const RecordDescription> description, std::unique_ptr<Record> &out);

    // Closes the record's files and gives its buffers back (to the system, when they were large).
    ~Record();
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;

    const RecordDescription &description() const { return *description_; }
    const std::shared_ptr<const RecordDescription> &shared_description() const { return description_; }
    const Header &header() const { return description_->header; }

    // The open signals: their header signal numbers, group numbers (as numbered
    // by Options), and samples per frame, in signal order.
    const std::vector<std::size_t> &opened() const { return opened_; }
    const std::vector<int> &group_of_opened() const { return group_of_opened_; }
    const std::vector<int> &samples_per_frame() const { return source_->samples_per_frame(); }
    int signal_count() const { return static_cast<int>(opened_.size()); }
    bool multi_segment() const { return header().multi_segment; }

    // The frame the next read starts at.
    long long position() const { return source_->position(); }

    // The record's length: the header's when it states one, else what the data
    // hold as far as their sizes tell (-1 when they can not tell, e.g. a FLAC
    // stream that does not state its length). A header may claim more frames than
    // its files hold: size memory by deliverable_frames().
    long long frame_count();

    // How many frames from frame 0 a read can deliver at most: frame_count(), but
    // never more than the data hold when their sizes tell (a header may claim
    // more frames than its files have; reading those fails, at the frame where
    // the data end, and costs nothing in proportion to the claim).
    long long deliverable_frames();

    // Frame by frame, as getvec reads: texts go to the caller's capture, or process-wide.
    FrameStatus next_frame(WFDB_Sample *out) { return source_->next_frame(out); }
    int seek(long long frame, bool inside_frame) { return source_->seek(frame, inside_frame); }
    int reported_signal_count() const { return source_->reported_signal_count(); }
    SignalSource &source() { return *source_; }

    // Reads up to `frames` frames from frame `start` into `sink`, the chosen open
    // signals (numbers into opened(), in output order, repeats allowed) one column
    // each. Fewer frames come back only at the end of the data (outcome.stop
    // frame_end) or when the data can not be read (failure with its text).
    // Reading on from where the last read stopped keeps checksums tested.
    Status read(long long start, long long frames, const std::vector<std::size_t> &signals, FrameSink &sink,
                BulkOutcome &outcome);

private:
    Record(std::shared_ptr<const RecordDescription> description, std::unique_ptr<SignalSource> source,
           std::vector<std::size_t> opened, std::vector<int> group_of_opened);

    std::shared_ptr<const RecordDescription> description_;
    std::unique_ptr<SignalSource> source_;
    std::vector<std::size_t> opened_;
    std::vector<int> group_of_opened_;
    long long held_bytes_ = 0;  // what its frames and skew windows hold at the least
};

}  // namespace sigtrove::engine

#endif
