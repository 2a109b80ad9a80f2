#include "writers/sample_encoder.h"

namespace sigtrove::engine {
namespace {

inline std::uint8_t byte(std::int32_t v, int shift) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> shift);
}

void put212(const std::int32_t *v, std::uint8_t *out) {
    const auto a = static_cast<std::uint32_t>(v[0]) & 0xFFF, b = static_cast<std::uint32_t>(v[1]) & 0xFFF;
    out[0] = static_cast<std::uint8_t>(a);
    out[1] = static_cast<std::uint8_t>((a >> 8) | (b >> 8) << 4);
    out[2] = static_cast<std::uint8_t>(b);
}

// Two 16-bit words: a and b in bits 1-10, c's low five bits in bits 11-15 of the
// first word and its high five bits in those of the second.
void put310(const std::int32_t *v, std::uint8_t *out) {
    const auto a = static_cast<std::uint32_t>(v[0]) & 0x3FF, b = static_cast<std::uint32_t>(v[1]) & 0x3FF,
               c = static_cast<std::uint32_t>(v[2]) & 0x3FF;
    const std::uint32_t w0 = a << 1 | (c & 0x1F) << 11, w1 = b << 1 | (c >> 5) << 11;
    out[0] = static_cast<std::uint8_t>(w0);
    out[1] = static_cast<std::uint8_t>(w0 >> 8);
    out[2] = static_cast<std::uint8_t>(w1);
    out[3] = static_cast<std::uint8_t>(w1 >> 8);
}

// One little-endian 32-bit word: a, b and c in bits 0-9, 10-19 and 20-29.
void put311(const std::int32_t *v, std::uint8_t *out) {
    const std::uint32_t w = (static_cast<std::uint32_t>(v[0]) & 0x3FF) |
                            (static_cast<std::uint32_t>(v[1]) & 0x3FF) << 10 |
                            (static_cast<std::uint32_t>(v[2]) & 0x3FF) << 20;
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(w >> (8 * i));
}

}  // namespace

SampleEncoder::SampleEncoder(int format)
    : format_(format),
      unit_(format == 212                      ? 2
            : (format == 310 || format == 311) ? 3
                                               : 1) {}

void SampleEncoder::encode(const std::int32_t *values, std::size_t count, std::vector<std::uint8_t> &out) {
    if (unit_ == 1) {
        const std::size_t width = format_ == 8 || format_ == 80 ? 1 : format_ == 24 ? 3 : format_ == 32 ? 4 : 2;
        std::size_t at = out.size();
        out.resize(at + width * count);
        std::uint8_t *p = out.data() + at;
        switch (format_) {
            case 8:
                for (std::size_t i = 0; i < count; ++i) p[i] = byte(values[i], 0);
                break;
            case 80:
                for (std::size_t i = 0; i < count; ++i) p[i] = static_cast<std::uint8_t>(values[i] + 128);
                break;
            case 16:
                for (std::size_t i = 0; i < count; ++i, p += 2) p[0] = byte(values[i], 0), p[1] = byte(values[i], 8);
                break;
            case 61:
                for (std::size_t i = 0; i < count; ++i, p += 2) p[0] = byte(values[i], 8), p[1] = byte(values[i], 0);
                break;
            case 160:
                for (std::size_t i = 0; i < count; ++i, p += 2) {
                    const std::int32_t u = values[i] + 32768;
                    p[0] = byte(u, 0), p[1] = byte(u, 8);
                }
                break;
            case 24:
                for (std::size_t i = 0; i < count; ++i, p += 3)
                    p[0] = byte(values[i], 0), p[1] = byte(values[i], 8), p[2] = byte(values[i], 16);
                break;
            default:  // 32
                for (std::size_t i = 0; i < count; ++i, p += 4)
                    p[0] = byte(values[i], 0), p[1] = byte(values[i], 8), p[2] = byte(values[i], 16),
                    p[3] = byte(values[i], 24);
                break;
        }
        return;
    }
    const std::size_t unit_bytes = format_ == 212 ? 3 : 4;
    auto put = [&](const std::int32_t *unit, std::uint8_t *dest) {
        if (format_ == 212)
            put212(unit, dest);
        else if (format_ == 310)
            put310(unit, dest);
        else
            put311(unit, dest);
    };
    // Complete the unit begun by the last call first.
    while (held_count_ > 0 && count > 0) {
        held_[held_count_++] = *values++;
        --count;
        if (held_count_ == unit_) {
            std::size_t at = out.size();
            out.resize(at + unit_bytes);
            put(held_, out.data() + at);
            held_count_ = 0;
        }
    }
    const std::size_t units = count / static_cast<std::size_t>(unit_);
    std::size_t at = out.size();
    out.resize(at + units * unit_bytes);
    std::uint8_t *p = out.data() + at;
    for (std::size_t u = 0; u < units; ++u, values += unit_, p += unit_bytes) put(values, p);
    for (std::size_t rest = count - units * static_cast<std::size_t>(unit_); rest > 0; --rest)
        held_[held_count_++] = *values++;
}

void SampleEncoder::finish(std::vector<std::uint8_t> &out) {
    if (held_count_ == 0) return;
    // The missing samples count as 0; the reader takes only what the short unit holds:
    // one sample in 2 bytes, two (310, 311) in 4.
    for (int i = held_count_; i < 3; ++i) held_[i] = 0;
    std::uint8_t unit[4];
    if (format_ == 212)
        put212(held_, unit);
    else if (format_ == 310)
        put310(held_, unit);
    else
        put311(held_, unit);
    const std::size_t bytes = held_count_ == 1 ? 2 : 4;
    out.insert(out.end(), unit, unit + bytes);
    held_count_ = 0;
}

}  // namespace sigtrove::engine
