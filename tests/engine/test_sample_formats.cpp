// The sample decoders on byte buffers: known byte patterns, every value the
// writer can encode read back, and what incomplete packing units still hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "formats/sample_formats.h"
#include "record_writer.h"

namespace {

using sigtrove::engine::SampleFormat;
using sigtrove::engine::uncompressed_format;
using sigtrove::testing::encode_samples;

std::vector<std::int32_t> decode_all(int fmt, const std::vector<std::uint8_t> &bytes) {
    const SampleFormat *f = uncompressed_format(fmt);
    auto unit = static_cast<std::size_t>(f->bytes_per_unit);
    std::size_t units = bytes.size() / unit;
    std::vector<std::int32_t> out(units * static_cast<std::size_t>(f->samples_per_unit) + 3);
    f->decode(bytes.data(), units, out.data());
    std::size_t n = units * static_cast<std::size_t>(f->samples_per_unit);
    n += f->decode_partial(bytes.data() + units * unit, bytes.size() - units * unit, out.data() + n);
    out.resize(n);
    return out;
}

struct KnownBytes {
    int fmt;
    std::vector<std::uint8_t> bytes;
    std::vector<std::int32_t> values;
};

void PrintTo(const KnownBytes &k, std::ostream *out) {
    *out << "format " << k.fmt << ", " << k.bytes.size() << " bytes";
}

class KnownPatterns : public ::testing::TestWithParam<KnownBytes> {};

TEST_P(KnownPatterns, DecodeToTheDocumentedValues) {
    const KnownBytes &k = GetParam();
    EXPECT_EQ(decode_all(k.fmt, k.bytes), k.values);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, KnownPatterns,
    ::testing::Values(
        // Format 8 bytes are signed differences (the running sum is the group reader's).
        KnownBytes{8, {0x00, 0x7F, 0x80, 0xFF}, {0, 127, -128, -1}},
        KnownBytes{16, {0x34, 0x12, 0x00, 0x80, 0xFF, 0xFF}, {0x1234, -32768, -1}},
        KnownBytes{61, {0x12, 0x34, 0x80, 0x00, 0xFF, 0xFE}, {0x1234, -32768, -2}},
        KnownBytes{80, {0x00, 0x80, 0xFF}, {-128, 0, 127}},
        KnownBytes{160, {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF}, {-32768, 0, 32767}},
        KnownBytes{24, {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFE, 0xFF, 0xFF}, {-8388608, 8388607, -2}},
        KnownBytes{32, {0x00, 0x00, 0x00, 0x80, 0x01, 0x00, 0x00, 0x00}, {INT32_MIN, 1}},
        // The classic record 100 bytes: E3 33 F3 hold 995 and 1011.
        KnownBytes{212, {0xE3, 0x33, 0xF3}, {995, 1011}}, KnownBytes{212, {0x00, 0x88, 0x00}, {-2048, -2048}},
        KnownBytes{212, {0xFF, 0xFF, 0xFF, 0x05, 0x01}, {-1, -1, 0x105}},  // odd count: 2 bytes at the end
        KnownBytes{212, {0x05}, {}},                                       // 1 byte holds nothing
        KnownBytes{310, {0x02, 0x00, 0x04, 0x00}, {1, 2, 0}}, KnownBytes{310, {0x00, 0xF8, 0x00, 0xF8}, {0, 0, -1}},
        KnownBytes{310, {0x00, 0x04, 0x00, 0x04}, {-512, -512, 0}},
        KnownBytes{310, {0x06, 0x00, 0x01}, {3}},  // a unit cut after 3 bytes keeps its first sample
        KnownBytes{311, {0x01, 0x08, 0x30, 0x00}, {1, 2, 3}},
        KnownBytes{311, {0x00, 0x02, 0x00, 0x20}, {-512, 0, -512}},
        KnownBytes{311, {0xFF, 0xFF, 0x0F}, {-1, -1}},  // cut after 3 bytes: two samples
        KnownBytes{311, {0x05, 0x00}, {5}}));

// Every format, values across its whole range (markers included), through the
// test writer's encoder and back; lengths 0..7 cover every partial unit, the
// longer ones the decoders' wide steps and what is left after them.
class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, WriterAndDecoderAgree) {
    int fmt = GetParam();
    std::mt19937 random(static_cast<unsigned>(fmt));
    long long low = -32768, high = 32767;
    if (fmt == 80) low = -128, high = 127;
    if (fmt == 212) low = -2048, high = 2047;
    if (fmt == 310 || fmt == 311) low = -512, high = 511;
    if (fmt == 24) low = -8388608, high = 8388607;
    if (fmt == 32) low = INT32_MIN, high = INT32_MAX;
    for (std::size_t length : {0, 1, 2, 3, 4, 5, 6, 7, 11, 12, 13, 23, 24, 25, 4099}) {
        std::vector<int> values;
        for (std::size_t i = 0; i < length; ++i) {
            std::uniform_int_distribution<long long> pick(low, high);
            long long v = i == 0 ? low : i == 1 ? high : pick(random);
            values.push_back(static_cast<int>(v));
        }
        std::vector<std::int32_t> decoded = decode_all(fmt, encode_samples(fmt, values));
        // A format 310 file cut after two samples of a unit is written whole: its third sample reads as 0.
        if (fmt == 310 && length % 3 == 2) values.push_back(0);
        EXPECT_EQ(decoded, std::vector<std::int32_t>(values.begin(), values.end())) << "length " << length;
        EXPECT_EQ(sigtrove::engine::samples_in_bytes(*uncompressed_format(fmt),
                                                     static_cast<long long>(encode_samples(fmt, values).size())),
                  static_cast<long long>(values.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip, ::testing::Values(16, 61, 80, 160, 212, 310, 311, 24, 32),
                         [](const auto &info) { return "fmt" + std::to_string(info.param); });

TEST(SampleFormats, InvalidMarkersAndCodes) {
    struct Case {
        int fmt;
        bool has_marker;
        std::int32_t marker;
    };
    for (Case c : {Case{8, false, 0}, Case{16, true, -32768}, Case{61, true, -32768}, Case{80, true, -128},
                   Case{160, true, -32768}, Case{212, true, -2048}, Case{310, true, -512}, Case{311, true, -512},
                   Case{24, true, -8388608}, Case{32, true, INT32_MIN}}) {
        const SampleFormat *f = uncompressed_format(c.fmt);
        ASSERT_NE(f, nullptr) << c.fmt;
        EXPECT_EQ(f->has_invalid_marker, c.has_marker) << c.fmt;
        if (c.has_marker) {
            EXPECT_EQ(f->invalid_marker, c.marker) << c.fmt;
        }
    }
    for (int code : {508, 516, 524, 1, 100, -16}) EXPECT_EQ(uncompressed_format(code), nullptr) << code;
    EXPECT_TRUE(sigtrove::engine::is_flac_format(516));
    EXPECT_FALSE(sigtrove::engine::is_flac_format(16));
}

TEST(SampleFormats, SamplesInBytesCountsWholeSamplesOnly) {
    struct Case {
        int fmt;
        long long bytes, samples;
    };
    for (Case c : {Case{16, 5, 2}, Case{24, 8, 2}, Case{32, 7, 1}, Case{212, 4, 2}, Case{212, 5, 3}, Case{310, 6, 4},
                   Case{310, 7, 4}, Case{311, 6, 4}, Case{311, 7, 5}, Case{8, -3, 0}}) {
        EXPECT_EQ(sigtrove::engine::samples_in_bytes(*uncompressed_format(c.fmt), c.bytes), c.samples)
            << c.fmt << " " << c.bytes;
    }
}

}  // namespace
