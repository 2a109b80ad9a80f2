// The frames of open records read as getvec reads them: one vector of samples
// per call, in low or high resolution, invalid samples padded or not, positioned
// by sample number as isigsettime positions. Records opened side by side follow
// one another in each vector. The C interface keeps one of these for the whole
// process; a caller that owns its records owns its own, and nothing of one
// object depends on another. One thread at a time may use an object.
#ifndef SIGTROVE_ENGINE_FRAME_INPUT_H
#define SIGTROVE_ENGINE_FRAME_INPUT_H

#include <climits>
#include <cstddef>
#include <memory>
#include <vector>

#include "record/record.h"
#include "signals/getvec_modes.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {

// What a run of getvec calls keeping one signal gave.
struct SignalRun {
    long long delivered = 0;  // samples written to the caller's array
    int status = 0;           // 0 when all were; else getvec's code that stopped the run (-1 end, < -1 error)
};

class FrameInput {
public:
    // The getvec mode (bits WFDB_HIGHRES and WFDB_GVPAD); the position stays on
    // a frame boundary.
    void set_mode(int mode);
    bool mode_chosen() const { return mode_chosen_; }
    // High-resolution mode was asked for (whatever the records' samples per frame).
    bool high_mode() const { return high_mode_; }

    // Closes every record and gives their buffers back.
    void close();
    // close(), and forgets the mode and whether anything was ever open.
    void reset();
    // Adds an opened record: its signals follow those already open.
    void add(std::unique_ptr<Record> record);

    int signal_count() const { return static_cast<int>(layout_.spf.size()); }
    int group_count() const { return group_count_; }
    std::size_t frame_size() const { return layout_.size; }
    std::size_t record_count() const { return records_.size(); }
    Record &record(std::size_t i) { return *records_[i]; }

    // getvec: the next vector, or its failure code (see getvec in wfdb.h).
    int next(WFDB_Sample *vector);

    // isigsettime: the next vector is the one of sample number t. A t equal to
    // the position changes nothing unless `always` (for a caller whose records
    // may have been read by other means since).
    int seek(WFDB_Time t, bool always = false);

    // The sample number of the next vector.
    long long position() const { return high_resolution() ? frame_index_ * layout_.spf_max + sub_ : frame_index_; }

    // Calls next() up to `count` times and keeps signal `signal` of each vector
    // in out[0..], stopping at the first end of data or error (a checksum
    // warning, -4, does not stop it): the same samples, texts and position as
    // those calls, read in blocks when the open records allow it. Throws
    // std::bad_alloc. With `invalid` (room for `count`), invalid[k] is 1 where
    // out[k] lies where the record holds no sample (a gap of an EDF+D file, a
    // segment without the signal), whatever its value, else 0: the way to tell
    // such a frame from a stored WFDB_INVALID_SAMPLE of an EDF signal, which is a sample.
    SignalRun read_signal(int signal, long long count, WFDB_Sample *out, unsigned char *invalid = nullptr);

private:
    bool high_resolution() const { return high_mode_ && layout_.spf_max > 1; }
    void choose_path();
    // Counts one frame read. A seek may put the position at the largest time there
    // is; reading on from there must not overflow, so the count stops at it.
    void count_frame() {
        long long limit = high_resolution() ? LONG_MAX / layout_.spf_max - 1 : LONG_MAX;
        if (frame_index_ < limit) ++frame_index_;
    }
    // Leaves the position on a frame boundary (after a mode change or an open).
    void settle_position() {
        if (frame_loaded_) count_frame();
        frame_loaded_ = false;
        sub_ = 0;
    }
    FrameStatus read_frame();
    int reported_signal_count() const;
    bool reads_in_blocks() const;
    SignalRun read_signal_in_blocks(int signal, long long count, WFDB_Sample *out, unsigned char *invalid);
    SignalRun read_signal_by_frames(int signal, long long count, WFDB_Sample *out, unsigned char *invalid);

    std::vector<std::unique_ptr<Record>> records_;
    std::vector<std::size_t> record_offset_;  // where each record's samples start in `frame_`
    FrameLayout layout_;
    std::vector<WFDB_Sample> frame_;
    std::vector<WFDB_Sample> last_valid_;  // pad mode: each signal's last valid sample
    int group_count_ = 0;
    bool ever_opened_ = false;
    // A multi-segment record is open: getvec's count follows its current segment.
    bool counts_vary_ = false;

    // The position: in high resolution, sample `sub_` of frame `frame_index_`.
    long long frame_index_ = 0;
    int sub_ = 0;
    bool frame_loaded_ = false;  // high resolution: `frame_` holds frame_index_
    FrameStatus loaded_status_ = frame_delivered;

    bool mode_chosen_ = false;  // set_mode was called
    bool pad_ = false;
    bool high_mode_ = false;
    // The record next() reads straight into the caller's vector: one record,
    // one sample per signal, nothing to pad or average. Null otherwise.
    Record *direct_ = nullptr;
};

}  // namespace sigtrove::engine

#endif
