// Parsed WFDB header files (.hea): the record line, signal lines and segment lines.
#ifndef SIGTROVE_ENGINE_HEADER_H
#define SIGTROVE_ENGINE_HEADER_H

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sigtrove::engine {

struct EdfLayout;

// The calibration of a signal of an EDF or BDF file: its physical value is
// physical_min + (d - digital_min) * (physical_max - physical_min) / (digital_max - digital_min).
struct EdfCalibration {
    double physical_min = 0, physical_max = 0;
    double digital_min = 0, digital_max = 0;
};

// One signal line, with every default already applied.
struct SignalSpec {
    std::string fname;                 // file name token, verbatim
    std::string desc;                  // description, or "record R, signal N"
    std::optional<std::string> units;  // none means millivolts
    double gain = 0;                   // 0: uncalibrated
    int initval = 0;
    int group = 0;  // consecutive lines naming the same file share a group
    int fmt = 0;
    int spf = 1;
    int skew = 0;     // in frames
    long offset = 0;  // byte offset of the group's data in its file
    int bsize = 0;
    int adcres = 0;
    int adczero = 0;
    int baseline = 0;
    long nsamp = 0;  // the record's NSAMP when the line has a checksum, else 0
    int cksum = 0;
    bool has_cksum = false;
    // A signal of an EDF file: its physical values follow this, not gain and
    // baseline (which say what the WFDB library says of it); every stored value,
    // WFDB_INVALID_SAMPLE included, is a sample.
    std::optional<EdfCalibration> edf;
};

// One segment line of a multi-segment header.
struct SegmentSpec {
    std::string name;  // "~" for a null segment
    long nsamp = 0;
    long start = 0;  // first frame of the segment in the whole record
};

struct Header {
    std::string record;  // the record argument the header was read for
    std::string path;    // where the header file was found
    int nsig = 0;
    bool has_freq = false;
    double freq = 0;   // frame frequency as written (when has_freq)
    double cfreq = 0;  // counter frequency; equals freq when absent or <= 0
    double basecount = 0;
    long nsamp = 0;         // 0: unknown; multi-segment: NSAMP, else the sum of segment lengths
    bool has_base = false;  // a base time or date was given
    long base_ms = 0;       // base time of day, milliseconds after midnight
    long base_date = 0;     // Julian day number, 0 when absent
    std::vector<SignalSpec> signals;
    bool multi_segment = false;  // the record line had NAME/NSEG
    std::vector<SegmentSpec> segments;
    std::vector<std::string> comments;     // the comment lines, in order, without '#' and surrounding blanks
    std::shared_ptr<const EdfLayout> edf;  // an EDF, EDF+, BDF or BDF+ file read as a record (see edf/)

    // The frame frequency the record is read at: FREQ, or 250 when the header gives none.
    double frame_frequency() const { return has_freq ? freq : 250.0; }
    // The counter frequency: CFREQ when positive, else the frame frequency.
    double counter_frequency() const { return cfreq > 0 ? cfreq : frame_frequency(); }
    // The most samples per frame among the signals of its lines (1 when none lists more).
    int largest_spf() const {
        int largest = 1;
        for (const SignalSpec &signal : signals) largest = std::max(largest, signal.spf);
        return largest;
    }
};

}  // namespace sigtrove::engine

#endif
