// Where an open record's frames come from. A single-segment record's open
// groups are one source; a multi-segment record is another kind of source that
// moves from segment to segment. getvec and isigsettime talk only to this
// interface (one virtual call per frame); bulk reads hand whole blocks on.
#ifndef SIGTROVE_ENGINE_SIGNAL_SOURCE_H
#define SIGTROVE_ENGINE_SIGNAL_SOURCE_H

#include <cstddef>
#include <vector>

#include "signals/frame_sink.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {

// What reading one frame gave, as getvec reports it.
enum FrameStatus : int {
    frame_delivered = 0,
    frame_end = -1,             // no further frame: end of data
    frame_error = -3,           // data ended early or could not be read; a text was recorded
    frame_checksum_error = -4,  // the frame was delivered, but a checksum did not match
};

class SignalSource {
public:
    virtual ~SignalSource() = default;

    // Samples per frame of each of the source's signals, in signal order.
    virtual const std::vector<int> &samples_per_frame() const = 0;

    // Reads the next frame: each signal's spf samples, one signal after
    // another, with invalid samples as WFDB_INVALID_SAMPLE. On frame_end or
    // frame_error, `out` is left unspecified and the position does not move
    // (except past a frame of a segment that can not be read: see
    // multi_segment_source.h).
    virtual FrameStatus next_frame(WFDB_Sample *out) = 0;

    // Positions the source so that the next frame read is `frame` (>= 0).
    // With `inside_frame` (a high-resolution time within the frame) the frame
    // itself must exist: the end of the data is then not a position.
    // Returns 0, or -1 after recording a text.
    virtual int seek(long long frame, bool inside_frame) = 0;

    // How many signals getvec reports for the frame read last: the source's
    // signal count, except in a multi-segment record, whose count is the
    // current segment's own (1 inside a null segment), as the reference reports.
    virtual int reported_signal_count() const { return static_cast<int>(samples_per_frame().size()); }

    // Reads up to `frames` frames from the position on, handing the chosen
    // signals (source signal numbers, in output order, repeats allowed) to
    // `sink` block by block; the position moves past what was delivered.
    // Checksums are tested as next_frame tests them. A multi-segment source
    // delivers the frames of null segments and of segments that can not be read
    // as invalid samples rather than stopping there.
    virtual BulkOutcome read_bulk(const std::vector<std::size_t> &signals, long long frames, FrameSink &sink) = 0;

    // The frame the next read starts at.
    virtual long long position() const = 0;

    // Positions the source for a bulk read from `frame`; false (with a text) when
    // the frame can not be reached.
    virtual bool reposition(long long frame) { return seek(frame, false) >= 0; }

    // How many frames the data hold from frame 0, as far as the files' sizes tell
    // without reading them; -1 when that can not be told.
    virtual long long stored_frames() = 0;

    // Whether the frame next_frame delivered last lies in a gap of the recording
    // (an EDF+D file between two data records): its samples are invalid whatever
    // their values, where a stored WFDB_INVALID_SAMPLE of an EDF signal is a sample.
    virtual bool last_frame_in_gap() const { return false; }
};

}  // namespace sigtrove::engine

#endif
