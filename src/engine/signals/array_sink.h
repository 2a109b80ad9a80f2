// A FrameSink that fills a caller's C-contiguous array: one column per chosen
// signal, as stored ADC values (int16 or int32) or in physical units (float or
// double) by the WFDB definition, (v - baseline) / gain, or for the signals of
// EDF files by the EDF one (see PhysicalKind). Invalid samples stay
// WFDB_INVALID_SAMPLE as integers and become NaN in physical units.
#ifndef SIGTROVE_ENGINE_ARRAY_SINK_H
#define SIGTROVE_ENGINE_ARRAY_SINK_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "header/header.h"
#include "signals/frame_sink.h"

namespace sigtrove::engine {

// How the samples of a signal with several samples per frame are delivered.
enum class SampleRate {
    frame,  // one value per frame: their mean rounded half up, invalid if any is (getvec's low resolution)
    own,    // every sample, spf rows per frame (a single column only)
};

// How a column's stored values become physical units.
enum class PhysicalKind {
    wfdb,  // (v - baseline) / gain; WFDB_INVALID_SAMPLE is an invalid sample (NaN)
    edf,   // physical_min + (v - digital_min) * physical_span / digital_span; every value is a sample
};

// The conversion of one column to physical units.
struct PhysicalScale {
    double baseline = 0;
    double gain = 1;  // never 0: an uncalibrated signal counts as WFDB_DEFGAIN
    PhysicalKind kind = PhysicalKind::wfdb;
    // EDF signals: spans are maximum minus minimum (physical_span may be 0 or negative; digital_span is positive).
    double digital_min = 0, physical_min = 0, physical_span = 1, digital_span = 1;
};

// The conversion of a signal as its header describes it: by the EDF definition
// for a signal of an EDF file, else by gain and baseline.
PhysicalScale physical_scale(const SignalSpec &signal);

enum class SampleType { int16, int32, int64, float32, float64 };

// Size in bytes of one value of a type.
std::size_t sample_size(SampleType type);

// What the array holds.
enum class SampleValues {
    stored,    // the stored ADC values (invalid samples as WFDB_INVALID_SAMPLE), in any type
    physical,  // by each column's PhysicalScale, NaN for invalid samples: float32 or float64 only
};

// The sink for an array of `type` at `data` with `columns` columns, whose row 0
// receives the first frame (or sample) read. `scales` (one per column) is used
// for physical values only. Rows past the end are never written: the caller sizes
// the array for the frames it asks for (times spf at the own rate). Null for
// physical values in an integer type.
std::unique_ptr<FrameSink> make_array_sink(SampleType type, SampleValues values, void *data, std::size_t columns,
                                           SampleRate rate, const std::vector<PhysicalScale> &scales);

// The same for the physical types (float32, float64), stored values otherwise.
std::unique_ptr<FrameSink> make_array_sink(SampleType type, void *data, std::size_t columns, SampleRate rate,
                                           const std::vector<PhysicalScale> &scales);

}  // namespace sigtrove::engine

#endif
