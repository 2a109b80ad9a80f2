// The gain and baseline a signal given in physical units is stored with when the
// caller leaves them out: the ones that spread its values over the range its
// format holds, without clipping any.
#ifndef SIGTROVE_ENGINE_SIGNAL_SCALE_H
#define SIGTROVE_ENGINE_SIGNAL_SCALE_H

#include <cstddef>
#include <cstdint>
#include <optional>

#include "writers/writable_formats.h"

namespace sigtrove::engine {

struct SignalScale {
    double gain = 200;  // as the header will say it (12 significant digits)
    int baseline = 0;
};

// The physical values of FRAMES frames, frame k's SPF samples at
// values[k * stride + j] (NaN: invalid samples), stored in
// FORMAT. A gain or baseline given is kept; what is left out is chosen: with
// both left out, the values' range is mapped onto the format's (format 8: onto 12
// bits, with every step between samples within its step range); with only the
// baseline left out, 0 when the values fit, else the one that centres them; with
// only the gain left out, the largest that keeps them within the range. Values
// that are all invalid (or none) get 200 and 0.
SignalScale choose_signal_scale(const double *values, std::size_t frames, std::size_t spf, std::size_t stride,
                                const WritableFormat &format, std::optional<double> gain, std::optional<int> baseline);

// The format for stored values the caller gives no format: the narrowest of 16,
// 24 and 32 that holds every value (WFDB_INVALID_SAMPLE is an invalid sample);
// the values laid out as for choose_signal_scale.
int narrowest_format(const std::int64_t *values, std::size_t frames, std::size_t spf, std::size_t stride);

}  // namespace sigtrove::engine

#endif
