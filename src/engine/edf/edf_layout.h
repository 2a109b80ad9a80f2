// Where an EDF, EDF+, BDF or BDF+ file keeps its samples: what its header says
// of its data records, found once when the record is described and shared by
// every reader of it. A data record holds each signal's samples for one stretch
// of time, signal after signal, little-endian (16 bits in EDF, 24 in BDF).
#ifndef SIGTROVE_ENGINE_EDF_LAYOUT_H
#define SIGTROVE_ENGINE_EDF_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "edf/decimal_seconds.h"

namespace sigtrove::engine {

struct EdfSignalBlock {
    std::int64_t offset = 0;   // bytes from the start of a data record
    std::int64_t samples = 0;  // samples per data record
};

struct EdfLayout {
    std::string file;            // the file: an absolute path, or a URL
    std::string name;            // the record's name, for texts
    int sample_bytes = 2;        // 2 (EDF) or 3 (BDF)
    bool plus = false;           // EDF+ or BDF+
    bool discontinuous = false;  // EDF+D: each data record sits at its own onset
    std::int64_t header_bytes = 0;
    std::int64_t record_bytes = 0;
    // Data records the header states (from the file's size when it says -1), and
    // the whole ones the file holds (-1 when its size can not be told).
    std::int64_t records = 0;
    std::int64_t stored_records = 0;
    DecimalSeconds record_duration;
    std::int64_t frames_per_record = 0;       // 0 without data signals
    ExactRate frame_rate;                     // frames per second
    std::vector<EdfSignalBlock> data;         // the ordinary signals, in header order
    std::vector<EdfSignalBlock> annotations;  // the annotation signals, in header order
    DecimalSeconds first_onset;               // the onset of data record 0 (EDF+), which frame 0 stands for
    // EDF+D: the frame at which the last stored data record begins (-1 when unknown).
    std::int64_t last_record_frame = -1;

    // The bytes of the file at which data record `r` begins.
    std::int64_t record_offset(std::int64_t r) const { return header_bytes + r * record_bytes; }
};

}  // namespace sigtrove::engine

#endif
