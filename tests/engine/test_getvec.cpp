// getvec and isigopen through the C interface, on records the test writes:
// every format with its invalid value, groups and separate files, samples per
// frame in both resolutions, pad mode, skew, offsets, ends and early ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/group_reader.h"
#include "header/record_memory.h"
#include "io/byte_source.h"
#include "record/record.h"
#include "record_writer.h"
#include "signal_test_fixture.h"
#include "signals/array_sink.h"
#include "wfdb/wfdb.h"

namespace {

using namespace sigtrove::testing;

struct Range {
    long long low, high;
};

Range range_of(int fmt) {
    switch (fmt) {
        case 80: return {-127, 127};
        case 212: return {-2047, 2047};
        case 310:
        case 311: return {-511, 511};
        case 24: return {-8388607, 8388607};
        case 32: return {-2147483647, 2147483647};
        default: return {-32767, 32767};
    }
}

// Distinct values across the format's range; every 7th sample of signals with
// a marker is invalid. Format 8 steps stay within a byte of each other.
std::vector<int> test_values(int fmt, int signal, std::size_t count) {
    std::vector<int> v;
    Range r = range_of(fmt);
    for (std::size_t i = 0; i < count; ++i) {
        if (fmt == 8) {
            v.push_back(static_cast<int>((static_cast<long long>(i) * 29 + signal * 50) % 255) - 127);
            continue;
        }
        if (i % 7 == 3) {
            v.push_back(WFDB_INVALID_SAMPLE);
            continue;
        }
        long long span = r.high - r.low + 1;
        long long x = (static_cast<long long>(i) * 7919 * (signal + 1) + signal * 104729LL) % span;
        long long value = i == 0 ? r.low : i == 1 ? r.high : r.low + x;
        // -32768 can not be told from the invalid marker by a caller: keep it out.
        v.push_back(static_cast<int>(value == WFDB_INVALID_SAMPLE ? value + 1 : value));
    }
    // Format 8 differences must fit in a byte: rebuild as a walk.
    if (fmt == 8)
        for (std::size_t i = 1; i < v.size(); ++i) v[i] = std::clamp(v[i - 1] + (v[i] % 100), -5000, 5000);
    return v;
}

struct FormatGroup {
    int fmt;
    int nsig;  // signals in one file
};

class EveryFormat : public SignalTest, public ::testing::WithParamInterface<FormatGroup> {};

TEST_P(EveryFormat, DeliversTheStoredValuesAndInvalidSamples) {
    auto [fmt, nsig] = GetParam();
    // Odd, for partial packing units at the end; but a format 310 file whose last
    // unit holds two samples reads a third (zero) one, so that length is avoided.
    std::size_t frames = 23;
    if (fmt == 310 && frames * static_cast<std::size_t>(nsig) % 3 == 2) ++frames;
    RecordToWrite rec;
    std::vector<std::vector<int>> columns;
    for (int s = 0; s < nsig; ++s) {
        columns.push_back(test_values(fmt, s, frames));
        rec.signals.push_back({.file = "rec.dat", .fmt = fmt, .samples = columns.back()});
    }
    write(rec);
    ASSERT_EQ(open("rec"), nsig) << last_error();
    ReadResult r = read_all();
    EXPECT_EQ(r.stop, -1);
    EXPECT_EQ(r.frames, frames_of(columns));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EveryFormat,
    ::testing::Values(FormatGroup{8, 1}, FormatGroup{8, 3}, FormatGroup{16, 2}, FormatGroup{61, 1}, FormatGroup{80, 2},
                      FormatGroup{160, 1}, FormatGroup{212, 1}, FormatGroup{212, 2}, FormatGroup{212, 3},
                      FormatGroup{310, 1}, FormatGroup{310, 2}, FormatGroup{310, 4}, FormatGroup{311, 1},
                      FormatGroup{311, 2}, FormatGroup{311, 5}, FormatGroup{24, 2}, FormatGroup{32, 3}),
    [](const auto &info) { return "fmt" + std::to_string(info.param.fmt) + "_x" + std::to_string(info.param.nsig); });

using GetvecTest = SignalTest;

TEST_F(GetvecTest, SignalsInSeparateFilesAndFormatsReadInStep) {
    RecordToWrite rec;
    std::vector<std::vector<int>> columns = {test_values(212, 0, 40), test_values(212, 1, 40), test_values(16, 2, 40),
                                             test_values(8, 3, 40)};
    rec.signals = {{.file = "a.dat", .fmt = 212, .samples = columns[0]},
                   {.file = "a.dat", .fmt = 212, .samples = columns[1]},
                   {.file = "b.dat", .fmt = 16, .samples = columns[2]},
                   {.file = "c.dat", .fmt = 8, .samples = columns[3]}};
    write(rec);
    ASSERT_EQ(open("rec"), 4);
    EXPECT_EQ(siginfo[0].group, 0u);
    EXPECT_EQ(siginfo[1].group, 0u);
    EXPECT_EQ(siginfo[2].group, 1u);
    EXPECT_EQ(siginfo[3].group, 2u);
    ReadResult r = read_all();
    EXPECT_EQ(r.stop, -1);
    EXPECT_EQ(r.frames, frames_of(columns));
}

TEST_F(GetvecTest, ByteOffsetAndFormat8InitialValue) {
    RecordToWrite rec;
    // INITVAL 100 and a first stored difference of +5: sample 0 reads 105.
    rec.signals = {{.file = "a.dat", .fmt = 8, .offset = 13, .initval = 100, .samples = {105, 90, -20, -147}},
                   {.file = "b.dat", .fmt = 16, .offset = 7, .samples = {1, -2, 3, -4}}};
    write(rec);
    ASSERT_EQ(open("rec"), 2);
    EXPECT_EQ(read_all().frames, (std::vector<Frame>{{105, 1}, {90, -2}, {-20, 3}, {-147, -4}}));
}

TEST_F(GetvecTest, LowResolutionMeansRoundHalfUpAndAnyInvalidSampleIsInvalid) {
    RecordToWrite rec;
    rec.signals = {
        {.file = "a.dat", .fmt = 16, .spf = 2, .samples = {1, 2, -1, -2, -3, -4, 5, 6, 3, WFDB_INVALID_SAMPLE}},
        {.file = "a.dat", .fmt = 16, .spf = 3, .samples = {0, 0, 1, -1, -1, -1, -5, 0, 0, 1, 1, 0, 7, 8, 9}},
        {.file = "a.dat", .fmt = 16, .samples = {10, 11, 12, 13, 14}}};
    write(rec);
    ASSERT_EQ(open("rec"), 3);
    EXPECT_EQ(read_all().frames,
              (std::vector<Frame>{{2, 0, 10}, {-1, -1, 11}, {-3, -2, 12}, {6, 1, 13}, {WFDB_INVALID_SAMPLE, 8, 14}}));
}

TEST_F(GetvecTest, HighResolutionRepeatsSlowerSignals) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .spf = 4, .samples = {0, 1, 2, 3, 4, 5, 6, 7}},
                   {.file = "a.dat", .fmt = 16, .spf = 2, .samples = {10, 11, 12, 13}},
                   {.file = "b.dat", .fmt = 212, .samples = {20, 21}}};
    write(rec);
    ASSERT_EQ(setgvmode(WFDB_HIGHRES), 0);
    ASSERT_EQ(open("rec"), 3);
    ReadResult r = read_all();
    EXPECT_EQ(r.stop, -1);
    EXPECT_EQ(
        r.frames,
        (std::vector<Frame>{
            {0, 10, 20}, {1, 10, 20}, {2, 11, 20}, {3, 11, 20}, {4, 12, 21}, {5, 12, 21}, {6, 13, 21}, {7, 13, 21}}));
}

TEST_F(GetvecTest, EnvironmentChoosesTheModeAtTheFirstOpen) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .spf = 2, .samples = {1, WFDB_INVALID_SAMPLE, 5, 8}}};
    write(rec);
    // High resolution and pad: the invalid sample repeats the previous valid one.
    EnvironmentVariable mode("WFDBGVMODE", "3");
    ASSERT_EQ(open("rec"), 1);
    EXPECT_EQ(read_all().frames, (std::vector<Frame>{{1}, {1}, {5}, {8}}));
    // An explicit setgvmode wins over the environment from then on.
    setgvmode(WFDB_LOWRES);
    ASSERT_EQ(open("rec"), 1);
    EXPECT_EQ(read_all().frames, (std::vector<Frame>{{WFDB_INVALID_SAMPLE}, {7}}));
    setgvmode(-1);
    ASSERT_EQ(open("rec"), 1);
    EXPECT_EQ(read_all().frames.size(), 4u);
}

TEST_F(GetvecTest, PadModeRepeatsTheLastValidSampleStartingFromInitval) {
    RecordToWrite rec;
    const int X = WFDB_INVALID_SAMPLE;
    rec.signals = {{.file = "a.dat", .fmt = 212, .initval = 50, .samples = {X, X, 3, X, 4}},
                   {.file = "a.dat", .fmt = 212, .spf = 2, .samples = {7, X, X, X, X, 9, 1, 2, 3, 4}},
                   {.file = "~", .fmt = 0, .initval = -6, .samples = {0, 0, 0, 0, 0}}};
    write(rec);
    setgvmode(WFDB_GVPAD);
    ASSERT_EQ(open("rec"), 3);
    // Signal 1 averages after padding: (7, 7) -> 7, (7, 7) -> 7, (7, 9) -> 8.
    EXPECT_EQ(read_all().frames, (std::vector<Frame>{{50, 7, -6}, {50, 7, -6}, {3, 8, -6}, {3, 2, -6}, {4, 4, -6}}));
}

TEST_F(GetvecTest, SkewDropsTheLastFramesOfTheMostSkewedSignal) {
    RecordToWrite rec;
    rec.signals = {
        {.file = "a.dat", .fmt = 16, .samples = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {.file = "a.dat", .fmt = 16, .skew = 2, .samples = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19}},
        {.file = "b.dat", .fmt = 16, .spf = 2, .skew = 1, .samples = {20, 21, 22, 23, 24, 25, 26, 27, 28, 29,
                                                                      30, 31, 32, 33, 34, 35, 36, 37, 38, 39}}};
    write(rec);
    ASSERT_EQ(open("rec"), 3);
    ReadResult r = read_all();
    // A skewed signal's checksum still covers its skipped samples: no -4 on the way.
    EXPECT_EQ(r.stop, -1);
    ASSERT_EQ(r.frames.size(), 8u);
    EXPECT_EQ(r.frames[0], (Frame{0, 12, 23}));  // (22 + 23) / 2 rounded half up
    EXPECT_EQ(r.frames[7], (Frame{7, 19, 37}));
}

TEST_F(GetvecTest, EndOfDataLeavesEveryValueInvalidAndRepeats) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 212, .samples = {1, 2, 3}},
                   {.file = "a.dat", .fmt = 212, .samples = {4, 5, 6}}};
    write(rec);
    Frame v{12345, 12345};
    EXPECT_EQ(getvec(v.data()), 0) << "nothing was ever open";
    EXPECT_EQ(v, (Frame{12345, 12345}));
    ASSERT_EQ(open("rec"), 2);
    ASSERT_EQ(read_frames(2, 3).frames.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        v = {12345, 12345};
        EXPECT_EQ(getvec(v.data()), -1);
        EXPECT_EQ(v, (Frame{WFDB_INVALID_SAMPLE, WFDB_INVALID_SAMPLE}));
    }
    // After the signals are closed, getvec reports the end, not "never opened".
    EXPECT_EQ(isigopen(const_cast<char *>("rec"), nullptr, 0), 2);
    EXPECT_EQ(getvec(v.data()), -1);
}

TEST_F(GetvecTest, PartialLastFrameIsNotDelivered) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2, 3}},
                   {.file = "a.dat", .fmt = 16, .samples = {4, 5, 6}}};
    write(rec);
    std::filesystem::resize_file(dir / "a.dat", 10);  // 2.5 frames
    ASSERT_EQ(open("rec"), 2);
    ReadResult r = read_all();
    EXPECT_EQ(r.frames, (std::vector<Frame>{{1, 4}, {2, 5}}));
    EXPECT_EQ(r.stop, -3);
    EXPECT_EQ(last_error(), "getvec: unexpected EOF in signal 1\n");
}

TEST_F(GetvecTest, FileShorterThanItsLengthIsAnUnexpectedEnd) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2, 3, 4}},
                   {.file = "b.dat", .fmt = 311, .samples = {5, 6, 7, 8}}};
    write(rec);
    std::filesystem::resize_file(dir / "b.dat", 3);  // format 311: 3 bytes hold 2 samples
    ASSERT_EQ(open("rec"), 2);
    ReadResult r = read_all();
    EXPECT_EQ(r.frames, (std::vector<Frame>{{1, 5}, {2, 6}}));
    EXPECT_EQ(r.stop, -3);
    EXPECT_EQ(last_error(), "getvec: unexpected EOF in signal 1\n");
    Frame v{1, 1};
    EXPECT_EQ(getvec(v.data()), -3);
    EXPECT_EQ(v, (Frame{WFDB_INVALID_SAMPLE, WFDB_INVALID_SAMPLE}));
}

// A source whose every read fails, as a disk or a server can.
class FailingSource final : public sigtrove::engine::ByteSource {
public:
    explicit FailingSource(std::string reason) : reason_(std::move(reason)) {}
    long long read(std::uint8_t *, std::size_t) override { return -1; }
    bool seek(long long offset) override { return offset >= 0; }
    long long position() const override { return 0; }
    long long size() override { return -1; }
    std::string failure() const override { return reason_; }

private:
    std::string reason_;
};

// A source that fails to read must end reading with an error and a text that
// carries the source's reason, when it gives one.
TEST_F(GetvecTest, ReadErrorIsAnErrorWithItsText) {
    sigtrove::engine::GroupLayout layout;
    layout.fmt = 16;
    layout.spf = {1};
    layout.initval = {0};
    layout.frame_size = 1;
    layout.first_signal = 3;
    for (const char *reason : {"", "http://127.0.0.1:9/r.dat: connection reset"}) {
        auto reader = sigtrove::engine::open_uncompressed_group_reader(
            layout, std::make_shared<sigtrove::engine::SignalFileHandle>(std::make_unique<FailingSource>(reason)));
        ASSERT_NE(reader, nullptr);
        std::int32_t frames[4];
        EXPECT_EQ(reader->read_frames(frames, 4), -1);
        std::string expected = *reason ? std::string(" (") + reason + ")" : "";
        EXPECT_EQ(last_error(), "getvec: can't read the file of signal 3" + expected + "\n");
        EXPECT_EQ(reader->frame_count(), -1) << "a source of unknown length";
    }
    // A local "file" that is a directory: it opens, and no read of it succeeds.
    auto reader = sigtrove::engine::open_uncompressed_group_reader(
        layout, std::make_shared<sigtrove::engine::SignalFileHandle>(dir.path()));
    ASSERT_NE(reader, nullptr);
    std::int32_t frames[4];
    EXPECT_EQ(reader->read_frames(frames, 4), -1);
    EXPECT_EQ(last_error(), "getvec: can't read the file of signal 3\n");
    EXPECT_EQ(reader->frame_count(), -1) << "not a regular file: no length";
}

TEST_F(GetvecTest, LongerFileIsReadToItsEndWithoutLengthOrChecksum) {
    RecordToWrite rec;
    rec.nsamp = 2;  // the header says 2, the file holds 4
    rec.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2, 3, 4}, .with_checksum = false}};
    write(rec);
    ASSERT_EQ(open("rec"), 1);
    EXPECT_EQ(siginfo[0].nsamp, 0);
    ReadResult r = read_all();
    EXPECT_EQ(r.frames.size(), 4u);
    EXPECT_EQ(r.stop, -1);
}

TEST_F(GetvecTest, ChecksumMismatchIsReportedOnTheLastFrameWithItsValues) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2, 3}},
                   {.file = "a.dat", .fmt = 16, .samples = {4, 5, 6}, .checksum = 16}};
    write(rec);
    ASSERT_EQ(open("rec"), 2);
    ReadResult r = read_all();
    EXPECT_EQ(r.stop, -4);
    EXPECT_EQ(r.frames, (std::vector<Frame>{{1, 4}, {2, 5}, {3, 6}}));
    EXPECT_EQ(last_error(), "getvec: checksum error in signal 1\n");
    EXPECT_EQ(read_all().stop, -1);
}

// A group ends with its most skewed signal: with a skew of 2, six stored frames
// give four. Every signal's checksum covers its six stored samples, and a wrong one
// is reported on the last frame delivered, whichever signal of the group is skewed.
struct SkewedChecksumCase {
    const char *name;
    std::optional<int> checksum0, checksum1;  // none: the right one
    int skew0, skew1;
    const char *text;  // the last checksum text, "" for none
};

class SkewedChecksum : public SignalTest, public ::testing::WithParamInterface<SkewedChecksumCase> {};

TEST_P(SkewedChecksum, IsTestedOnTheLastDeliveredFrame) {
    const SkewedChecksumCase &c = GetParam();
    RecordToWrite rec;
    rec.signals = {
        {.file = "a.dat", .fmt = 16, .skew = c.skew0, .samples = {1, 2, 3, 4, 5, 6}, .checksum = c.checksum0},
        {.file = "a.dat", .fmt = 16, .skew = c.skew1, .samples = {11, 12, 13, 14, 15, 16}, .checksum = c.checksum1}};
    write(rec);
    ASSERT_EQ(open("rec"), 2);
    ReadResult r = read_all();
    const bool wrong = *c.text != '\0';
    ASSERT_EQ(r.frames.size(), 4u);
    EXPECT_EQ(r.stop, wrong ? -4 : -1);
    if (wrong) {
        EXPECT_EQ(last_error(), c.text);
    }

    std::unique_ptr<sigtrove::engine::Record> record;
    ASSERT_TRUE(sigtrove::engine::Record::open("rec", record).ok());
    std::vector<std::int32_t> out(2 * 10);
    auto sink = sigtrove::engine::make_array_sink(sigtrove::engine::SampleType::int32, out.data(), 2,
                                                  sigtrove::engine::SampleRate::frame, {});
    sigtrove::engine::BulkOutcome outcome;
    EXPECT_TRUE(record->read(0, 10, {0, 1}, *sink, outcome).ok());
    EXPECT_EQ(outcome.frames, 4);
    EXPECT_EQ(outcome.checksum_mismatch, wrong);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SkewedChecksum,
    ::testing::Values(
        SkewedChecksumCase{"Right", {}, {}, 0, 2, ""},
        SkewedChecksumCase{"WrongOnTheUnskewedSignal", 99, {}, 0, 2, "getvec: checksum error in signal 0\n"},
        SkewedChecksumCase{"WrongOnTheSkewedSignal", {}, 99, 0, 2, "getvec: checksum error in signal 1\n"},
        SkewedChecksumCase{"WrongOnTheLessSkewedSignal", 99, {}, 1, 2, "getvec: checksum error in signal 0\n"},
        SkewedChecksumCase{"WrongOnBoth", 99, 99, 2, 0, "getvec: checksum error in signal 1\n"}),
    [](const ::testing::TestParamInfo<SkewedChecksumCase> &info) { return std::string(info.param.name); });

// Checksums of groups read in many blocks: frames of 1 to 300 samples (sums run
// over runs of whole rows in vectors, with a scalar rest for wide frames), values
// over the format's whole range so that sums wrap, invalid samples whose stored
// markers are summed and then delivered as invalid (format 212), and every
// signal's checksum tested, each in turn made wrong by one.
struct LongChecksumCase {
    const char *name;
    int fmt, signals, spf, frames;
};

class LongChecksum : public SignalTest, public ::testing::WithParamInterface<LongChecksumCase> {};

TEST_P(LongChecksum, EverySignalIsSummedOverEveryBlock) {
    const LongChecksumCase &c = GetParam();
    const int marker = invalid_marker(c.fmt), highest = c.fmt == 212 ? 2047 : 32767;
    std::uint32_t state = 12345;
    auto next_value = [&state, highest] {
        state = state * 1664525u + 1013904223u;
        if ((state >> 8) % 97 == 0) return WFDB_INVALID_SAMPLE;
        return static_cast<int>((state >> 16) % static_cast<unsigned>(2 * highest + 1)) - highest;
    };
    std::vector<std::vector<int>> samples(static_cast<std::size_t>(c.signals));
    for (int f = 0; f < c.frames; ++f)
        for (auto &signal : samples)
            for (int k = 0; k < c.spf; ++k) signal.push_back(next_value());
    auto checksum_of = [marker](const std::vector<int> &values) {
        unsigned sum = 0;
        for (int v : values) sum += static_cast<unsigned>(v == WFDB_INVALID_SAMPLE ? marker : v);
        return static_cast<int>(static_cast<std::int16_t>(static_cast<std::uint16_t>(sum & 0xFFFF)));
    };
    for (int wrong = -1; wrong < c.signals; ++wrong) {
        RecordToWrite rec;
        for (int s = 0; s < c.signals; ++s) {
            const auto &values = samples[static_cast<std::size_t>(s)];
            const int right = checksum_of(values);
            rec.signals.push_back({.file = "a.dat",
                                   .fmt = c.fmt,
                                   .spf = c.spf,
                                   .samples = values,
                                   .checksum = s == wrong ? (right == 32767 ? -32768 : right + 1) : right});
        }
        write(rec);
        std::unique_ptr<sigtrove::engine::Record> record;
        ASSERT_TRUE(sigtrove::engine::Record::open("rec", record).ok());
        std::vector<std::size_t> chosen;
        for (std::size_t s = 0; s < samples.size(); ++s) chosen.push_back(s);
        std::vector<std::int32_t> out(chosen.size() * static_cast<std::size_t>(c.frames) *
                                      static_cast<std::size_t>(c.spf));
        auto sink = sigtrove::engine::make_array_sink(sigtrove::engine::SampleType::int32, out.data(), 1,
                                                      sigtrove::engine::SampleRate::own, {});
        sigtrove::engine::BulkOutcome outcome;
        // Signal 0 at its own rate: every stored sample, markers delivered as invalid samples.
        EXPECT_TRUE(record->read(0, c.frames, {0}, *sink, outcome).ok());
        EXPECT_EQ(outcome.frames, c.frames);
        EXPECT_EQ(outcome.checksum_mismatch, wrong >= 0) << "signal " << wrong << " made wrong";
        out.resize(samples[0].size());
        EXPECT_EQ(out, std::vector<std::int32_t>(samples[0].begin(), samples[0].end()));
        // Frame by frame, the text names the signal.
        ASSERT_EQ(open("rec"), c.signals);
        const ReadResult r = read_all();
        EXPECT_EQ(r.frames.size(), static_cast<std::size_t>(c.frames));
        EXPECT_EQ(r.stop, wrong >= 0 ? -4 : -1);
        if (wrong >= 0) {
            EXPECT_EQ(last_error(), "getvec: checksum error in signal " + std::to_string(wrong) + "\n");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Groups, LongChecksum,
                         ::testing::Values(LongChecksumCase{"OneSignal", 16, 1, 1, 40000},
                                           LongChecksumCase{"TwoSignals", 16, 2, 1, 30000},
                                           LongChecksumCase{"TwoSignalsOfFormat212", 212, 2, 1, 30000},
                                           LongChecksumCase{"ThreeSignalsOfFormat212", 212, 3, 1, 20000},
                                           LongChecksumCase{"TwelveSignals", 16, 12, 1, 5000},
                                           LongChecksumCase{"SeventeenSignalsOfFormat212", 212, 17, 1, 3000},
                                           LongChecksumCase{"FramesOf300Samples", 16, 1, 300, 400},
                                           LongChecksumCase{"FramesOf2x150SamplesOfFormat212", 212, 2, 150, 300}),
                         [](const ::testing::TestParamInfo<LongChecksumCase> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(GetvecTest, ChecksumCoversStoredMarkersAndFormat8RunningValues) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 212, .samples = {WFDB_INVALID_SAMPLE, 2047, -7}},
                   {.file = "b.dat", .fmt = 8, .initval = 1000, .samples = {1000, 1100, 1200}},
                   {.file = "c.dat", .fmt = 32, .samples = {WFDB_INVALID_SAMPLE, 65536 * 3 + 5, -1}}};
    write(rec);
    ASSERT_EQ(open("rec"), 3);
    ReadResult r = read_all();
    EXPECT_EQ(r.stop, -1) << last_error();
    EXPECT_EQ(r.frames.size(), 3u);
}

TEST_F(GetvecTest, Format0SignalsAreInvalidForTheirLength) {
    RecordToWrite rec;
    rec.signals = {{.file = "~", .fmt = 0, .samples = {0, 0, 0}}, {.file = "a.dat", .fmt = 16, .samples = {1, 2, 3}}};
    write(rec);
    ASSERT_EQ(open("rec"), 2);
    ReadResult r = read_all();
    EXPECT_EQ(r.frames,
              (std::vector<Frame>{{WFDB_INVALID_SAMPLE, 1}, {WFDB_INVALID_SAMPLE, 2}, {WFDB_INVALID_SAMPLE, 3}}));
    // The reference reports the end of a format 0 signal of known length as an early end.
    EXPECT_EQ(r.stop, -3);
    EXPECT_EQ(last_error(), "getvec: unexpected EOF in signal 0\n");
}

TEST_F(GetvecTest, Format0SignalsOfUnknownLength) {
    RecordToWrite alone;
    alone.nsamp = -1;
    alone.signals = {{.file = "~", .fmt = 0, .samples = {0, 0}, .with_checksum = false}};
    write(alone);
    ASSERT_EQ(open("rec"), 1);
    Frame v{5};
    EXPECT_EQ(getvec(v.data()), -1);
    EXPECT_EQ(v, Frame{WFDB_INVALID_SAMPLE});

    // Beside a file they last as long as the file does.
    RecordToWrite mixed;
    mixed.name = "mixed";
    mixed.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2}, .with_checksum = false},
                     {.file = "~", .fmt = 0, .samples = {0, 0}, .with_checksum = false}};
    write(mixed);
    ASSERT_EQ(open("mixed"), 2);
    ReadResult r = read_all();
    EXPECT_EQ(r.frames, (std::vector<Frame>{{1, WFDB_INVALID_SAMPLE}, {2, WFDB_INVALID_SAMPLE}}));
    EXPECT_EQ(r.stop, -1);
}

using IsigopenTest = SignalTest;

TEST_F(IsigopenTest, HeaderOnlyFormsOpenNothing) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2}, .desc = "first"},
                   {.file = "b.dat", .fmt = 212, .samples = {3, 4}}};
    write(rec);
    ASSERT_EQ(open("rec"), 2);
    EXPECT_EQ(isigopen(const_cast<char *>("rec"), nullptr, 0), 2);
    Frame v(2);
    EXPECT_EQ(getvec(v.data()), -1) << "the header-only open closed the signals";

    WFDB_Siginfo shallow[2] = {};
    EXPECT_EQ(isigopen(const_cast<char *>("rec"), shallow, -1), 2);
    EXPECT_STREQ(shallow[0].desc, "first");
    EXPECT_EQ(shallow[0].nsamp, 2);
    EXPECT_EQ(shallow[1].fname, nullptr) << "only -nsig entries are filled";
    EXPECT_EQ(isigopen(const_cast<char *>("rec"), shallow, -5), 2);
    EXPECT_STREQ(shallow[1].fname, "b.dat");
    EXPECT_EQ(shallow[1].group, 1u);
}

TEST_F(IsigopenTest, GroupsThatDoNotFitOrCanNotBeOpenedAreSkipped) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2}},
                   {.file = "a.dat", .fmt = 16, .samples = {3, 4}},
                   {.file = "gone.dat", .fmt = 16, .samples = {5, 6}},
                   {.file = "c.dat", .fmt = 16, .samples = {7, 8}}};
    write(rec);
    std::filesystem::remove(dir / "gone.dat");
    ASSERT_EQ(open("rec", 1), 1) << "the 2-signal group does not fit; the missing file is skipped";
    EXPECT_STREQ(siginfo[0].fname, "c.dat");
    EXPECT_EQ(siginfo[0].group, 0u);
    EXPECT_EQ(read_all().frames, (std::vector<Frame>{{7}, {8}}));
    ASSERT_EQ(open("rec", 4), 3);
    EXPECT_EQ(siginfo[2].group, 1u);
    EXPECT_EQ(read_all().frames, (std::vector<Frame>{{1, 3, 7}, {2, 4, 8}}));

    RecordToWrite pair;
    pair.name = "pair";
    pair.signals = {{.file = "p.dat", .fmt = 212, .samples = {1}}, {.file = "p.dat", .fmt = 212, .samples = {2}}};
    write(pair);
    EXPECT_EQ(open("pair", 1), 0);
    EXPECT_EQ(last_error(), "isigopen: none of the signals for record pair is readable\n");
}

TEST_F(IsigopenTest, DeepCopiesDescribeTheOpenedSignals) {
    RecordToWrite rec;
    rec.signals = {
        {.file = "a.dat", .fmt = 310, .spf = 2, .skew = 1, .initval = 9, .samples = {1, 2, 3, 4}, .desc = "lead I"}};
    write(rec);
    ASSERT_EQ(open("rec"), 1);
    const WFDB_Siginfo &s = siginfo[0];
    EXPECT_STREQ(s.fname, "a.dat");
    EXPECT_STREQ(s.desc, "lead I");
    EXPECT_EQ(s.units, nullptr);
    EXPECT_EQ(s.fmt, 310);
    EXPECT_EQ(s.spf, 2);
    EXPECT_EQ(s.initval, 9);
    EXPECT_EQ(s.nsamp, 2);
    EXPECT_EQ(s.gain, 200);
    // The copies belong to the caller: they survive a later open of another header.
    EXPECT_EQ(isigopen(const_cast<char *>("rec"), nullptr, 0), 1);
    EXPECT_STREQ(s.desc, "lead I");
}

TEST_F(IsigopenTest, PlusKeepsOpenSignalsAndNumbersTheNewOnesAfterThem) {
    RecordToWrite a;
    a.name = "a";
    a.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2, 3}}};
    RecordToWrite b;
    b.name = "b";
    b.signals = {{.file = "b.dat", .fmt = 16, .samples = {10, 20}}, {.file = "b.dat", .fmt = 16, .samples = {30, 40}}};
    write(a);
    write(b);
    ASSERT_EQ(open("a"), 1);
    WFDB_Siginfo more[2] = {};
    ASSERT_EQ(isigopen(const_cast<char *>("+b"), more, 2), 2);
    EXPECT_EQ(more[0].group, 1u);
    EXPECT_EQ(more[1].group, 1u);
    for (WFDB_Siginfo &s : more) std::free(s.fname), std::free(s.desc), std::free(s.units);
    ReadResult r = read_frames(3);
    EXPECT_EQ(r.frames, (std::vector<Frame>{{1, 10, 30}, {2, 20, 40}}));
    EXPECT_EQ(r.stop, -1);
}

TEST_F(IsigopenTest, RefusalsCarryTheirTexts) {
    write_header("empty", "empty 0 250\n");
    EXPECT_EQ(open("empty"), 0);
    EXPECT_EQ(last_error(), "isigopen: record empty has no signals\n");
    EXPECT_EQ(isigopen(const_cast<char *>("empty"), nullptr, 0), 0);

    write_header("multi", "multi/2 1 250 20\nseg1 10\nseg2 10\n");
    // The first segment's header describes a multi-segment record's signals: without it, no open.
    EXPECT_EQ(open("multi"), -1);
    EXPECT_EQ(last_error(), "init: can't open header for record seg1\n");
    EXPECT_EQ(isigopen(const_cast<char *>("multi"), nullptr, 0), -1);

    EXPECT_EQ(open("nosuchrecord"), -1);
    EXPECT_EQ(last_error(), "init: can't open header for record nosuchrecord\n");
}

// The memory ceiling refuses such headers first (see test_hostile_records.cpp); past
// a ceiling raised that far, the window limits still hold.
TEST_F(IsigopenTest, SkewsAndFramesTooLargeToBufferAreRefused) {
    sigtrove::engine::set_max_record_memory(1LL << 50);
    write_header("skewed", "skewed 1 250 10\na.dat 16:2000000000 200 12 0 0 0 0 x\n");
    write_file(dir / "a.dat", std::string(20, '\0'));
    EXPECT_EQ(open("skewed"), -3);
    EXPECT_EQ(last_error(), "isigopen: maximum skew too large in record skewed\n");
    write_header("wide", "wide 1 250 10\na.dat 16x2000000000 200 12 0 0 0 0 x\n");
    EXPECT_EQ(open("wide"), -3);
    EXPECT_EQ(last_error(), "isigopen: total frame size too large in record wide\n");
    Frame v(1);
    EXPECT_EQ(getvec(v.data()), 0) << "nothing was ever opened";
}

}  // namespace
