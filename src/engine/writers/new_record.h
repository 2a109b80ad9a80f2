// A record made from a program's arrays: what the caller says of each signal,
// anything it leaves out chosen as the field's tools would choose it, and the
// header the record is written with.
#ifndef SIGTROVE_ENGINE_NEW_RECORD_H
#define SIGTROVE_ENGINE_NEW_RECORD_H

#include <optional>
#include <string>
#include <vector>

#include "errors/status.h"
#include "header/header.h"
#include "writers/record_writer.h"

namespace sigtrove::engine {

struct NewSignal {
    std::string name;  // its description; empty for none
    std::optional<std::string> units;
    std::optional<int> format;
    std::optional<double> gain;
    std::optional<int> baseline;
    std::optional<int> adc_resolution;
    int samples_per_frame = 1;
    // Every frame's samples: physical (double) or stored (std::int64_t) values.
    SampleColumn samples;
};

struct NewRecord {
    std::string name;
    double frequency = 0;
    bool has_base = false;
    long base_ms = 0;                   // time of day
    long base_date = 0;                 // Julian day number, 0 for none
    std::vector<std::string> comments;  // as the reader keeps them; written "# TEXT"
    std::vector<NewSignal> signals;
    long long frames = 0;
};

// The header RECORD is written with. Left out, a signal's format is 16 for
// physical values and the narrowest of 16, 24 and 32 that holds its stored
// values; its ADC resolution the format's; its gain and baseline, for physical
// values, those of choose_signal_scale, and for stored values 200 and 0.
// Signals in one format share a signal file (FLAC files: up to 8 signals with the
// same samples per frame): NAME.dat when one file holds them all, else NAME_0.dat,
// NAME_1.dat, ... in signal order.
Status plan_new_record(const NewRecord &record, Header &layout);

// The columns of frames [first, first + count) of RECORD, for RecordWriter::put.
std::vector<SampleColumn> new_record_block(const NewRecord &record, long long first);

}  // namespace sigtrove::engine

#endif
