// Decoders for the bit-packed formats: 212 (two 12-bit samples in 3 bytes),
// 310 and 311 (three 10-bit samples in 4 bytes).
#include <cstdint>

#include "formats/sample_formats.h"

namespace sigtrove::engine {
namespace {

inline std::int32_t sign_extend12(std::uint32_t v) { return static_cast<std::int32_t>(v ^ 0x800) - 0x800; }
inline std::int32_t sign_extend10(std::uint32_t v) { return static_cast<std::int32_t>(v ^ 0x200) - 0x200; }

inline std::uint32_t word16(const std::uint8_t *in) { return in[0] | static_cast<std::uint32_t>(in[1]) << 8; }

}  // namespace

void decode_format212(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
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
