// The "EDF Annotations" signal of an EDF+ or BDF+ file being written: in each
// data record, the list that gives the data record's onset, then the lists of
// the annotations whose onsets fall in it. Every data record gives the signal
// the same number of samples, so it is sized for the fullest data record.
#ifndef SIGTROVE_ENGINE_EDF_ANNOTATION_SIGNAL_H
#define SIGTROVE_ENGINE_EDF_ANNOTATION_SIGNAL_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "errors/status.h"

namespace sigtrove::engine {

struct EdfAnnotationToWrite {
    std::int64_t onset = 0;                // nanoseconds after the header's start time
    std::optional<std::int64_t> duration;  // nanoseconds, none where it has none
    std::string text;                      // UTF-8
};

// "+12.5", "-0.002", "+3": seconds as an EDF+ onset, to the nanosecond.
std::string edf_onset_text(std::int64_t nanoseconds);

class EdfAnnotationSignal {
public:
    // Lays out ANNOTATIONS (in any order: those of one onset keep theirs) over
    // RECORDS data records of SPAN nanoseconds each, the first beginning FIRST
    // nanoseconds after the start time; an onset before the first data record
    // goes into it, one after the last into the last. SAMPLE_BYTES: 2 (EDF) or 3
    // (BDF). bad_request for a text that holds a byte the lists are built with.
    static Status create(std::vector<EdfAnnotationToWrite> annotations, std::int64_t records, std::int64_t span,
                         std::int64_t first, int sample_bytes, EdfAnnotationSignal &out);

    // Samples per data record (at least one list's worth).
    std::int64_t samples() const { return samples_; }

    // The signal's bytes in data record R (samples() * sample bytes, NUL padded).
    // Data records are asked for in order.
    void record_bytes(std::int64_t r, std::vector<std::uint8_t> &out);

private:
    void append_lists(std::int64_t r, std::string &out);

    std::vector<EdfAnnotationToWrite> annotations_;  // by onset
    std::vector<std::int64_t> record_of_;            // the data record of each
    std::int64_t records_ = 0, span_ = 0, first_ = 0;
    std::int64_t samples_ = 0;
    int sample_bytes_ = 2;
    std::size_t next_ = 0;  // the first annotation not yet written
    std::string scratch_;
};

}  // namespace sigtrove::engine

#endif
