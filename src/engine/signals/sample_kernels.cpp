#include "signals/sample_kernels.h"

#include <bit>
#include <limits>
#include <type_traits>

#include "wfdb/wfdb.h"

// Function multiversioning needs the loader's indirect functions; elsewhere the baseline build serves.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(__clang__)
#define SIGTROVE_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define SIGTROVE_VECTOR_CLONES
#endif

namespace sigtrove::engine {
namespace {

// One value in physical units. The NaN of an invalid sample is selected with bit
// masks rather than a branch, so that a loop of these vectorises into divisions
// and blends (a conditional division is a branch the compiler keeps).
template <class Out>
inline Out physical_value(std::int32_t v, double baseline, double gain) {
    using Bits = std::conditional_t<sizeof(Out) == 8, std::uint64_t, std::uint32_t>;
    Out value = static_cast<Out>((static_cast<double>(v) - baseline) / gain);
    const Bits nan = std::bit_cast<Bits>(std::numeric_limits<Out>::quiet_NaN());
    const Bits invalid = static_cast<Bits>(0) - static_cast<Bits>(v == WFDB_INVALID_SAMPLE);
    return std::bit_cast<Out>((std::bit_cast<Bits>(value) & ~invalid) | (nan & invalid));
}

template <class Out>
inline void physical_runs_of(const std::int32_t *__restrict values, std::size_t n, const double *__restrict baseline,
                             const double *__restrict gain, std::size_t run, Out *__restrict out) {
    std::size_t i = 0;
    for (; i + run <= n; i += run) {
#pragma GCC ivdep
        for (std::size_t j = 0; j < run; ++j) out[i + j] = physical_value<Out>(values[i + j], baseline[j], gain[j]);
    }
    for (std::size_t j = 0; i + j < n; ++j) out[i + j] = physical_value<Out>(values[i + j], baseline[j], gain[j]);
}

template <class Out>
inline void physical_rows_of(const std::int32_t *__restrict values, std::size_t in_stride, std::size_t rows,
                             std::size_t width, const double *__restrict baseline, const double *__restrict gain,
                             Out *__restrict out, std::size_t out_stride) {
    for (std::size_t r = 0; r < rows; ++r) {
        const std::int32_t *__restrict in = values + r * in_stride;
        Out *__restrict to = out + r * out_stride;
#pragma GCC ivdep
        for (std::size_t j = 0; j < width; ++j) to[j] = physical_value<Out>(in[j], baseline[j], gain[j]);
    }
}

template <class Out>
inline Out edf_physical_value(std::int32_t v, double digital_min, double physical_min, double physical_span,
                              double digital_span) {
    return static_cast<Out>(physical_min + (static_cast<double>(v) - digital_min) * physical_span / digital_span);
}

template <class Out>
inline void edf_physical_runs_of(const std::int32_t *__restrict values, std::size_t n, EdfCoefficients c,
                                 std::size_t run, Out *__restrict out) {
    const double *__restrict dmin = c.digital_min;
    const double *__restrict pmin = c.physical_min;
    const double *__restrict pspan = c.physical_span;
    const double *__restrict dspan = c.digital_span;
    std::size_t i = 0;
    for (; i + run <= n; i += run) {
#pragma GCC ivdep
        for (std::size_t j = 0; j < run; ++j)
            out[i + j] = edf_physical_value<Out>(values[i + j], dmin[j], pmin[j], pspan[j], dspan[j]);
    }
    for (std::size_t j = 0; i + j < n; ++j)
        out[i + j] = edf_physical_value<Out>(values[i + j], dmin[j], pmin[j], pspan[j], dspan[j]);
}

template <class Out>
inline void edf_physical_rows_of(const std::int32_t *__restrict values, std::size_t in_stride, std::size_t rows,
                                 std::size_t width, EdfCoefficients c, Out *__restrict out, std::size_t out_stride) {
    for (std::size_t r = 0; r < rows; ++r) {
        const std::int32_t *__restrict in = values + r * in_stride;
        Out *__restrict to = out + r * out_stride;
#pragma GCC ivdep
        for (std::size_t j = 0; j < width; ++j)
            to[j] = edf_physical_value<Out>(in[j], c.digital_min[j], c.physical_min[j], c.physical_span[j],
                                            c.digital_span[j]);
    }
}

template <class Out>
inline void copy_rows_of(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                         Out *out, std::size_t out_stride) {
    for (std::size_t r = 0; r < rows; ++r, values += in_stride, out += out_stride)
        for (std::size_t j = 0; j < width; ++j) out[j] = static_cast<Out>(values[j]);
}

}  // namespace

SIGTROVE_VECTOR_CLONES
void physical_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                   const double *baseline, const double *gain, double *out, std::size_t out_stride) {
    physical_rows_of(values, in_stride, rows, width, baseline, gain, out, out_stride);
}

SIGTROVE_VECTOR_CLONES
void physical_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                   const double *baseline, const double *gain, float *out, std::size_t out_stride) {
    physical_rows_of(values, in_stride, rows, width, baseline, gain, out, out_stride);
}

SIGTROVE_VECTOR_CLONES
void copy_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
               std::int32_t *out, std::size_t out_stride) {
    copy_rows_of(values, in_stride, rows, width, out, out_stride);
}

SIGTROVE_VECTOR_CLONES
void copy_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
               std::int16_t *out, std::size_t out_stride) {
    copy_rows_of(values, in_stride, rows, width, out, out_stride);
}

SIGTROVE_VECTOR_CLONES
void replace_marker(std::int32_t *values, std::size_t n, std::int32_t marker) {
    for (std::size_t i = 0; i < n; ++i) values[i] = values[i] == marker ? WFDB_INVALID_SAMPLE : values[i];
}

SIGTROVE_VECTOR_CLONES
void add_masked_runs(const std::int32_t *values, std::size_t n, const std::uint32_t *mask, std::size_t run,
                     std::uint32_t *lanes) {
    std::size_t i = 0;
    for (; i + run <= n; i += run)
        for (std::size_t j = 0; j < run; ++j) lanes[j] += static_cast<std::uint32_t>(values[i + j]) & mask[j];
    for (std::size_t j = 0; i + j < n; ++j) lanes[j] += static_cast<std::uint32_t>(values[i + j]) & mask[j];
}

SIGTROVE_VECTOR_CLONES
void physical_runs(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                   std::size_t run, double *out) {
    physical_runs_of(values, n, baseline, gain, run, out);
}

SIGTROVE_VECTOR_CLONES
void physical_runs(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                   std::size_t run, float *out) {
    physical_runs_of(values, n, baseline, gain, run, out);
}

SIGTROVE_VECTOR_CLONES
void edf_physical_runs(const std::int32_t *values, std::size_t n, EdfCoefficients c, std::size_t run, double *out) {
    edf_physical_runs_of(values, n, c, run, out);
}

SIGTROVE_VECTOR_CLONES
void edf_physical_runs(const std::int32_t *values, std::size_t n, EdfCoefficients c, std::size_t run, float *out) {
    edf_physical_runs_of(values, n, c, run, out);
}

SIGTROVE_VECTOR_CLONES
void edf_physical_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                       EdfCoefficients c, double *out, std::size_t out_stride) {
    edf_physical_rows_of(values, in_stride, rows, width, c, out, out_stride);
}

SIGTROVE_VECTOR_CLONES
void edf_physical_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                       EdfCoefficients c, float *out, std::size_t out_stride) {
    edf_physical_rows_of(values, in_stride, rows, width, c, out, out_stride);
}

}  // namespace sigtrove::engine
