#include "signals/sample_kernels.h"

#include <algorithm>
#include <bit>
#include <cstdint>
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

// The compiler leaves the upper lanes of the vector registers in use when a
// kernel returns through its scalar rest; the SSE code that runs next (the
// format decoders, memcpy) then pays for every instruction until they are
// cleared, which measured twice the kernel's own time. So they are cleared here.
__attribute__((target("avx"))) inline void clean_upper_lanes() { _mm256_zeroupper(); }

// A scale in vector lanes: each lane's baseline, gain and reciprocal.
struct Scale8 {
    __m512d baseline, gain, reciprocal;
};
struct Scale4 {
    __m256d baseline, gain, reciprocal;
};

__attribute__((target("avx512f,fma"))) inline Scale8 scale8(const double *baseline, const double *gain,
                                                            const double *reciprocal) {
    return {_mm512_loadu_pd(baseline), _mm512_loadu_pd(gain), _mm512_loadu_pd(reciprocal)};
}

__attribute__((target("avx2,fma"))) inline Scale4 scale4(const double *baseline, const double *gain,
                                                         const double *reciprocal) {
    return {_mm256_loadu_pd(baseline), _mm256_loadu_pd(gain), _mm256_loadu_pd(reciprocal)};
}

// The refined quotient of 8 (4) values (see refined_quotient_runs); lanes
// where `marked` is set start from NaN instead, which every later step keeps
// (the same quiet NaN), so an invalid sample costs no branch and no blend.
__attribute__((target("avx512f,fma"))) inline __m512d refined_quotient8(__m256i v, __mmask8 marked, const Scale8 &s) {
    const __m512d nan = _mm512_set1_pd(std::numeric_limits<double>::quiet_NaN());
    const __m512d x = _mm512_mask_sub_pd(nan, static_cast<__mmask8>(~marked), _mm512_cvtepi32_pd(v), s.baseline);
    const __m512d q0 = _mm512_mul_pd(x, s.reciprocal);
    return _mm512_fmadd_pd(_mm512_fnmadd_pd(q0, s.gain, x), s.reciprocal, q0);
}

__attribute__((target("avx2,fma"))) inline __m256d refined_quotient4(__m128i v, __m256d marked, const Scale4 &s) {
    const __m256d x = _mm256_blendv_pd(_mm256_sub_pd(_mm256_cvtepi32_pd(v), s.baseline),
                                       _mm256_set1_pd(std::numeric_limits<double>::quiet_NaN()), marked);
    const __m256d q0 = _mm256_mul_pd(x, s.reciprocal);
    return _mm256_fmadd_pd(_mm256_fnmadd_pd(q0, s.gain, x), s.reciprocal, q0);
}

// The lowest and highest values seen, kept in vector lanes.
struct Extremes16 {
    __m512i low, high;
};
struct Extremes8 {
    __m256i low, high;
};

// 16 (8) values converted and stored, their extremes taken.
__attribute__((target("avx512f,fma"))) inline void refined_quotient16(const std::int32_t *values, const Scale8 &low,
                                                                      const Scale8 &high, double *out, Extremes16 &e) {
    const __m512i v = _mm512_loadu_si512(values);
    e.low = _mm512_min_epi32(e.low, v);
    e.high = _mm512_max_epi32(e.high, v);
    const __mmask16 marked = _mm512_cmpeq_epi32_mask(v, _mm512_set1_epi32(WFDB_INVALID_SAMPLE));
    _mm512_storeu_pd(out, refined_quotient8(_mm512_castsi512_si256(v), static_cast<__mmask8>(marked), low));
    _mm512_storeu_pd(out + 8,
                     refined_quotient8(_mm512_extracti64x4_epi64(v, 1), static_cast<__mmask8>(marked >> 8), high));
}

__attribute__((target("avx512f,fma"))) inline void refined_quotient16(const std::int32_t *values, const Scale8 &low,
                                                                      const Scale8 &high, float *out, Extremes16 &e) {
    const __m512i v = _mm512_loadu_si512(values);
    e.low = _mm512_min_epi32(e.low, v);
    e.high = _mm512_max_epi32(e.high, v);
    const __mmask16 marked = _mm512_cmpeq_epi32_mask(v, _mm512_set1_epi32(WFDB_INVALID_SAMPLE));
    const __m256 first =
        _mm512_cvtpd_ps(refined_quotient8(_mm512_castsi512_si256(v), static_cast<__mmask8>(marked), low));
    const __m256 second =
        _mm512_cvtpd_ps(refined_quotient8(_mm512_extracti64x4_epi64(v, 1), static_cast<__mmask8>(marked >> 8), high));
    _mm512_storeu_ps(out, _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(first)),
                                                              _mm256_castps_pd(second), 1)));
}

// Lanes of all ones where a value is an invalid sample, widened to the 4 doubles of `half`.
__attribute__((target("avx2,fma"))) inline __m256d marked_lanes(__m256i marked, int half) {
    const __m128i lanes = half == 0 ? _mm256_castsi256_si128(marked) : _mm256_extracti128_si256(marked, 1);
    return _mm256_castsi256_pd(_mm256_cvtepi32_epi64(lanes));
}

__attribute__((target("avx2,fma"))) inline void refined_quotient8(const std::int32_t *values, const Scale4 &low,
                                                                  const Scale4 &high, double *out, Extremes8 &e) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(values));
    e.low = _mm256_min_epi32(e.low, v);
    e.high = _mm256_max_epi32(e.high, v);
    const __m256i marked = _mm256_cmpeq_epi32(v, _mm256_set1_epi32(WFDB_INVALID_SAMPLE));
    _mm256_storeu_pd(out, refined_quotient4(_mm256_castsi256_si128(v), marked_lanes(marked, 0), low));
    _mm256_storeu_pd(out + 4, refined_quotient4(_mm256_extracti128_si256(v, 1), marked_lanes(marked, 1), high));
}

__attribute__((target("avx2,fma"))) inline void refined_quotient8(const std::int32_t *values, const Scale4 &low,
                                                                  const Scale4 &high, float *out, Extremes8 &e) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(values));
    e.low = _mm256_min_epi32(e.low, v);
    e.high = _mm256_max_epi32(e.high, v);
    const __m256i marked = _mm256_cmpeq_epi32(v, _mm256_set1_epi32(WFDB_INVALID_SAMPLE));
    const __m128 first = _mm256_cvtpd_ps(refined_quotient4(_mm256_castsi256_si128(v), marked_lanes(marked, 0), low));
    const __m128 second =
        _mm256_cvtpd_ps(refined_quotient4(_mm256_extracti128_si256(v, 1), marked_lanes(marked, 1), high));
    _mm256_storeu_ps(out, _mm256_insertf128_ps(_mm256_castps128_ps256(first), second, 1));
}

// The values a run's whole vectors leave, one at a time.
template <class Out>
__attribute__((target("avx2,fma"))) void refined_quotient_rest(const std::int32_t *values, std::size_t i, std::size_t n,
                                                               const double *baseline, const double *gain,
                                                               const double *reciprocal, Out *out, ValueRange &range) {
    for (std::size_t j = 0; i < n; ++i, ++j) {
        range.low = std::min(range.low, values[i]);
        range.high = std::max(range.high, values[i]);
        const double x = static_cast<double>(values[i]) - baseline[j];
        const double q0 = x * reciprocal[j];
        const double q = __builtin_fma(__builtin_fma(-q0, gain[j], x), reciprocal[j], q0);
        out[i] = values[i] == WFDB_INVALID_SAMPLE ? std::numeric_limits<Out>::quiet_NaN() : static_cast<Out>(q);
    }
}

// A run of 16 values (every column of one scale, or 2, 4, 8 or 16 columns)
// keeps its scales in registers; longer runs load each vector's scales.
template <class Out>
__attribute__((target("avx512f,fma"))) ValueRange refined_quotient_avx512(const std::int32_t *values, std::size_t n,
                                                                          const double *baseline, const double *gain,
                                                                          const double *reciprocal, std::size_t run,
                                                                          Out *out) {
    Extremes16 e{_mm512_set1_epi32(INT32_MAX), _mm512_set1_epi32(INT32_MIN)};
    std::size_t i = 0;
    if (run == 16) {
        const Scale8 low = scale8(baseline, gain, reciprocal), high = scale8(baseline + 8, gain + 8, reciprocal + 8);
        for (; i + 16 <= n; i += 16) refined_quotient16(values + i, low, high, out + i, e);
    } else {
        for (; i + run <= n; i += run)
            for (std::size_t j = 0; j < run; j += 16)
                refined_quotient16(values + i + j, scale8(baseline + j, gain + j, reciprocal + j),
                                   scale8(baseline + j + 8, gain + j + 8, reciprocal + j + 8), out + i + j, e);
    }
    ValueRange range{_mm512_reduce_min_epi32(e.low), _mm512_reduce_max_epi32(e.high)};
    refined_quotient_rest(values, i, n, baseline, gain, reciprocal, out, range);
    clean_upper_lanes();
    return range;
}

__attribute__((target("avx2"))) std::int32_t lowest_lane(__m256i v) {
    alignas(32) std::int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), v);
    return *std::min_element(lanes, lanes + 8);
}

__attribute__((target("avx2"))) std::int32_t highest_lane(__m256i v) {
    alignas(32) std::int32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lanes), v);
    return *std::max_element(lanes, lanes + 8);
}

template <class Out>
__attribute__((target("avx2,fma"))) ValueRange refined_quotient_avx2(const std::int32_t *values, std::size_t n,
                                                                     const double *baseline, const double *gain,
                                                                     const double *reciprocal, std::size_t run,
                                                                     Out *out) {
    Extremes8 e{_mm256_set1_epi32(INT32_MAX), _mm256_set1_epi32(INT32_MIN)};
    std::size_t i = 0;
    if (run == 16) {
        const Scale4 s0 = scale4(baseline, gain, reciprocal), s1 = scale4(baseline + 4, gain + 4, reciprocal + 4);
        const Scale4 s2 = scale4(baseline + 8, gain + 8, reciprocal + 8);
        const Scale4 s3 = scale4(baseline + 12, gain + 12, reciprocal + 12);
        for (; i + 16 <= n; i += 16) {
            refined_quotient8(values + i, s0, s1, out + i, e);
            refined_quotient8(values + i + 8, s2, s3, out + i + 8, e);
        }
    } else {
        for (; i + run <= n; i += run)
            for (std::size_t j = 0; j < run; j += 8)
                refined_quotient8(values + i + j, scale4(baseline + j, gain + j, reciprocal + j),
                                  scale4(baseline + j + 4, gain + j + 4, reciprocal + j + 4), out + i + j, e);
    }
    ValueRange range{lowest_lane(e.low), highest_lane(e.high)};
    refined_quotient_rest(values, i, n, baseline, gain, reciprocal, out, range);
    clean_upper_lanes();
    return range;
}

// Rows of one scale: the whole vectors of each row, then its rest under a lane
// mask (AVX-512) or one value at a time (AVX2).
template <class Out>
__attribute__((target("avx512f,fma"))) ValueRange refined_quotient_rows_avx512(const std::int32_t *values,
                                                                               std::size_t in_stride, std::size_t rows,
                                                                               std::size_t width, double baseline,
                                                                               double gain, double reciprocal, Out *out,
                                                                               std::size_t out_stride) {
    const Scale8 s{_mm512_set1_pd(baseline), _mm512_set1_pd(gain), _mm512_set1_pd(reciprocal)};
    Extremes16 e{_mm512_set1_epi32(INT32_MAX), _mm512_set1_epi32(INT32_MIN)};
    const std::size_t whole = width / 16 * 16;
    const auto rest = static_cast<__mmask16>((1u << (width % 16)) - 1);
    const __m512i invalid = _mm512_set1_epi32(WFDB_INVALID_SAMPLE);
    for (std::size_t r = 0; r < rows; ++r) {
        const std::int32_t *in = values + r * in_stride;
        Out *to = out + r * out_stride;
        for (std::size_t j = 0; j < whole; j += 16) refined_quotient16(in + j, s, s, to + j, e);
        if (rest == 0) continue;
        const __m512i v = _mm512_maskz_loadu_epi32(rest, in + whole);
        e.low = _mm512_mask_min_epi32(e.low, rest, e.low, v);
        e.high = _mm512_mask_max_epi32(e.high, rest, e.high, v);
        const __mmask16 marked = _mm512_cmpeq_epi32_mask(v, invalid);
        const __m512d low = refined_quotient8(_mm512_castsi512_si256(v), static_cast<__mmask8>(marked), s);
        const __m512d high = refined_quotient8(_mm512_extracti64x4_epi64(v, 1), static_cast<__mmask8>(marked >> 8), s);
        if constexpr (std::is_same_v<Out, double>) {
            _mm512_mask_storeu_pd(to + whole, static_cast<__mmask8>(rest), low);
            _mm512_mask_storeu_pd(to + whole + 8, static_cast<__mmask8>(rest >> 8), high);
        } else {
            const __m512 both =
                _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(_mm512_cvtpd_ps(low))),
                                                    _mm256_castps_pd(_mm512_cvtpd_ps(high)), 1));
            _mm512_mask_storeu_ps(to + whole, rest, both);
        }
    }
    const ValueRange range{_mm512_reduce_min_epi32(e.low), _mm512_reduce_max_epi32(e.high)};
    clean_upper_lanes();
    return range;
}

template <class Out>
__attribute__((target("avx2,fma"))) ValueRange refined_quotient_rows_avx2(const std::int32_t *values,
                                                                          std::size_t in_stride, std::size_t rows,
                                                                          std::size_t width, double baseline,
                                                                          double gain, double reciprocal, Out *out,
                                                                          std::size_t out_stride) {
    const Scale4 s{_mm256_set1_pd(baseline), _mm256_set1_pd(gain), _mm256_set1_pd(reciprocal)};
    Extremes8 e{_mm256_set1_epi32(INT32_MAX), _mm256_set1_epi32(INT32_MIN)};
    const std::size_t whole = width / 8 * 8;
    const double b[1] = {baseline}, g[1] = {gain}, q[1] = {reciprocal};
    ValueRange range{INT32_MAX, INT32_MIN};
    for (std::size_t r = 0; r < rows; ++r) {
        const std::int32_t *in = values + r * in_stride;
        Out *to = out + r * out_stride;
        for (std::size_t j = 0; j < whole; j += 8) refined_quotient8(in + j, s, s, to + j, e);
        for (std::size_t j = whole; j < width; ++j) refined_quotient_rest(in, j, j + 1, b, g, q, to, range);
    }
    range = {std::min(range.low, lowest_lane(e.low)), std::max(range.high, highest_lane(e.high))};
    clean_upper_lanes();
    return range;
}

// Each run's lanes are loaded under its mask from an address `column` values
// before its first value, so that its values land in the lanes of their columns;
// the lanes outside the mask are never read.
template <class Out>
__attribute__((target("avx512f,fma"))) ValueRange
refined_quotient_gathered_avx512(const ColumnRun *runs, std::size_t run_count, std::size_t rows, std::size_t columns,
                                 const double *baseline, const double *gain, const double *reciprocal, Out *out) {
    const Scale8 low = scale8(baseline, gain, reciprocal), high = scale8(baseline + 8, gain + 8, reciprocal + 8);
    Extremes16 e{_mm512_set1_epi32(INT32_MAX), _mm512_set1_epi32(INT32_MIN)};
    const auto row_lanes = static_cast<__mmask16>((1u << columns) - 1);
    __mmask16 lanes[16];
    std::uintptr_t start[16];
    for (std::size_t k = 0; k < run_count; ++k) {
        lanes[k] = static_cast<__mmask16>(((1u << runs[k].width) - 1) << runs[k].column);
        start[k] = reinterpret_cast<std::uintptr_t>(runs[k].first) - runs[k].column * sizeof(std::int32_t);
    }
    const __m512i invalid = _mm512_set1_epi32(WFDB_INVALID_SAMPLE);
    for (std::size_t r = 0; r < rows; ++r, out += columns) {
        __m512i v = _mm512_setzero_si512();
        for (std::size_t k = 0; k < run_count; ++k)
            v = _mm512_mask_loadu_epi32(
                v, lanes[k], reinterpret_cast<const void *>(start[k] + r * runs[k].stride * sizeof(std::int32_t)));
        e.low = _mm512_mask_min_epi32(e.low, row_lanes, e.low, v);
        e.high = _mm512_mask_max_epi32(e.high, row_lanes, e.high, v);
        const __mmask16 marked = _mm512_cmpeq_epi32_mask(v, invalid);
        const __m512d first = refined_quotient8(_mm512_castsi512_si256(v), static_cast<__mmask8>(marked), low);
        const __m512d second =
            refined_quotient8(_mm512_extracti64x4_epi64(v, 1), static_cast<__mmask8>(marked >> 8), high);
        if constexpr (std::is_same_v<Out, double>) {
            _mm512_mask_storeu_pd(out, static_cast<__mmask8>(row_lanes), first);
            _mm512_mask_storeu_pd(out + 8, static_cast<__mmask8>(row_lanes >> 8), second);
        } else {
            const __m512 both =
                _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(_mm512_cvtpd_ps(first))),
                                                    _mm256_castps_pd(_mm512_cvtpd_ps(second)), 1));
            _mm512_mask_storeu_ps(out, row_lanes, both);
        }
    }
    const ValueRange range{_mm512_reduce_min_epi32(e.low), _mm512_reduce_max_epi32(e.high)};
    clean_upper_lanes();
    return range;
}

enum class FusedUnit { none, avx2, avx512 };

FusedUnit fused_unit() {
    static const FusedUnit unit = !__builtin_cpu_supports("fma")      ? FusedUnit::none
                                  : __builtin_cpu_supports("avx512f") ? FusedUnit::avx512
                                  : __builtin_cpu_supports("avx2")    ? FusedUnit::avx2
                                                                      : FusedUnit::none;
    return unit;
}

enum class GatherUnit { none, avx2, avx512 };

GatherUnit gather_unit() {
    static const GatherUnit unit = __builtin_cpu_supports("avx512f") ? GatherUnit::avx512
                                   : __builtin_cpu_supports("avx2")  ? GatherUnit::avx2
                                                                     : GatherUnit::none;
    return unit;
}

// One vector of a run into its sums, its markers replaced with `Replacing`.
template <bool Replacing, class Value>
__attribute__((target("avx512f"))) inline void take16(__m512i &sum, Value *at, __m512i taken, __m512i marked,
                                                      __m512i invalid) {
    const __m512i v = _mm512_loadu_si512(at);
    sum = _mm512_add_epi32(sum, _mm512_and_si512(v, taken));
    if constexpr (Replacing) _mm512_mask_storeu_epi32(at, _mm512_cmpeq_epi32_mask(v, marked), invalid);
}

template <bool Replacing, class Value>
__attribute__((target("avx2"))) inline void take8(__m256i &sum, Value *at, __m256i taken, __m256i marked,
                                                  __m256i invalid) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
    sum = _mm256_add_epi32(sum, _mm256_and_si256(v, taken));
    if constexpr (Replacing) _mm256_maskstore_epi32(at, _mm256_cmpeq_epi32(v, marked), invalid);
}

// The masked sums of places [0, j) of `runs` whole runs, for the largest j that
// is a whole number of vectors; returns j. Each vector of places is summed down
// every run in two registers, so no sum goes through memory run after run. With
// `Replacing`, each value equal to `marker` becomes WFDB_INVALID_SAMPLE once summed.
template <bool Replacing, class Value>
__attribute__((target("avx512f"))) std::size_t add_masked_places_avx512(Value *values, std::size_t runs,
                                                                        const std::uint32_t *mask, std::size_t run,
                                                                        std::uint32_t *lanes, std::int32_t marker) {
    const __m512i marked = _mm512_set1_epi32(marker), invalid = _mm512_set1_epi32(WFDB_INVALID_SAMPLE);
    std::size_t j = 0;
    for (; j + 16 <= run; j += 16) {
        const __m512i taken = _mm512_loadu_si512(mask + j);
        __m512i even = _mm512_setzero_si512(), odd = _mm512_setzero_si512();
        Value *v = values + j;
        std::size_t r = 0;
        for (; r + 2 <= runs; r += 2, v += 2 * run) {
            take16<Replacing>(even, v, taken, marked, invalid);
            take16<Replacing>(odd, v + run, taken, marked, invalid);
        }
        if (r < runs) take16<Replacing>(even, v, taken, marked, invalid);
        const __m512i sum = _mm512_add_epi32(_mm512_add_epi32(even, odd), _mm512_loadu_si512(lanes + j));
        _mm512_storeu_si512(lanes + j, sum);
    }
    clean_upper_lanes();
    return j;
}

template <bool Replacing, class Value>
__attribute__((target("avx2"))) std::size_t add_masked_places_avx2(Value *values, std::size_t runs,
                                                                   const std::uint32_t *mask, std::size_t run,
                                                                   std::uint32_t *lanes, std::int32_t marker) {
    const __m256i marked = _mm256_set1_epi32(marker), invalid = _mm256_set1_epi32(WFDB_INVALID_SAMPLE);
    std::size_t j = 0;
    for (; j + 8 <= run; j += 8) {
        const __m256i taken = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(mask + j));
        __m256i even = _mm256_setzero_si256(), odd = _mm256_setzero_si256();
        Value *v = values + j;
        std::size_t r = 0;
        for (; r + 2 <= runs; r += 2, v += 2 * run) {
            take8<Replacing>(even, v, taken, marked, invalid);
            take8<Replacing>(odd, v + run, taken, marked, invalid);
        }
        if (r < runs) take8<Replacing>(even, v, taken, marked, invalid);
        __m256i *place = reinterpret_cast<__m256i *>(lanes + j);
        _mm256_storeu_si256(place, _mm256_add_epi32(_mm256_add_epi32(even, odd), _mm256_loadu_si256(place)));
    }
    clean_upper_lanes();
    return j;
}
#endif

// add_masked_runs, and with `Replacing` marker replacement in the same pass.
template <bool Replacing, class Value>
void add_masked_runs_of(Value *values, std::size_t n, const std::uint32_t *mask, std::size_t run, std::uint32_t *lanes,
                        std::int32_t marker) {
    const std::size_t runs = run == 0 ? 0 : n / run;
    std::size_t j = 0;
#ifdef SIGTROVE_GATHER_KERNELS
    switch (gather_unit()) {
        case GatherUnit::avx512:
            j = add_masked_places_avx512<Replacing, Value>(values, runs, mask, run, lanes, marker);
            break;
        case GatherUnit::avx2:
            j = add_masked_places_avx2<Replacing, Value>(values, runs, mask, run, lanes, marker);
            break;
        case GatherUnit::none: break;
    }
#endif
    auto take = [&](std::uint32_t &sum, std::size_t i, std::size_t place) {
        sum += static_cast<std::uint32_t>(values[i]) & mask[place];
        if constexpr (Replacing) values[i] = values[i] == marker ? WFDB_INVALID_SAMPLE : values[i];
    };
    for (; j < run; ++j) {
        std::uint32_t sum = 0;
        for (std::size_t r = 0; r < runs; ++r) take(sum, r * run + j, j);
        lanes[j] += sum;
    }
    const std::size_t whole = runs * run;
    for (std::size_t k = 0; whole + k < n; ++k) take(lanes[k], whole + k, k);
}

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

void add_masked_runs(const std::int32_t *values, std::size_t n, const std::uint32_t *mask, std::size_t run,
                     std::uint32_t *lanes) {
    add_masked_runs_of<false>(values, n, mask, run, lanes, 0);
}

void add_masked_runs_replacing(std::int32_t *values, std::size_t n, const std::uint32_t *mask, std::size_t run,
                               std::uint32_t *lanes, std::int32_t marker) {
    add_masked_runs_of<true>(values, n, mask, run, lanes, marker);
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

bool refined_quotient_available() {
#ifdef SIGTROVE_GATHER_KERNELS
    return fused_unit() != FusedUnit::none;
#else
    return false;
#endif
}

template <class Out>
ValueRange refined_quotient_of(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                               const double *reciprocal, std::size_t run, Out *out) {
#ifdef SIGTROVE_GATHER_KERNELS
    switch (fused_unit()) {
        case FusedUnit::avx512: return refined_quotient_avx512(values, n, baseline, gain, reciprocal, run, out);
        case FusedUnit::avx2: return refined_quotient_avx2(values, n, baseline, gain, reciprocal, run, out);
        case FusedUnit::none: break;
    }
#endif
    // Not reached where refined_quotient_available() is false; the division is the same number.
    (void)reciprocal;
    physical_runs(values, n, baseline, gain, run, out);
    ValueRange range{values[0], values[0]};
    for (std::size_t i = 1; i < n; ++i) range = {std::min(range.low, values[i]), std::max(range.high, values[i])};
    return range;
}

bool refined_quotient_gathers() {
#ifdef SIGTROVE_GATHER_KERNELS
    return fused_unit() == FusedUnit::avx512;
#else
    return false;
#endif
}

template <class Out>
ValueRange refined_quotient_gathered_of(const ColumnRun *runs, std::size_t run_count, std::size_t rows,
                                        std::size_t columns, const double *baseline, const double *gain,
                                        const double *reciprocal, Out *out) {
#ifdef SIGTROVE_GATHER_KERNELS
    if (fused_unit() == FusedUnit::avx512)
        return refined_quotient_gathered_avx512(runs, run_count, rows, columns, baseline, gain, reciprocal, out);
#endif
    // Not reached where refined_quotient_gathers() is false; the division is the same number.
    (void)reciprocal;
    ValueRange range{INT32_MAX, INT32_MIN};
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t k = 0; k < run_count; ++k)
            for (std::size_t j = 0; j < runs[k].width; ++j) {
                const std::int32_t v = runs[k].first[r * runs[k].stride + j];
                const std::size_t c = runs[k].column + j;
                range = {std::min(range.low, v), std::max(range.high, v)};
                out[r * columns + c] = physical_value<Out>(v, baseline[c], gain[c]);
            }
    return range;
}

ValueRange refined_quotient_gathered(const ColumnRun *runs, std::size_t run_count, std::size_t rows,
                                     std::size_t columns, const double *baseline, const double *gain,
                                     const double *reciprocal, double *out) {
    return refined_quotient_gathered_of(runs, run_count, rows, columns, baseline, gain, reciprocal, out);
}

ValueRange refined_quotient_gathered(const ColumnRun *runs, std::size_t run_count, std::size_t rows,
                                     std::size_t columns, const double *baseline, const double *gain,
                                     const double *reciprocal, float *out) {
    return refined_quotient_gathered_of(runs, run_count, rows, columns, baseline, gain, reciprocal, out);
}

template <class Out>
ValueRange refined_quotient_rows_of(const std::int32_t *values, std::size_t in_stride, std::size_t rows,
                                    std::size_t width, double baseline, double gain, double reciprocal, Out *out,
                                    std::size_t out_stride) {
#ifdef SIGTROVE_GATHER_KERNELS
    switch (fused_unit()) {
        case FusedUnit::avx512:
            return refined_quotient_rows_avx512(values, in_stride, rows, width, baseline, gain, reciprocal, out,
                                                out_stride);
        case FusedUnit::avx2:
            return refined_quotient_rows_avx2(values, in_stride, rows, width, baseline, gain, reciprocal, out,
                                              out_stride);
        case FusedUnit::none: break;
    }
#endif
    // Not reached where refined_quotient_available() is false; the division is the same number.
    (void)reciprocal;
    ValueRange range{INT32_MAX, INT32_MIN};
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < width; ++j) {
            const std::int32_t v = values[r * in_stride + j];
            range = {std::min(range.low, v), std::max(range.high, v)};
            out[r * out_stride + j] = physical_value<Out>(v, baseline, gain);
        }
    return range;
}

ValueRange refined_quotient_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                                 double baseline, double gain, double reciprocal, double *out, std::size_t out_stride) {
    return refined_quotient_rows_of(values, in_stride, rows, width, baseline, gain, reciprocal, out, out_stride);
}

ValueRange refined_quotient_rows(const std::int32_t *values, std::size_t in_stride, std::size_t rows, std::size_t width,
                                 double baseline, double gain, double reciprocal, float *out, std::size_t out_stride) {
    return refined_quotient_rows_of(values, in_stride, rows, width, baseline, gain, reciprocal, out, out_stride);
}

ValueRange refined_quotient_runs(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                                 const double *reciprocal, std::size_t run, double *out) {
    return refined_quotient_of(values, n, baseline, gain, reciprocal, run, out);
}

ValueRange refined_quotient_runs(const std::int32_t *values, std::size_t n, const double *baseline, const double *gain,
                                 const double *reciprocal, std::size_t run, float *out) {
    return refined_quotient_of(values, n, baseline, gain, reciprocal, run, out);
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
