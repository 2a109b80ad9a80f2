// Writes small single-segment WFDB records (a header and signal files in any
// uncompressed format) from known sample values, so tests can read them back.
#ifndef SIGTROVE_TESTS_RECORD_WRITER_H
#define SIGTROVE_TESTS_RECORD_WRITER_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sigtrove::testing {

struct SignalToWrite {
    std::string file{};  // consecutive signals naming the same file form a group
    int fmt = 16;
    int spf = 1;
    int skew = 0;                  // in frames
    long offset = 0;               // bytes of filler before the group's data (first signal of a group)
    std::optional<int> initval{};  // default: the first sample (format 8 then starts with a 0 difference)
    // Stored values, spf per frame. WFDB_INVALID_SAMPLE is written as the format's invalid marker.
    std::vector<int> samples{};
    bool with_checksum = true;      // without it the signal's nsamp reads as 0
    std::optional<int> checksum{};  // default: the correct one
    std::string desc{};             // default: "sig N"
    std::string gain = "200";       // the gain field as written: GAIN[(BASELINE)][/UNITS]
};

struct RecordToWrite {
    std::string name = "rec";
    double frequency = 250;
    std::optional<long> nsamp{};  // default: the frames of signal 0; -1 leaves the field out
    std::vector<SignalToWrite> signals{};
};

// Encodes one group's stream of stored values (frame after frame: each
// signal's spf[i] samples in turn) in a format. Values outside the format's
// range throw std::invalid_argument. For format 8 the values are each signal's
// running values, starting from initval[i]; their steps must fit in a byte.
// Empty spf and initval mean one signal, spf 1, INITVAL 0.
std::vector<std::uint8_t> encode_samples(int fmt, const std::vector<int> &stream, const std::vector<int> &initval = {},
                                         const std::vector<int> &spf = {});

// The stored value a format uses for WFDB_INVALID_SAMPLE.
int invalid_marker(int fmt);

// Writes RECORD.hea and its signal files into `dir`. Returns the header text.
std::string write_record(const std::string &dir, const RecordToWrite &record);

}  // namespace sigtrove::testing

#endif
