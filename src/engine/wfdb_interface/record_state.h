// The process-wide values that reading a header sets: frame and counter
// frequency, base time and date, record length. Signals, time texts and
// annotation times all read them from here.
#ifndef SIGTROVE_ENGINE_RECORD_STATE_H
#define SIGTROVE_ENGINE_RECORD_STATE_H

#include "header/header.h"
#include "signals/getvec_modes.h"

namespace sigtrove::engine {

struct RecordState {
    double frame_freq = 0;  // 0 until a header has been read
    double cfreq = 0;
    double basecount = 0;
    long length = 0;               // record length in frames (strtim("e")), 0 if unknown
    long base_ms = 0;              // base time of day in milliseconds
    long base_date = 0;            // Julian day number, 0 if none
    int spf_max = 1;               // largest samples-per-frame of the header read last
    bool high_resolution = false;  // getvec counts high-resolution samples
};

RecordState &record_state();

// Installs the values of a header just read successfully: they always come from
// the header read last, so time texts belong to the record whose signals are open.
// Frequency 250 when the header gives none; length = Header::nsamp (for a
// multi-segment master, its total length); spf_max from the header's signals
// (1 for a master, whose signals are in its segments: the signal reader sets it
// from the segment or layout header it presents).
void apply_header(const Header &header);

// The sampling frequency: the frame frequency, times spf_max in high-resolution mode.
double sampling_frequency();

// Forgets every value a header set, as in a fresh process. For tests.
void reset_record_state();

}  // namespace sigtrove::engine

#endif
