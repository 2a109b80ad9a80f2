// isigsettime through the C interface: every frame of every format reached by
// a seek (packing units cut anywhere), format 8 running values recomputed,
// the end of the data, early ends and checksums around seeks, skew and high
// resolution.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "record_writer.h"
#include "signal_test_fixture.h"
#include "wfdb/wfdb.h"

namespace {

using namespace sigtrove::testing;

struct Layout {
    int fmt;
    int nsig;  // signals in one file
    int spf;   // samples per frame of signal 0 (the others have 1)
};

std::vector<int> walk(int seed, std::size_t count, int low, int high) {
    std::mt19937 random(static_cast<unsigned>(seed));
    std::uniform_int_distribution<int> step(-100, 100);
    std::vector<int> v;
    int x = (low + high) / 2;
    for (std::size_t i = 0; i < count; ++i) {
        x = std::clamp(x + step(random), low, high);
        v.push_back(x);
    }
    return v;
}

RecordToWrite record_of(Layout layout, std::size_t frames) {
    RecordToWrite rec;
    int bound = layout.fmt == 310 || layout.fmt == 311 ? 511 : layout.fmt == 80 ? 127 : 2047;
    for (int s = 0; s < layout.nsig; ++s) {
        int spf = s == 0 ? layout.spf : 1;
        std::vector<int> samples = walk(s + layout.fmt, frames * static_cast<std::size_t>(spf), -bound, bound);
        if (layout.fmt != 8 && samples.size() > 5) samples[5] = WFDB_INVALID_SAMPLE;
        rec.signals.push_back({.file = "rec.dat", .fmt = layout.fmt, .spf = spf, .samples = samples});
    }
    return rec;
}

std::vector<Frame> tail_from(const std::vector<Frame> &frames, std::size_t t) {
    return std::vector<Frame>(frames.begin() + static_cast<long>(std::min(t, frames.size())), frames.end());
}

class SeekToEveryFrame : public SignalTest, public ::testing::WithParamInterface<Layout> {};

TEST_P(SeekToEveryFrame, ReadsWhatReadingFromTheStartReads) {
    Layout layout = GetParam();
    // A format 310 file whose last unit holds two samples reads a third (zero) one: avoid that length.
    std::size_t frames = 29;
    if (layout.fmt == 310 && frames * static_cast<std::size_t>(layout.nsig - 1 + layout.spf) % 3 == 2) ++frames;
    write(record_of(GetParam(), frames));
    int n = GetParam().nsig;
    ASSERT_EQ(open("rec"), n) << last_error();
    ReadResult whole = read_all();
    ASSERT_EQ(whole.frames.size(), frames);
    // Backwards, then forwards: every position reached from after and from before it.
    for (long t = static_cast<long>(frames); t >= 0; --t) {
        ASSERT_EQ(isigsettime(t), 0) << t;
        ReadResult r = read_all();
        EXPECT_EQ(r.frames, tail_from(whole.frames, static_cast<std::size_t>(t))) << "seek back to " << t;
        EXPECT_EQ(r.stop, -1);
    }
    for (long t = 0; t <= static_cast<long>(frames); t += 3) {
        ASSERT_EQ(isigsettime(t), 0) << t;
        EXPECT_EQ(read_frames(static_cast<std::size_t>(n), 2).frames,
                  std::vector<Frame>(whole.frames.begin() + t,
                                     whole.frames.begin() + std::min<long>(t + 2, static_cast<long>(frames))))
            << "seek forward to " << t;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, SeekToEveryFrame,
                         ::testing::Values(Layout{8, 2, 1}, Layout{8, 1, 3}, Layout{16, 3, 2}, Layout{80, 1, 1},
                                           Layout{212, 1, 1}, Layout{212, 2, 1}, Layout{212, 3, 1}, Layout{212, 2, 2},
                                           Layout{310, 1, 1}, Layout{310, 2, 1}, Layout{310, 4, 1}, Layout{310, 1, 2},
                                           Layout{311, 1, 1}, Layout{311, 2, 1}, Layout{311, 2, 3}, Layout{24, 1, 1},
                                           Layout{32, 2, 2}),
                         [](const auto &info) {
                             return "fmt" + std::to_string(info.param.fmt) + "_x" + std::to_string(info.param.nsig) +
                                    "_spf" + std::to_string(info.param.spf);
                         });

using SeekTest = SignalTest;

// Long enough for several checkpoints: windows read after seeks in any order
// equal the same windows read from the start.
TEST_F(SeekTest, Format8WindowsAfterSeeksEqualWindowsReadFromTheStart) {
    const std::size_t frames = 300000;
    RecordToWrite rec;
    rec.signals = {{.file = "d.dat", .fmt = 8, .samples = walk(1, frames, -30000, 30000)},
                   {.file = "d.dat", .fmt = 8, .samples = walk(2, frames, -30000, 30000)}};
    rec.signals[0].initval = rec.signals[0].samples[0] - 17;  // frame 0 is INITVAL plus a first difference
    write(rec);
    ASSERT_EQ(open("rec"), 2);
    std::vector<Frame> expected = frames_of({rec.signals[0].samples, rec.signals[1].samples});
    // The first seek lands far ahead before anything was read; later ones go back and forth.
    std::vector<long> targets = {250001, 3, 32768, 32767, 299999, 100000, 65536, 131071, 0, 180000, 299990};
    std::mt19937 random(7);
    for (int i = 0; i < 30; ++i) targets.push_back(static_cast<long>(random() % frames));
    for (long t : targets) {
        ASSERT_EQ(isigsettime(t), 0) << t;
        std::vector<Frame> window = read_frames(2, 20).frames;
        auto end = expected.begin() + std::min<long>(t + 20, static_cast<long>(frames));
        EXPECT_EQ(window, std::vector<Frame>(expected.begin() + t, end)) << "window at " << t;
    }
    // Reading on from a seek runs to the same end.
    ASSERT_EQ(isigsettime(299000), 0);
    ReadResult r = read_all();
    EXPECT_EQ(r.frames, tail_from(expected, 299000));
    EXPECT_EQ(r.stop, -1);
}

TEST_F(SeekTest, TheEndIsAPositionAndBeyondItIsAnError) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 212, .samples = {1, 2, 3, 4, 5}},
                   {.file = "b.dat", .fmt = 16, .samples = {6, 7, 8, 9, 10}}};
    write(rec);
    ASSERT_EQ(open("rec"), 2);
    EXPECT_EQ(isigsettime(5), 0);
    EXPECT_EQ(read_all().stop, -1);
    EXPECT_EQ(isigsettime(-3), 0) << "a negative time counts from the start too";
    EXPECT_EQ(read_frames(2, 1).frames, (std::vector<Frame>{{4, 9}}));
    EXPECT_EQ(isigsettime(6), -1);
    // Both groups end before frame 6; as in the reference, group 0 is repositioned last.
    EXPECT_EQ(last_error(), "isigsettime: improper seek on signal group 1\n");
    Frame v{1, 1};
    EXPECT_EQ(getvec(v.data()), -1);
    EXPECT_EQ(v, (Frame{WFDB_INVALID_SAMPLE, WFDB_INVALID_SAMPLE}));
    EXPECT_EQ(isigsettime(1), 0) << "a failed seek does not stop later ones";
    EXPECT_EQ(read_frames(2, 1).frames, (std::vector<Frame>{{2, 7}}));
}

TEST_F(SeekTest, TheFailingGroupIsNamed) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2, 3, 4, 5}, .with_checksum = false},
                   {.file = "b.dat", .fmt = 16, .samples = {6, 7, 8, 9, 10}, .with_checksum = false}};
    write(rec);
    std::filesystem::resize_file(dir / "b.dat", 6);
    ASSERT_EQ(open("rec"), 2);
    EXPECT_EQ(isigsettime(4), -1);
    EXPECT_EQ(last_error(), "isigsettime: improper seek on signal group 1\n");
}

TEST_F(SeekTest, EarlyEndIsDetectedWhateverSeeksCameBefore) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 311, .samples = {1, 2, 3, 4, 5, 6, 7, 8}}};
    write(rec);
    std::filesystem::resize_file(dir / "a.dat", 8);  // 6 of 8 samples left
    ASSERT_EQ(open("rec"), 1);
    EXPECT_EQ(read_all().stop, -3);
    for (long t : {2L, 6L, 0L}) {
        ASSERT_EQ(isigsettime(t), 0) << t;
        ReadResult r = read_all();
        EXPECT_EQ(r.frames.size(), 6u - static_cast<std::size_t>(t));
        EXPECT_EQ(r.stop, -3) << "after a seek to " << t;
        EXPECT_EQ(last_error(), "getvec: unexpected EOF in signal 0\n");
    }
    ASSERT_EQ(isigsettime(1), 0);
    EXPECT_EQ(isigsettime(7), -1);
    Frame v(1);
    EXPECT_EQ(getvec(v.data()), -3);
}

TEST_F(SeekTest, ASeekToTheCurrentPositionKeepsTheChecksumTest) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .samples = {1, 2, 3}, .checksum = 7}};
    write(rec);
    ASSERT_EQ(open("rec"), 1);
    EXPECT_EQ(isigsettime(0), 0);
    EXPECT_EQ(read_all().stop, -4);
    // After a real seek the checksum is no longer tested, even from the start.
    ASSERT_EQ(open("rec"), 1);
    ASSERT_EQ(isigsettime(1), 0);
    ASSERT_EQ(isigsettime(0), 0);
    EXPECT_EQ(read_all().stop, -1);
}

TEST_F(SeekTest, SkewedSignalsAfterASeek) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 212, .samples = {0, 1, 2, 3, 4, 5, 6, 7}},
                   {.file = "a.dat", .fmt = 212, .skew = 3, .samples = {10, 11, 12, 13, 14, 15, 16, 17}}};
    write(rec);
    ASSERT_EQ(open("rec"), 2);
    ASSERT_EQ(isigsettime(2), 0);
    ReadResult r = read_all();
    EXPECT_EQ(r.frames, (std::vector<Frame>{{2, 15}, {3, 16}, {4, 17}}));
    EXPECT_EQ(r.stop, -1);
    // Positions the skew has made unreadable are still inside the file.
    EXPECT_EQ(isigsettime(7), 0);
    EXPECT_EQ(read_all().stop, -1);
    EXPECT_EQ(isigsettime(8), 0);
    EXPECT_EQ(isigsettime(9), -1);
}

TEST_F(SeekTest, HighResolutionTimesCountSamplesOfTheFastestSignal) {
    RecordToWrite rec;
    rec.signals = {{.file = "a.dat", .fmt = 16, .spf = 3, .samples = {0, 1, 2, 3, 4, 5, 6, 7, 8}},
                   {.file = "a.dat", .fmt = 16, .samples = {10, 11, 12}}};
    write(rec);
    setgvmode(WFDB_HIGHRES);
    ASSERT_EQ(open("rec"), 2);
    ReadResult whole = read_all();
    ASSERT_EQ(whole.frames.size(), 9u);
    for (long t : {4L, 0L, 8L, 3L, 7L, 9L}) {
        ASSERT_EQ(isigsettime(t), 0) << t;
        EXPECT_EQ(read_all().frames, tail_from(whole.frames, static_cast<std::size_t>(t))) << t;
    }
    ASSERT_EQ(isigsettime(1), 0);
    EXPECT_EQ(isigsettime(10), -1);
    // Switching back to low resolution after part of a frame moves on to the next frame.
    ASSERT_EQ(isigsettime(4), 0);
    EXPECT_EQ(read_frames(2, 1).frames, (std::vector<Frame>{{4, 11}}));
    setgvmode(WFDB_LOWRES);
    EXPECT_EQ(read_all().frames, (std::vector<Frame>{{7, 12}}));
}

TEST_F(SeekTest, NothingOpenOrNothingToSeek) {
    EXPECT_EQ(isigsettime(5), 0);
    RecordToWrite rec;
    rec.nsamp = -1;
    rec.signals = {{.file = "~", .fmt = 0, .samples = {0}, .with_checksum = false}};
    write(rec);
    ASSERT_EQ(open("rec"), 1);
    EXPECT_EQ(isigsettime(0), 0) << "the current position";
    // Format 0 signals of unknown length alone have no position to go to.
    EXPECT_EQ(isigsettime(3), -1);
    EXPECT_EQ(last_error(), "isigsettime: improper seek on signal group 0\n");
    EXPECT_EQ(isigsettime(0), -1);
}

TEST_F(SeekTest, Format0SignalsOfKnownLength) {
    RecordToWrite rec;
    rec.signals = {{.file = "~", .fmt = 0, .samples = {0, 0, 0, 0}}};
    write(rec);
    ASSERT_EQ(open("rec"), 1);
    EXPECT_EQ(isigsettime(2), 0);
    EXPECT_EQ(read_all().frames.size(), 2u);
    // Unlike a file, a format 0 signal has no position at its end (as in the reference).
    EXPECT_EQ(isigsettime(4), -1);
    EXPECT_EQ(last_error(), "isigsettime: improper seek on signal group 0\n");
    Frame v(1);
    EXPECT_EQ(getvec(v.data()), -3);
    EXPECT_EQ(isigsettime(5), 0) << "the position counts the failed getvec: a seek there does nothing";
    EXPECT_EQ(isigsettime(3), 0);
    EXPECT_EQ(read_all().frames.size(), 1u);
}

}  // namespace
