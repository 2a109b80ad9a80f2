#include "annotations/annotation_time_scale.h"

#include <cmath>
#include <limits>

namespace sigtrove::engine {

AnnotationTimeScale AnnotationTimeScale::choose(double frame_frequency, int spf_max, bool high_resolution,
                                                double resolution) {
    AnnotationTimeScale scale;
    int samples_per_frame = high_resolution && spf_max > 1 ? spf_max : 1;
    double frequency = frame_frequency * samples_per_frame;
    if (!(frequency > 0) || !std::isfinite(frequency)) return scale;
    double multiplier = resolution > 0 ? frequency / resolution : samples_per_frame;
    // An absurd resolution (overflowing the ratio) leaves the times as they are.
    if (std::isfinite(multiplier)) scale.multiplier_ = multiplier;
    return scale;
}

WFDB_Time AnnotationTimeScale::to_samples(int64_t ticks) const {
    if (multiplier_ == 1) return ticks;  // exact for every 64-bit time
    double rounded = std::floor(static_cast<double>(ticks) * multiplier_ + 0.5);
    constexpr double limit = 9223372036854775808.0;  // 2^63
    if (rounded >= limit) return std::numeric_limits<WFDB_Time>::max();
    if (rounded < -limit) return std::numeric_limits<WFDB_Time>::min();
    return static_cast<WFDB_Time>(rounded);
}

}  // namespace sigtrove::engine
