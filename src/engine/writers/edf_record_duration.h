// How long an EDF file's data records are. EDF holds whole data records only,
// all of one duration, written in 8 characters: where a duration close to a
// second divides the frames exactly (and is written exactly), the file holds the
// frames and nothing more; otherwise data records of 1 s where the rate allows
// (or the first of a few short durations that hold whole frames), the last one
// filled out by the writer.
#ifndef SIGTROVE_ENGINE_EDF_RECORD_DURATION_H
#define SIGTROVE_ENGINE_EDF_RECORD_DURATION_H

#include <cstdint>
#include <optional>
#include <string>

namespace sigtrove::engine {

struct EdfRecordDuration {
    std::string text;              // as the header writes it ("1", "0.025", "1.2")
    std::int64_t nanoseconds = 0;  // the same, exactly
    std::int64_t frames_per_record = 0;
    std::int64_t records = 0;  // data records that hold `frames` frames
};

// The data-record duration of FRAMES (> 0) frames at FREQUENCY frames per
// second, a frame taking FRAME_BYTES bytes. A duration that divides the frames
// is chosen among those of 0.1 s or more whose data records take no more than
// EDF's customary 61440 bytes (or than a 1 s record, where that is more), the
// closest to 1 s; none when no data record of a whole number of frames is
// written in 8 characters.
std::optional<EdfRecordDuration> choose_edf_record_duration(double frequency, std::int64_t frames,
                                                            std::int64_t frame_bytes);

}  // namespace sigtrove::engine

#endif
