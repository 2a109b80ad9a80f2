// Decoders for the bit-packed formats: 212 (two 12-bit samples in 3 bytes),
// 310 and 311 (three 10-bit samples in 4 bytes).
#include <cstdint>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "formats/sample_formats.h"

namespace sigtrove::engine {
namespace {

inline std::int32_t sign_extend12(std::uint32_t v) { return static_cast<std::int32_t>(v ^ 0x800) - 0x800; }
inline std::int32_t sign_extend10(std::uint32_t v) { return static_cast<std::int32_t>(v ^ 0x200) - 0x200; }

inline std::uint32_t word16(const std::uint8_t *in) { return in[0] | static_cast<std::uint32_t>(in[1]) << 8; }

}  // namespace

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SIGTROVE_X86_DECODERS 1
namespace {

// Four units (12 bytes, 8 samples) per step with byte shuffles; returns the units
// decoded. Every 16-byte load stays inside the `units` units given.
__attribute__((target("ssse3,sse4.1"))) std::size_t decode_format212_sse41(const std::uint8_t *in, std::size_t units,
                                                                           std::int32_t *out) {
    // Each 16-bit lane gets the two bytes its sample is made of: (b0, b1) for the
    // first sample of a unit, (b2, b1) for the second, low byte first.
    const __m128i pairs = _mm_setr_epi8(0, 1, 2, 1, 3, 4, 5, 4, 6, 7, 8, 7, 9, 10, 11, 10);
    // First samples: the low 12 bits. Second samples: b2, and b1's high half shifted to bits 8..11.
    const __m128i low_bits = _mm_setr_epi16(0x0FFF, 0x00FF, 0x0FFF, 0x00FF, 0x0FFF, 0x00FF, 0x0FFF, 0x00FF);
    const __m128i shifted_bits = _mm_setr_epi16(0, 0x0F00, 0, 0x0F00, 0, 0x0F00, 0, 0x0F00);
    std::size_t done = 0;
    for (; done + 6 <= units; done += 4, in += 12, out += 8) {
        __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(in)), pairs);
        __m128i samples = _mm_or_si128(_mm_and_si128(v, low_bits), _mm_and_si128(_mm_srli_epi16(v, 4), shifted_bits));
        samples = _mm_srai_epi16(_mm_slli_epi16(samples, 4), 4);  // sign of bit 11
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_cvtepi16_epi32(samples));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 4), _mm_cvtepi16_epi32(_mm_srli_si128(samples, 8)));
    }
    return done;
}

bool cpu_has_sse41() {
    static const bool has = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("sse4.1");
    return has;
}
}  // namespace
#endif

void decode_format212(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
#ifdef SIGTROVE_X86_DECODERS
    if (cpu_has_sse41()) {
        std::size_t done = decode_format212_sse41(in, units, out);
        in += 3 * done;
        out += 2 * done;
        units -= done;
    }
#endif
    for (std::size_t i = 0; i < units; ++i, in += 3, out += 2) {
        out[0] = sign_extend12(in[0] | (in[1] & 0x0Fu) << 8);
        out[1] = sign_extend12(in[2] | (in[1] & 0xF0u) << 4);
    }
}

std::size_t decode_partial212(const std::uint8_t *in, std::size_t nbytes, std::int32_t *out) {
    if (nbytes < 2) return 0;
    out[0] = sign_extend12(in[0] | (in[1] & 0x0Fu) << 8);
    return 1;
}

void decode_format310(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    for (std::size_t i = 0; i < units; ++i, in += 4, out += 3) {
        std::uint32_t w0 = word16(in), w1 = word16(in + 2);
        out[0] = sign_extend10((w0 >> 1) & 0x3FF);
        out[1] = sign_extend10((w1 >> 1) & 0x3FF);
        out[2] = sign_extend10(((w0 >> 11) & 0x1F) | ((w1 >> 11) & 0x1F) << 5);
    }
}

std::size_t decode_partial310(const std::uint8_t *in, std::size_t nbytes, std::int32_t *out) {
    // The second and third samples both need the second word, so only the first survives.
    if (nbytes < 2) return 0;
    out[0] = sign_extend10((word16(in) >> 1) & 0x3FF);
    return 1;
}

void decode_format311(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    for (std::size_t i = 0; i < units; ++i, in += 4, out += 3) {
        std::uint32_t w = word16(in) | word16(in + 2) << 16;
        out[0] = sign_extend10(w & 0x3FF);
        out[1] = sign_extend10((w >> 10) & 0x3FF);
        out[2] = sign_extend10((w >> 20) & 0x3FF);
    }
}

std::size_t decode_partial311(const std::uint8_t *in, std::size_t nbytes, std::int32_t *out) {
    // Samples end at bytes 2 and 3 (bits 0-9 and 10-19 of the little-endian word).
    if (nbytes < 2) return 0;
    std::uint32_t w = word16(in);
    out[0] = sign_extend10(w & 0x3FF);
    if (nbytes < 3) return 1;
    w |= static_cast<std::uint32_t>(in[2]) << 16;
    out[1] = sign_extend10((w >> 10) & 0x3FF);
    return 2;
}

}  // namespace sigtrove::engine
