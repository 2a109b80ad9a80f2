#include "writers/signal_scale.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "wfdb/wfdb.h"
#include "writers/header_text.h"

namespace sigtrove::engine {
namespace {

inline double round_away(double x) { return x >= 0 ? std::floor(x + 0.5) : std::ceil(x - 0.5); }

struct ValueRange {
    double lowest = 0, highest = 0;
    double largest_step = 0;  // between consecutive valid samples
    bool any = false;
};

ValueRange range_of(const double *values, std::size_t frames, std::size_t spf, std::size_t stride, bool steps) {
    ValueRange range;
    range.lowest = INFINITY;
    range.highest = -INFINITY;
    double previous = NAN;
    for (std::size_t k = 0; k < frames; ++k) {
        for (std::size_t j = 0; j < spf; ++j) {
            const double v = values[k * stride + j];
            if (!std::isfinite(v)) {
                previous = NAN;
                continue;
            }
            range.lowest = std::min(range.lowest, v);
            range.highest = std::max(range.highest, v);
            if (steps && !std::isnan(previous))
                range.largest_step = std::max(range.largest_step, std::fabs(v - previous));
            previous = v;
        }
    }
    range.any = range.lowest <= range.highest;
    return range;
}

}  // namespace

SignalScale choose_signal_scale(const double *values, std::size_t frames, std::size_t spf, std::size_t stride,
                                const WritableFormat &format, std::optional<double> gain, std::optional<int> baseline) {
    SignalScale scale{gain.value_or(WFDB_DEFGAIN), baseline.value_or(0)};
    if (gain && baseline) return scale;
    const ValueRange range = range_of(values, frames, spf, stride, format.differences);
    // Format 8 holds any running value, but its values are meant to span an ADC's 12 bits.
    const double lo = format.differences ? -2047 : format.lowest, hi = format.differences ? 2047 : format.highest;
    if (!range.any) return scale;

    // The digital extremes at gain g: rounding is monotonic, so the values' extremes give them.
    auto extremes = [&](double g, double &low, double &high) {
        low = round_away(range.lowest * g);
        high = round_away(range.highest * g);
        if (low > high) std::swap(low, high);
    };
    auto centred = [&](double g) {
        double low, high;
        extremes(g, low, high);
        const double b = std::floor(((lo - low) + (hi - high)) / 2);
        return static_cast<int>(std::clamp(b, static_cast<double>(INT_MIN), static_cast<double>(INT_MAX)));
    };
    auto fits = [&](double g, double b) {
        double low, high;
        extremes(g, low, high);
        if (low + b < lo || high + b > hi) return false;
        return !format.differences || range.largest_step * std::fabs(g) + 1 <= 127;
    };

    if (gain) {
        const double g = *gain == 0 ? WFDB_DEFGAIN : as_written(*gain);
        scale.baseline = fits(g, 0) ? 0 : centred(g);
        return scale;
    }

    // The largest gain the range (and, in format 8, the steps) leaves room for.
    double g = WFDB_DEFGAIN;
    if (baseline) {
        const double b = *baseline;
        double bound = INFINITY;
        if (range.highest > 0) bound = std::min(bound, (hi - b - 0.5) / range.highest);
        if (range.lowest < 0) bound = std::min(bound, (lo - b + 0.5) / range.lowest);
        if (std::isfinite(bound) && bound > 0) g = bound;
    } else {
        const double span = range.highest - range.lowest;
        if (span > 0) g = (hi - lo - 1) / span;
        // The baseline that centres the values must be an int of the header.
        const double middle = std::fabs(range.lowest + range.highest) / 2;
        if (middle > 0) g = std::min(g, 2.1e9 / middle);
    }
    if (format.differences && range.largest_step > 0) g = std::min(g, 126 / range.largest_step);
    for (int attempt = 0; attempt < 64; ++attempt) {
        const double written = as_written(g);
        const int b = baseline ? *baseline : centred(written);
        if (fits(written, b)) return SignalScale{written, b};
        g *= 1 - 1e-9 * (1 << std::min(attempt, 30));
    }
    return SignalScale{as_written(g), baseline ? *baseline : centred(as_written(g))};
}

int narrowest_format(const std::int64_t *values, std::size_t frames, std::size_t spf, std::size_t stride) {
    long long lowest = 0, highest = 0;
    for (std::size_t k = 0; k < frames; ++k) {
        for (std::size_t j = 0; j < spf; ++j) {
            const long long v = values[k * stride + j];
            if (v == WFDB_INVALID_SAMPLE) continue;
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
        }
    }
    if (lowest >= -32767 && highest <= 32767) return 16;
    if (lowest >= -8388607 && highest <= 8388607) return 24;
    return 32;
}

}  // namespace sigtrove::engine
