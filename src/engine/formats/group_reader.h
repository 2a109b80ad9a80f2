// Reading one signal group: the frames stored in one signal file (or, for
// format 0, in no file). Every storage kind (uncompressed, differences,
// FLAC, none) is a GroupReader; the signal source above it never knows which.
#ifndef SIGTROVE_ENGINE_GROUP_READER_H
#define SIGTROVE_ENGINE_GROUP_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/signal_file_handle.h"

namespace sigtrove::engine {

// What a group reader needs to know about its group, taken from the header.
struct GroupLayout {
    int fmt = 0;
    long offset = 0;              // bytes before the first frame (FLAC: samples per channel)
    std::vector<int> spf;         // samples per frame of each signal, in header order
    std::vector<int> initval;     // starting value of each signal (format 8)
    std::size_t frame_size = 0;   // samples in one stored frame: the sum of spf
    long long frame_limit = -1;   // format 0: frames the group holds, -1 for no end
    std::string fname;            // the file name token, for texts
    int first_signal = 0;         // the number of the group's first open signal, for texts
    std::size_t group_count = 1;  // groups read side by side with this one: they share the buffer budget
};

enum class SeekOutcome {
    ok,        // the next read returns the frame asked for
    past_end,  // the file ends before that frame: the reader is left at its end
    failed,    // the position could not be reached; a text has been recorded
};

class GroupReader {
public:
    virtual ~GroupReader() = default;

    // Reads up to `max_frames` whole frames of stored values (frame after frame,
    // layout.frame_size values each) into `dest` and returns how many it read:
    // 0 at the end of the data (a reader may return fewer than asked before
    // that). A partial frame at the end of a file is never delivered. Returns -1
    // after recording a "getvec: ..." text when the data can not be read.
    virtual long long read_frames(std::int32_t *dest, std::size_t max_frames) = 0;

    // Positions the reader so that the next read starts at `frame`. The end of
    // the data (frame == frame_count()) is a valid position; beyond it the reader
    // reports past_end, which getvec turns into an end of data. Texts for seek
    // failures are recorded by the caller, which knows the group's number.
    virtual SeekOutcome seek_frame(long long frame) = 0;

    // How many whole frames the group holds, or -1 when that is not known.
    virtual long long frame_count() = 0;

    // The next reads will take about `frames` frames: a reader may read its file no
    // further ahead than they need (a short window then costs a short read). Reads
    // beyond them go on in the usual blocks.
    virtual void expect_frames(long long frames) { (void)frames; }

    // True when frame_count() is what reading delivers (it is counted from the
    // file's size), not what the file's own header states.
    virtual bool frame_count_is_exact() const { return true; }
};

// Opens the reader for a group of the uncompressed formats (0, 8, 16, 61, 80,
// 160, 212, 310, 311, 24, 32) stored in `file` (null for format 0). The file is
// not read until the first frames are.
std::unique_ptr<GroupReader> open_uncompressed_group_reader(const GroupLayout &layout,
                                                            std::shared_ptr<SignalFileHandle> file);

// Opens the reader for a FLAC group (formats 508, 516, 524) stored in `file`,
// reading the stream's header now. Returns null after recording a text when the
// group can not be read: the group is then skipped like a missing file.
std::unique_ptr<GroupReader> open_flac_group_reader(const GroupLayout &layout, std::shared_ptr<SignalFileHandle> file);

// Whether this build can read FLAC signal files at all.
bool flac_supported();

}  // namespace sigtrove::engine

#endif
