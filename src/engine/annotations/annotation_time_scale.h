// Conversion of annotation times from the ticks of an annotation file to the
// sample numbers of its record.
#ifndef SIGTROVE_ENGINE_ANNOTATION_TIME_SCALE_H
#define SIGTROVE_ENGINE_ANNOTATION_TIME_SCALE_H

#include <cstdint>

#include "wfdb/wfdb.h"

namespace sigtrove::engine {

class AnnotationTimeScale {
public:
    AnnotationTimeScale() = default;  // times are used as they are

    // FRAME_FREQUENCY is the record's frame rate (0 when the record has no
    // header); SPF_MAX its largest samples-per-frame, which counts in
    // high-resolution mode; RESOLUTION the file's ticks per second (0 when the
    // file does not state it).
    static AnnotationTimeScale choose(double frame_frequency, int spf_max, bool high_resolution, double resolution);

    // Rounds to the nearest sample, halves upward, saturating at the WFDB_Time range.
    WFDB_Time to_samples(int64_t ticks) const;

    double multiplier() const { return multiplier_; }

private:
    double multiplier_ = 1;
};

}  // namespace sigtrove::engine

#endif
