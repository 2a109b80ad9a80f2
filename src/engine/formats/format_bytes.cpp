// Decoders for the formats that store each sample in whole bytes: 8, 16, 61,
// 80, 160, 24 and 32.
#include <cstdint>

#include "formats/sample_formats.h"

namespace sigtrove::engine {

void decode_format8(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    // The bytes are differences read as signed chars, as x86 builds of the
    // reference read them.
    for (std::size_t i = 0; i < units; ++i) out[i] = static_cast<std::int8_t>(in[i]);
}

void decode_format16(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    for (std::size_t i = 0; i < units; ++i, in += 2)
        out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(in[0] | in[1] << 8));
}

void decode_format61(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    for (std::size_t i = 0; i < units; ++i, in += 2)
        out[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(in[0] << 8 | in[1]));
}

void decode_format80(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    for (std::size_t i = 0; i < units; ++i) out[i] = static_cast<std::int32_t>(in[i]) - 128;
}

void decode_format160(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    for (std::size_t i = 0; i < units; ++i, in += 2) out[i] = static_cast<std::int32_t>(in[0] | in[1] << 8) - 32768;
}

void decode_format24(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    for (std::size_t i = 0; i < units; ++i, in += 3) {
        std::int32_t v = in[0] | in[1] << 8 | in[2] << 16;
        out[i] = (v ^ 0x800000) - 0x800000;  // sign from bit 23
    }
}

void decode_format32(const std::uint8_t *in, std::size_t units, std::int32_t *out) {
    for (std::size_t i = 0; i < units; ++i, in += 4) {
        std::uint32_t v = static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
                          static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
        out[i] = static_cast<std::int32_t>(v);
    }
}

std::size_t no_partial_samples(const std::uint8_t *, std::size_t, std::int32_t *) { return 0; }

}  // namespace sigtrove::engine
