#include "signals/sample_kernels.h"

#include <bit>
#include <limits>
#include <type_traits>

#include "wfdb/wfdb.h"

#if defined(__GNUC__) && defined(__x86_64__)
// GCC 12's headers leave the upper lanes of some casts and reductions undefined
// on purpose, which its warnings take for uninitialised reads once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#pragma GCC diagnostic pop
#define SIGTROVE_GATHER_KERNELS 1
#endif

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

// Table lookups. The compiler's own vectorisation of a lookup loop emulates the
// gathers with one load per lane (slower than the plain loop), so the vector
// units' gather instructions are used directly where the processor has them.
// An index is (value + 32768) & 0xFFFF, always inside its table segment; the
// values' own high bits are or-ed aside to tell whether any lay outside 16 bits.
template <class Out>
bool lookup16_plain(const std::int32_t *__restrict values, std::size_t n, const std::uint32_t *__restrict base,
                    std::size_t run, const Out *__restrict table, Out *__restrict out, std::size_t i = 0,
                    std::uint32_t outside = 0) {
    for (std::size_t j = i % run; i < n; ++i, j = j + 1 == run ? 0 : j + 1) {
        const std::uint32_t k = static_cast<std::uint32_t>(values[i]) + 0x8000u;
        outside |= k;
        out[i] = table[base[j] + (k & 0xFFFFu)];
    }
    return (outside >> 16) == 0;
}

#ifdef SIGTROVE_GATHER_KERNELS
__attribute__((target("avx512f"))) bool lookup16_avx512(const std::int32_t *values, std::size_t n,
                                                        const std::uint32_t *base, std::size_t run, const double *table,
                                                        double *out) {
    const __m512i offset = _mm512_set1_epi32(0x8000), low = _mm512_set1_epi32(0xFFFF);
    __m512i outside = _mm512_setzero_si512();
    std::size_t i = 0;
    for (; i + run <= n; i += run) {
        for (std::size_t j = 0; j < run; j += 16) {
            __m512i k = _mm512_add_epi32(_mm512_loadu_si512(values + i + j), offset);
            outside = _mm512_or_si512(outside, k);
            k = _mm512_add_epi32(_mm512_and_si512(k, low), _mm512_loadu_si512(base + j));
            _mm512_storeu_pd(out + i + j, _mm512_i32gather_pd(_mm512_castsi512_si256(k), table, 8));
            _mm512_storeu_pd(out + i + j + 8, _mm512_i32gather_pd(_mm512_extracti64x4_epi64(k, 1), table, 8));
        }
    }
    return lookup16_plain(values, n, base, run, table, out, i,
                          static_cast<std::uint32_t>(_mm512_reduce_or_epi32(outside)));
}

__attribute__((target("avx512f"))) bool lookup16_avx512(const std::int32_t *values, std::size_t n,
                                                        const std::uint32_t *base, std::size_t run, const float *table,
                                                        float *out) {
    const __m512i offset = _mm512_set1_epi32(0x8000), low = _mm512_set1_epi32(0xFFFF);
    __m512i outside = _mm512_setzero_si512();
    std::size_t i = 0;
    for (; i + run <= n; i += run) {
        for (std::size_t j = 0; j < run; j += 16) {
            __m512i k = _mm512_add_epi32(_mm512_loadu_si512(values + i + j), offset);
            outside = _mm512_or_si512(outside, k);
            k = _mm512_add_epi32(_mm512_and_si512(k, low), _mm512_loadu_si512(base + j));
            _mm512_storeu_ps(out + i + j, _mm512_i32gather_ps(k, table, 4));
        }
    }
    return lookup16_plain(values, n, base, run, table, out, i,
                          static_cast<std::uint32_t>(_mm512_reduce_or_epi32(outside)));
}

__attribute__((target("avx2"))) std::uint32_t or_lanes(__m256i v) {
    alignas(32) std::uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), v);
    std::uint32_t all = 0;
    for (std::uint32_t lane : lanes) all |= lane;
    return all;
}

__attribute__((target("avx2"))) bool lookup16_avx2(const std::int32_t *values, std::size_t n, const std::uint32_t *base,
                                                   std::size_t run, const double *table, double *out) {
    const __m256i offset = _mm256_set1_epi32(0x8000), low = _mm256_set1_epi32(0xFFFF);
    __m256i outside = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + run <= n; i += run) {
        for (std::size_t j = 0; j < run; j += 8) {
            __m256i k = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(values + i + j)), offset);
            outside = _mm256_or_si256(outside, k);
            k = _mm256_add_epi32(_mm256_and_si256(k, low),
                                 _mm256_loadu_si256(reinterpret_cast<const __m256i *>(base + j)));
            _mm256_storeu_pd(out + i + j, _mm256_i32gather_pd(table, _mm256_castsi256_si128(k), 8));
            _mm256_storeu_pd(out + i + j + 4, _mm256_i32gather_pd(table, _mm256_extracti128_si256(k, 1), 8));
        }
    }
    return lookup16_plain(values, n, base, run, table, out, i, or_lanes(outside));
}

__attribute__((target("avx2"))) bool lookup16_avx2(const std::int32_t *values, std::size_t n, const std::uint32_t *base,
                                                   std::size_t run, const float *table, float *out) {
    const __m256i offset = _mm256_set1_epi32(0x8000), low = _mm256_set1_epi32(0xFFFF);
    __m256i outside = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + run <= n; i += run) {
        for (std::size_t j = 0; j < run; j += 8) {
            __m256i k = _mm256_add_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(values + i + j)), offset);
            outside = _mm256_or_si256(outside, k);
            k = _mm256_add_epi32(_mm256_and_si256(k, low),
                                 _mm256_loadu_si256(reinterpret_cast<const __m256i *>(base + j)));
            _mm256_storeu_ps(out + i + j, _mm256_i32gather_ps(table, k, 4));
        }
    }
    return lookup16_plain(values, n, base, run, table, out, i, or_lanes(outside));
}

enum class GatherUnit { none, avx2, avx512 };

GatherUnit gather_unit() {
    static const GatherUnit unit = __builtin_cpu_supports("avx512f") ? GatherUnit::avx512
                                   : __builtin_cpu_supports("avx2")  ? GatherUnit::avx2
                                                                     : GatherUnit::none;
    return unit;
}
#endif

template <class Out>
bool lookup16_of(const std::int32_t *values, std::size_t n, const std::uint32_t *base, std::size_t run,
                 const Out *table, Out *out) {
#ifdef SIGTROVE_GATHER_KERNELS
    switch (gather_unit()) {
        case GatherUnit::avx512: return lookup16_avx512(values, n, base, run, table, out);
        case GatherUnit::avx2: return lookup16_avx2(values, n, base, run, table, out);
        case GatherUnit::none: break;
    }
#endif
    return lookup16_plain(values, n, base, run, table, out);
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

bool lookup16_runs(const std::int32_t *values, std::size_t n, const std::uint32_t *base, std::size_t run,
                   const double *table, double *out) {
    return lookup16_of(values, n, base, run, table, out);
}

bool lookup16_runs(const std::int32_t *values, std::size_t n, const std::uint32_t *base, std::size_t run,
                   const float *table, float *out) {
    return lookup16_of(values, n, base, run, table, out);
}

}  // namespace sigtrove::engine
