// Multi-segment records built here from small single-segment pieces, read
// through the C interface: fixed and variable layouts, null segments,
// rescaling, segments that can not be opened and the recovery after them,
// segment files of the wrong length, seeks that open only the segment they
// land in, and records reopened and switched many times.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "record_writer.h"
#include "signal_test_fixture.h"
#include "wfdb/wfdb.h"

namespace {

using namespace sigtrove::testing;

constexpr int I = WFDB_INVALID_SAMPLE;

// One getvec call: its code and, when it delivered a frame, the vector.
struct Step {
    int ret;
    Frame frame;
    bool operator==(const Step &) const = default;
};

void PrintTo(const Step &s, std::ostream *out) {
    *out << s.ret << ":(";
    for (std::size_t i = 0; i < s.frame.size(); ++i) *out << (i ? "," : "") << s.frame[i];
    *out << ")";
}

class MultiSegmentTest : public SignalTest {
protected:
    // A segment of format 16 signals stored in NAME.dat.
    void write_segment(const std::string &name, std::vector<SignalToWrite> signals, double frequency = 250) {
        for (SignalToWrite &s : signals)
            if (s.file.empty()) s.file = name + ".dat";
        write(RecordToWrite{.name = name, .frequency = frequency, .nsamp = {}, .signals = std::move(signals)});
    }

    // getvec `count` times with `width` slots.
    static std::vector<Step> steps(std::size_t count, std::size_t width) {
        std::vector<Step> out;
        for (std::size_t k = 0; k < count; ++k) {
            Frame v(width, 12345);
            int ret = getvec(v.data());
            if (ret <= 0 && ret != -4) {
                EXPECT_EQ(v, Frame(width, I)) << "a frame not delivered leaves no values";
                v.clear();
            }
            out.push_back({ret, v});
        }
        return out;
    }

    // Two signals, "sig 0" and "sig 1", with these samples.
    static std::vector<SignalToWrite> pair(std::vector<int> first, std::vector<int> second) {
        return {{.fmt = 16, .samples = std::move(first)}, {.fmt = 16, .samples = std::move(second)}};
    }
    static std::vector<SignalToWrite> single(std::vector<int> samples) {
        return {{.fmt = 16, .samples = std::move(samples)}};
    }
};

// Fixed layout: a, a null segment, b.
class FixedLayoutTest : public MultiSegmentTest {
protected:
    FixedLayoutTest() {
        write_segment("a", pair({1, 2, 3}, {10, 20, 30}));
        write_segment("b", pair({4, 5}, {40, 50}));
        write_header("fix", "fix/3 2 360 7 10:00:00\na 3\n~ 2\nb 2\n");
    }
    const std::vector<Step> whole{{2, {1, 10}}, {2, {2, 20}}, {2, {3, 30}}, {1, {I, I}},
                                  {1, {I, I}},  {2, {4, 40}}, {2, {5, 50}}, {-1, {}}};
};

TEST_F(FixedLayoutTest, ReadsAcrossSegmentBoundariesAndThroughANullSegment) {
    ASSERT_EQ(open("fix"), 2);
    EXPECT_STREQ(siginfo[0].fname, "a.dat");
    EXPECT_STREQ(siginfo[1].desc, "sig 1");
    EXPECT_EQ(siginfo[1].group, 0u);
    EXPECT_EQ(siginfo[0].nsamp, 7) << "the record's total length, not segment a's";
    EXPECT_EQ(siginfo[1].nsamp, 7);
    EXPECT_EQ(sampfreq(nullptr), 360) << "the master's frequency, not the segments'";
    EXPECT_STREQ(timstr(0), "[10:00:00]");
    EXPECT_EQ(steps(8, 2), whole);
    EXPECT_EQ(steps(1, 2), (std::vector<Step>{{-1, {}}})) << "the end stays the end";
}

TEST_F(FixedLayoutTest, SeeksLandInTheRightSegment) {
    struct Case {
        long t;
        int ret;
        std::size_t first;  // index in `whole` of the next frame
    };
    const Case cases[] = {{3, 0, 3}, {5, 0, 5}, {2, 0, 2}, {6, 0, 6}, {-4, 0, 4}, {0, 0, 0}, {7, -1, 7}, {100, -1, 7}};
    ASSERT_EQ(open("fix"), 2);
    steps(1, 2);
    for (const Case &c : cases) {
        SCOPED_TRACE("isigsettime(" + std::to_string(c.t) + ")");
        EXPECT_EQ(isigsettime(c.t), c.ret);
        if (c.ret < 0) {
            EXPECT_EQ(last_error(), "isigsettime: improper seek on signal group 0\n");
        }
        std::size_t count = std::min<std::size_t>(3, whole.size() - c.first);
        EXPECT_EQ(steps(count, 2), std::vector<Step>(whole.begin() + static_cast<long>(c.first),
                                                     whole.begin() + static_cast<long>(c.first + count)));
    }
}

TEST_F(FixedLayoutTest, PadModeCarriesTheLastValidSampleThroughANullSegment) {
    setgvmode(WFDB_GVPAD);
    ASSERT_EQ(open("fix"), 2);
    std::vector<Step> padded = whole;
    padded[3].frame = padded[4].frame = {3, 30};
    EXPECT_EQ(steps(8, 2), padded);
}

TEST_F(FixedLayoutTest, HeaderOnlyFormsDescribeTheRecordWithoutOpeningIt) {
    ASSERT_EQ(open("fix"), 2);
    EXPECT_EQ(isigopen(const_cast<char *>("fix"), nullptr, 0), 2);
    WFDB_Siginfo shallow[2] = {};
    EXPECT_EQ(isigopen(const_cast<char *>("fix"), shallow, -2), 2);
    EXPECT_STREQ(shallow[1].fname, "a.dat");
    EXPECT_EQ(shallow[1].nsamp, 7);
    Frame v(2);
    EXPECT_EQ(getvec(v.data()), -1) << "the header-only forms closed the signals and opened nothing";
}

TEST_F(MultiSegmentTest, SignalsAndSamplesPerFrameComeFromTheFirstSegmentThatIsNotNull) {
    write_segment("a", {{.fmt = 16, .spf = 2, .samples = {1, 2, 3, 4}}, {.fmt = 16, .samples = {10, 20}}});
    write_segment("b", {{.fmt = 16, .spf = 2, .samples = {5, 6}}, {.fmt = 16, .samples = {30}}});
    write_header("hr", "hr/3 2 250\n~ 1\na 2\nb 1\n");
    ASSERT_EQ(open("hr"), 2);
    EXPECT_EQ(siginfo[0].spf, 2);
    EXPECT_EQ(siginfo[0].nsamp, 4);
    // Low resolution: the mean of each frame's samples, halves up.
    EXPECT_EQ(steps(5, 2), (std::vector<Step>{{1, {I, I}}, {2, {2, 10}}, {2, {4, 20}}, {2, {6, 30}}, {-1, {}}}));

    setgvmode(WFDB_HIGHRES);
    ASSERT_EQ(open("hr"), 2);
    EXPECT_EQ(sampfreq(nullptr), 500);
    ASSERT_EQ(isigsettime(2), 0) << "sample 2 is the first of segment a";
    EXPECT_EQ(steps(7, 2),
              (std::vector<Step>{
                  {2, {1, 10}}, {2, {2, 10}}, {2, {3, 20}}, {2, {4, 20}}, {2, {5, 30}}, {2, {6, 30}}, {-1, {}}}));
    ASSERT_EQ(isigsettime(5), 0);
    EXPECT_EQ(steps(1, 2), (std::vector<Step>{{2, {4, 20}}}));
}

// Variable layout: signals matched by description, rescaled from each
// segment's gain and baseline to the layout's.
class VariableLayoutTest : public MultiSegmentTest {
protected:
    VariableLayoutTest() {
        write_header("lay",
                     "lay 3 250 0\n"
                     "~ 0 200(10)/mV 12 0 0 0 0 ECG\n"
                     "~ 0 100/mmHg 12 0 -7 0 0 ABP\n"
                     "~ 0 1(5)/mV 12 0 0 0 0 RESP\n");
        // ECG: scale 2, offset 10 - 2*4; RESP uncalibrated here: scale 1, offset 5 - 2.
        write_segment("s1", {{.fmt = 16, .samples = {3, I}, .desc = "ECG", .gain = "100(4)/mV"},
                             {.fmt = 16, .samples = {7, -7}, .desc = "RESP", .gain = "0(2)"}});
        // Another order, a signal the layout lacks, and ECG at scale 0.5: halves round up.
        write_segment("s2", {{.fmt = 16, .samples = {5, -6}, .desc = "ABP", .gain = "50"},
                             {.fmt = 16, .samples = {1, 2}, .desc = "EXTRA"},
                             {.fmt = 16, .samples = {3, -3}, .desc = "ECG", .gain = "400"}});
        // Results beyond the int range are clamped.
        write_segment("s3", {{.file = "s3.dat", .fmt = 32, .samples = {20000000}, .desc = "ECG", .gain = "1"},
                             {.file = "s3.dat", .fmt = 32, .samples = {-2000000000}, .desc = "ABP", .gain = "1"}});
        write_header("var", "var/5 3 250\nlay 0\ns1 2\ns2 2\n~ 1\ns3 1\n");
    }
};

TEST_F(VariableLayoutTest, PresentsTheLayoutSignals) {
    ASSERT_EQ(open("var"), 3);
    EXPECT_STREQ(siginfo[0].fname, "~");
    EXPECT_STREQ(siginfo[1].desc, "ABP");
    EXPECT_STREQ(siginfo[1].units, "mmHg");
    EXPECT_EQ(siginfo[0].fmt, 0);
    EXPECT_EQ(siginfo[0].gain, 200);
    EXPECT_EQ(siginfo[0].baseline, 10);
    EXPECT_EQ(siginfo[1].initval, -7);
    EXPECT_EQ(siginfo[2].nsamp, 6) << "the record's total length, not the layout header's 0";
}

TEST_F(VariableLayoutTest, MatchesByDescriptionRescalesAndCountsTheSegmentsOwnSignals) {
    ASSERT_EQ(open("var"), 3);
    EXPECT_EQ(steps(2, 3), (std::vector<Step>{{2, {8, I, 10}}, {2, {I, I, -4}}}));
    EXPECT_EQ(steps(2, 3), (std::vector<Step>{{3, {12, 10, I}}, {3, {9, -12, I}}}));
    EXPECT_EQ(last_error(), "sigmap_init: loss of precision in signal 0 in segment s2\n");
    EXPECT_EQ(steps(3, 3), (std::vector<Step>{{1, {I, I, I}}, {2, {INT_MAX, INT_MIN, I}}, {-1, {}}}));
    ASSERT_EQ(isigsettime(3), 0);
    EXPECT_EQ(steps(1, 3), (std::vector<Step>{{3, {9, -12, I}}}));
    ASSERT_EQ(isigsettime(1), 0);
    EXPECT_EQ(steps(1, 3), (std::vector<Step>{{2, {I, I, -4}}}));
}

TEST_F(VariableLayoutTest, ARoomForFewerSignalsReadsTheFirstOnesAndNeverCountsMore) {
    ASSERT_EQ(open("var", 2), 2);
    EXPECT_STREQ(siginfo[1].desc, "ABP");
    EXPECT_EQ(steps(4, 2), (std::vector<Step>{{2, {8, I}}, {2, {I, I}}, {2, {12, 10}}, {2, {9, -12}}}))
        << "segment s2 has 3 signals, the vector 2";
}

TEST_F(VariableLayoutTest, ASegmentSignalWithAnotherSpfThanTheLayoutsMakesTheSegmentUnreadable) {
    write_segment("s2", {{.fmt = 16, .spf = 2, .samples = {5, -6, 1, 2}, .desc = "ABP", .gain = "50"}});
    ASSERT_EQ(open("var"), 3);
    steps(2, 3);
    EXPECT_EQ(steps(1, 3), (std::vector<Step>{{-3, {}}}));
    EXPECT_EQ(last_error(), "getvec: error opening segment s2\n");
}

// A segment b that can not be opened between two good ones, for each reason it may fail.
class UnreadableSegmentTest;
struct UnreadableSegment {
    const char *name;
    void (*spoil)(UnreadableSegmentTest &);
};

class UnreadableSegmentTest : public MultiSegmentTest, public ::testing::WithParamInterface<UnreadableSegment> {
public:
    UnreadableSegmentTest() {
        write_segment("a", single({1, 2}));
        write_segment("c", single({5, 6}));
        write_header("m", "m/3 1 250\na 2\nb 2\nc 2\n");
    }
    void write_b(std::vector<SignalToWrite> signals) { write_segment("b", std::move(signals)); }
    void write_b_header(const std::string &text) { write_header("b", text); }
    void remove_b_file() { std::filesystem::remove(dir / "b.dat"); }
};

TEST_P(UnreadableSegmentTest, FailsTheReadsThatNeedItAndASeekOrOpenRecovers) {
    GetParam().spoil(*this);
    ASSERT_EQ(open("m"), 1);
    // Each of its frames fails, and reading passes over it.
    EXPECT_EQ(steps(3, 1), (std::vector<Step>{{1, {1}}, {1, {2}}, {-3, {}}}));
    EXPECT_EQ(last_error(), "getvec: error opening segment b\n");
    EXPECT_EQ(steps(4, 1), (std::vector<Step>{{-3, {}}, {1, {5}}, {1, {6}}, {-1, {}}}));

    EXPECT_EQ(isigsettime(3), -1);
    EXPECT_EQ(last_error(), "isigsettime: can't open segment b\n");
    EXPECT_EQ(steps(1, 1), (std::vector<Step>{{-3, {}}}));
    EXPECT_EQ(last_error(), "getvec: error opening segment b\n");
    ASSERT_EQ(isigsettime(5), 0) << "a seek past it recovers";
    EXPECT_EQ(steps(2, 1), (std::vector<Step>{{1, {6}}, {-1, {}}}));
    ASSERT_EQ(open("m"), 1) << "an open recovers";
    EXPECT_EQ(steps(1, 1), (std::vector<Step>{{1, {1}}}));

    // A seek retries the segment: once mended, it reads.
    write_b(single({3, 4}));
    ASSERT_EQ(isigsettime(3), 0);
    EXPECT_EQ(steps(2, 1), (std::vector<Step>{{1, {4}}, {1, {5}}}));
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, UnreadableSegmentTest,
    ::testing::Values(
        UnreadableSegment{"NoHeader", [](UnreadableSegmentTest &) {}},
        UnreadableSegment{"NoSignalFile",
                          [](UnreadableSegmentTest &t) {
                              t.write_b({{.fmt = 16, .samples = {3, 4}}});
                              t.remove_b_file();
                          }},
        UnreadableSegment{"NestedMultiSegment", [](UnreadableSegmentTest &t) { t.write_b_header("b/1 1 250\na 2\n"); }},
        UnreadableSegment{"OtherSignalCount",
                          [](UnreadableSegmentTest &t) {
                              t.write_b({{.fmt = 16, .samples = {3, 4}}, {.fmt = 16, .samples = {3, 4}}});
                          }},
        UnreadableSegment{
            "OtherSamplesPerFrame",
            [](UnreadableSegmentTest &t) { t.write_b({{.fmt = 16, .spf = 2, .samples = {3, 3, 4, 4}}}); }},
        UnreadableSegment{"NoSignals", [](UnreadableSegmentTest &t) { t.write_b_header("b 0 250 2\n"); }}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(MultiSegmentTest, ASegmentFileIsReadForExactlyItsSegmentLength) {
    write_segment("long", single({1, 2, 3, 4}));
    write_segment("short", single({7}));
    write_segment("end", single({9, 10}));
    write_header("m", "m/3 1 250\nlong 2\nshort 2\nend 2\n");
    ASSERT_EQ(open("m"), 1);
    EXPECT_EQ(steps(4, 1), (std::vector<Step>{{1, {1}}, {1, {2}}, {1, {7}}, {-3, {}}}));
    EXPECT_EQ(last_error(), "getvec: unexpected EOF in segment short\n");
    EXPECT_EQ(steps(3, 1), (std::vector<Step>{{1, {9}}, {1, {10}}, {-1, {}}}));
    ASSERT_EQ(isigsettime(2), 0);
    EXPECT_EQ(steps(3, 1), (std::vector<Step>{{1, {7}}, {-3, {}}, {1, {9}}}));
}

TEST_F(MultiSegmentTest, AStatedLengthShorterThanTheSegmentsEndsTheRecord) {
    write_segment("a", single({1, 2}));
    write_segment("b", single({3, 4}));
    write_header("m", "m/2 1 250 3\na 2\nb 2\n");
    ASSERT_EQ(open("m"), 1);
    EXPECT_EQ(siginfo[0].nsamp, 3);
    EXPECT_EQ(steps(4, 1), (std::vector<Step>{{1, {1}}, {1, {2}}, {1, {3}}, {-1, {}}}));
    EXPECT_EQ(isigsettime(3), -1);
}

TEST_F(MultiSegmentTest, AMissingFirstSegmentHeaderFailsTheOpen) {
    write_header("m", "m/2 1 250\ngone 2\n~ 2\n");
    EXPECT_EQ(isigopen(const_cast<char *>("m"), nullptr, 0), -1);
    EXPECT_EQ(last_error(), "init: can't open header for record gone\n");
    EXPECT_EQ(open("m"), -1);
}

TEST_F(MultiSegmentTest, OpeningOrSeekingOpensOnlyTheSegmentItNeeds) {
    // 1000 segments of 10 frames; only the first and the last exist.
    std::ostringstream master;
    master << "big/1000 1 250\n";
    for (int k = 0; k < 1000; ++k) master << "seg" << k << " 10\n";
    write_header("big", master.str());
    write_segment("seg0", single({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    write_segment("seg999", single({90, 91, 92, 93, 94, 95, 96, 97, 98, 99}));

    ASSERT_EQ(open("big"), 1) << "an open reads the master and the first segment's header only";
    EXPECT_EQ(siginfo[0].nsamp, 10000);
    ASSERT_EQ(isigsettime(9995), 0) << "the seek does not read the 998 missing segments before";
    EXPECT_EQ(steps(6, 1), (std::vector<Step>{{1, {95}}, {1, {96}}, {1, {97}}, {1, {98}}, {1, {99}}, {-1, {}}}));
    EXPECT_EQ(isigsettime(5000), -1);
    EXPECT_EQ(last_error(), "isigsettime: can't open segment seg500\n");
}

TEST_F(MultiSegmentTest, SegmentsAreLookedUpFromWhereTheRecordWasOpened) {
    write_segment("a", single({1, 2}));
    write_segment("b", single({3, 4}));
    write_header("m", "m/2 1 250\na 2\nb 2\n");
    // Another directory holds a segment of the same name with other samples.
    dir.make_dir("elsewhere");
    write_record(
        dir / "elsewhere",
        RecordToWrite{.name = "b", .nsamp = {}, .signals = {{.file = "b.dat", .fmt = 16, .samples = {-3, -4}}}});
    ASSERT_EQ(open("m"), 1);
    WorkingDirectory away(dir / "elsewhere");
    EXPECT_EQ(steps(5, 1), (std::vector<Step>{{1, {1}}, {1, {2}}, {1, {3}}, {1, {4}}, {-1, {}}}));
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir / "elsewhere")) << "and stays where it was";
}

TEST_F(MultiSegmentTest, RecordsReopenAndSwitchAnyNumberOfTimes) {
    write_segment("a", single({1, 2}));
    write_segment("b", single({3, 4}));
    write_header("m1", "m1/2 1 250 4 08:00:00\na 2\nb 2\n");
    write_header("lay", "lay 1 360 0\n~ 0 200 12 0 0 0 0 sig 0\n");
    write_header("m2", "m2/3 1 360 4 09:30:00\nlay 0\nb 2\na 2\n");
    write_segment("plain", single({5, 6}), 500);
    for (int round = 0; round < 50; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_EQ(open("m1"), 1);
        EXPECT_EQ(steps(4, 1), (std::vector<Step>{{1, {1}}, {1, {2}}, {1, {3}}, {1, {4}}}));
        EXPECT_STREQ(timstr(0), "[08:00:00]");
        ASSERT_EQ(open("m2"), 1);
        EXPECT_EQ(sampfreq(nullptr), 360);
        EXPECT_STREQ(timstr(0), "[09:30:00]");
        ASSERT_EQ(isigsettime(2), 0);
        EXPECT_EQ(steps(3, 1), (std::vector<Step>{{1, {1}}, {1, {2}}, {-1, {}}}));
        ASSERT_EQ(open("plain"), 1);
        EXPECT_EQ(sampfreq(nullptr), 500);
        EXPECT_EQ(steps(1, 1), (std::vector<Step>{{1, {5}}}));
    }
}

}  // namespace
