// Signal reading on damaged inputs, through the C interface: signal files cut
// short at every byte or with bytes flipped, headers with extreme numbers, and
// multi-segment masters with broken segment lists. Every run must end in a
// return code (with a text for an error), never a crash, a hang, a read past a
// buffer, or frames that the files do not hold. The sanitizer build aborts on
// any memory or undefined-behaviour fault, so these sweeps are its main target.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "errors/error_state.h"
#include "record_writer.h"
#include "signal_test_fixture.h"
#include "wfdb/wfdb.h"

namespace {

using namespace sigtrove::testing;

constexpr int I = WFDB_INVALID_SAMPLE;
// Set as the last error before each call, so a call that fails without recording
// its own text is caught.
constexpr const char *kNoNewText = "(no new text)";

// Frames read by one run of getvec calls, and the code that ended it.
struct ReadRun {
    std::vector<Frame> frames;
    int stop = 0;
};

class DamagedSignalTest : public SignalTest {
protected:
    // The whole sequence every damaged input goes through: a full open, getvec
    // until it stops, seeks to assorted positions with a few reads after each.
    // `multi` allows getvec's count to follow the current segment. Returns the
    // first run of frames; failures are reported through gtest assertions.
    ReadRun exercise(const std::string &name, bool multi = false, int room = 64) {
        mark();
        int n = open(name, room);
        if (n < 0) expect_new_text("isigopen", n);
        EXPECT_LE(n, room);
        long length = strtim(const_cast<char *>("e"));
        long bound = length > 0 && length < 2000 ? length + 100 : 2100;
        ReadRun first = read_run(bound, multi);
        auto plus = [](long a, long b) {
            long sum;
            return __builtin_add_overflow(a, b, &sum) ? (b > 0 ? LONG_MAX : LONG_MIN) : sum;
        };
        const long positions[] = {0,
                                  1,
                                  2,
                                  length / 2,
                                  plus(length, -1),
                                  length,
                                  plus(length, 1),
                                  plus(length, 1000),
                                  LONG_MAX / 2,
                                  LONG_MAX - 1,
                                  LONG_MAX,
                                  -1,
                                  -2,
                                  plus(0, -length),
                                  LONG_MIN + 1,
                                  LONG_MIN};
        bool seek_failed = false;
        for (long t : positions) {
            SCOPED_TRACE("after isigsettime(" + std::to_string(t) + ")");
            mark();
            int rc = isigsettime(t);
            EXPECT_TRUE(rc == 0 || rc == -1) << "isigsettime(" << t << ") = " << rc;
            if (rc < 0) expect_new_text("isigsettime", rc);
            // After a failed seek the group stays unreadable (until a seek elsewhere);
            // the text that says why is the seek's.
            seek_failed = seek_failed || rc < 0;
            read_run(3, multi, seek_failed);
        }
        return first;
    }

    // getvec up to `limit` times into a vector of exactly the open count, so a
    // write past the open signals is a sanitizer report.
    ReadRun read_run(long limit, bool multi, bool after_failed_seek = false) const {
        ReadRun run;
        const std::size_t width = static_cast<std::size_t>(opened);
        for (long i = 0; i < limit; ++i) {
            std::unique_ptr<WFDB_Sample[]> v(new WFDB_Sample[width]);
            for (std::size_t k = 0; k < width; ++k) v[k] = 12345;
            mark();
            run.stop = getvec(v.get());
            Frame frame(v.get(), v.get() + width);
            if (run.stop > 0) {
                if (multi)
                    EXPECT_GE(run.stop, 1);
                else
                    EXPECT_EQ(run.stop, opened);
                run.frames.push_back(std::move(frame));
                continue;
            }
            if (run.stop == 0 && opened == 0) return run;  // nothing open: nothing to read
            if (run.stop == -4) {                          // delivered, with a checksum mismatch
                run.frames.push_back(std::move(frame));
                continue;
            }
            EXPECT_LT(run.stop, 0) << "getvec returned 0 with " << opened << " signals open";
            EXPECT_EQ(frame, Frame(width, I)) << "getvec " << run.stop << " left values in the vector";
            if (run.stop != -1 && !(after_failed_seek && run.stop == -3 && wfdberror() == std::string(kNoNewText)))
                expect_new_text("getvec", run.stop);
            return run;
        }
        return run;
    }

    static void mark() { sigtrove::engine::record_error("%s", kNoNewText); }
    static void expect_new_text(const char *call, int code) {
        std::string text = wfdberror();
        EXPECT_NE(text, kNoNewText) << call << " returned " << code << " without a text";
        EXPECT_TRUE(!text.empty() && text.back() == '\n') << call << " text: " << text;
    }
};

// ---- signal files cut short and flipped -------------------------------------------------

struct SmallRecord {
    const char *label;
    RecordToWrite record;
};

void PrintTo(const SmallRecord &r, std::ostream *out) { *out << r.label; }

std::vector<int> ramp(int count, int start, int step) {
    std::vector<int> v;
    for (int i = 0; i < count; ++i) v.push_back(start + i * step);
    return v;
}

std::vector<SmallRecord> small_records() {
    return {
        {"fmt16_two_signals",
         {.name = "r",
          .signals = {{.file = "r.dat", .fmt = 16, .samples = ramp(6, -3, 700)},
                      {.file = "r.dat", .fmt = 16, .samples = ramp(6, 9, -5)}}}},
        {"fmt212_odd_samples",
         {.name = "r",
          .signals = {{.file = "r.dat", .fmt = 212, .samples = ramp(5, -2000, 800)},
                      {.file = "r.dat", .fmt = 212, .spf = 2, .samples = ramp(10, 7, 3)},
                      {.file = "r.dat", .fmt = 212, .samples = {1, 2, I, 4, 5}}}}},
        {"fmt310_three_signals",
         {.name = "r",
          .signals = {{.file = "r.dat", .fmt = 310, .samples = ramp(4, -500, 300)},
                      {.file = "r.dat", .fmt = 310, .samples = ramp(4, 1, 1)},
                      {.file = "r.dat", .fmt = 310, .samples = ramp(4, 511, -200)}}}},
        {"fmt311_spf_and_skew",
         {.name = "r",
          .signals = {{.file = "r.dat", .fmt = 311, .spf = 2, .samples = ramp(10, -500, 100)},
                      {.file = "r.dat", .fmt = 311, .skew = 2, .samples = ramp(5, 3, 7)}}}},
        {"fmt8_initval_and_offset",
         {.name = "r",
          .signals = {{.file = "r.dat", .fmt = 8, .offset = 3, .initval = 100, .samples = ramp(7, 100, 9)},
                      {.file = "r.dat", .fmt = 8, .samples = ramp(7, -40, -100)}}}},
        {"fmt16_spf_skew_offset",
         {.name = "r",
          .signals = {{.file = "r.dat", .fmt = 16, .spf = 3, .offset = 5, .samples = ramp(15, 0, 11)},
                      {.file = "r.dat", .fmt = 16, .skew = 3, .samples = ramp(5, 100, -1)}}}},
        {"two_groups_fmt80_and_fmt24",
         {.name = "r",
          .signals = {{.file = "a.dat", .fmt = 80, .samples = ramp(6, -100, 30)},
                      {.file = "b.dat", .fmt = 24, .spf = 2, .skew = 1, .samples = ramp(12, -70000, 9000)},
                      {.file = "b.dat", .fmt = 24, .samples = ramp(6, 0, 1)}}}},
        {"fmt61_160_32_groups",
         {.name = "r",
          .signals = {{.file = "a.dat", .fmt = 61, .samples = ramp(5, -300, 150)},
                      {.file = "b.dat", .fmt = 160, .offset = 2, .samples = ramp(5, 40, -20)},
                      {.file = "c.dat", .fmt = 32, .samples = ramp(5, 100000, -70000)}}}},
        {"no_checksum_no_length",
         {.name = "r",
          .nsamp = -1,
          .signals = {{.file = "r.dat", .fmt = 212, .samples = ramp(5, 0, 9), .with_checksum = false},
                      {.file = "r.dat", .fmt = 212, .samples = ramp(5, 4, 1), .with_checksum = false}}}},
    };
}

std::vector<std::string> files_of(const RecordToWrite &record) {
    std::vector<std::string> files;
    for (const SignalToWrite &s : record.signals)
        if (files.empty() || files.back() != s.file) files.push_back(s.file);
    return files;
}

class DamagedSignalFiles : public DamagedSignalTest, public ::testing::WithParamInterface<SmallRecord> {
protected:
    DamagedSignalFiles() {
        write(GetParam().record);
        intact = exercise("r");
    }
    ReadRun intact;
};

// Cut short anywhere, a file delivers a prefix of its frames, and only frames
// whose every sample it holds; the read then ends with a code.
TEST_P(DamagedSignalFiles, TruncatedAtEveryByteDeliversAPrefix) {
    ASSERT_GT(intact.frames.size(), 0u);
    for (const std::string &file : files_of(GetParam().record)) {
        const std::string original = read_file(dir / file);
        for (std::size_t cut = 0; cut < original.size(); ++cut) {
            SCOPED_TRACE(file + " cut at " + std::to_string(cut));
            write_file(dir / file, original.substr(0, cut));
            ReadRun run = exercise("r");
            ASSERT_LT(run.frames.size(), intact.frames.size() + 1);
            for (std::size_t f = 0; f < run.frames.size(); ++f)
                ASSERT_EQ(run.frames[f], intact.frames[f]) << "frame " << f;
            if (HasFailure()) return;
        }
        write_file(dir / file, original);
    }
}

// Any byte changed changes values only: as many frames arrive as before.
TEST_P(DamagedSignalFiles, FlippedBytesChangeValuesOnly) {
    unsigned state = 2024;
    auto next = [&state] { return state = state * 1103515245u + 12345u, (state >> 16) & 0xff; };
    for (const std::string &file : files_of(GetParam().record)) {
        const std::string original = read_file(dir / file);
        for (std::size_t at = 0; at < original.size(); ++at) {
            for (unsigned mask : {0xffu, 0x80u, next() | 1u}) {
                SCOPED_TRACE(file + " byte " + std::to_string(at) + " ^ " + std::to_string(mask));
                std::string damaged = original;
                damaged[at] = static_cast<char>(static_cast<unsigned char>(damaged[at]) ^ mask);
                write_file(dir / file, damaged);
                ReadRun run = exercise("r");
                ASSERT_EQ(run.frames.size(), intact.frames.size());
                if (HasFailure()) return;
            }
        }
        write_file(dir / file, original);
    }
}

INSTANTIATE_TEST_SUITE_P(Records, DamagedSignalFiles, ::testing::ValuesIn(small_records()),
                         [](const auto &info) { return std::string(info.param.label); });

// ---- headers with extreme numbers --------------------------------------------------------

const char *const kExtremes[] = {"0",
                                 "-1",
                                 "1",
                                 "3",
                                 "65535",
                                 "2147483647",
                                 "2147483648",
                                 "-2147483648",
                                 "4294967297",
                                 "9223372036854775807",
                                 "9223372036854775808",
                                 "-9223372036854775808",
                                 "99999999999999999999999",
                                 "1e300",
                                 "-0"};

// A header of three groups (formats 212, 16 and 0) whose fields are placeholders
// $NAME, each replaced by its default below unless it is the field under test.
const char *const kHeaderTemplate =
    "r $NSIG $FREQ $NSAMP\n"
    "a.dat 212x$SPF:$SKEW+$OFFSET 200 12 0 $INITVAL 0 $BSIZE sig 0\n"
    "a.dat 212 200 12 0 0 0 0 sig 1\n"
    "b.dat $FMT 200 12 0 0 0 0 sig 2\n"
    "~ 0 200 12 0 0 0 0 sig 3\n";

struct Field {
    const char *placeholder;
    const char *normal;
};
const Field kFields[] = {{"$NSIG", "4"},   {"$FREQ", "250"},  {"$NSAMP", "6"}, {"$SPF", "2"}, {"$SKEW", "1"},
                         {"$OFFSET", "2"}, {"$INITVAL", "0"}, {"$BSIZE", "0"}, {"$FMT", "16"}};

std::string fill_template(const std::string &field, const std::string &value) {
    std::string text = kHeaderTemplate;
    for (const Field &f : kFields) {
        const std::string &with = field == f.placeholder ? value : std::string(f.normal);
        for (std::size_t at; (at = text.find(f.placeholder)) != std::string::npos;)
            text.replace(at, std::string(f.placeholder).size(), with);
    }
    return text;
}

TEST_F(DamagedSignalTest, HeaderFieldsWithExtremeNumbers) {
    dir.write("a.dat", std::string(40, '\x11'));
    dir.write("b.dat", std::string(30, '\x7f'));
    for (const Field &f : kFields) {
        for (const char *value : kExtremes) {
            std::string text = fill_template(f.placeholder, value);
            SCOPED_TRACE(text);
            write_header("r", text);
            exercise("r");
            exercise("r", false, 1);
            if (HasFailure()) return;
        }
    }
}

TEST_F(DamagedSignalTest, MixedFormatsInOneHeaderAndManyGroups) {
    dir.write("a.dat", std::string(37, '\x5a'));
    const std::string mixed =
        "r 7 360 9\n"
        "a.dat 0 200 12 0 0 0 0 z\n"
        "a.dat 8 200 12 0 5 0 0 e\n"
        "a.dat 212 200 12 0 0 0 0 t\n"
        "a.dat 310 200 12 0 0 0 0 h\n"
        "a.dat 311x3:2 200 12 0 0 0 0 o\n"
        "~ 0 200\n"
        "a.dat 8+1 200 12 0 -128 0 0 e2\n";
    write_header("r", mixed);
    exercise("r");

    for (int groups : {1, 40, 300}) {
        std::ostringstream text;
        text << "r " << groups << " 250 5\n";
        for (int g = 0; g < groups; ++g) text << "g" << (g % 3) << ".dat " << (g % 2 ? 212 : 8) << "\n";
        write_header("r", text.str());
        SCOPED_TRACE(groups);
        exercise("r");
        exercise("r", false, groups + 5);
    }
    // A signal count far beyond the lines present.
    write_header("r", "r 2000000000 250 5\na.dat 16\n");
    exercise("r");
}

// Reading on from the largest time there is, in a record whose format 0 signal
// has no stated length (so frames never end), once overflowed the frame count.
TEST_F(DamagedSignalTest, ReadingOnFromTheLargestTimeDoesNotOverflow) {
    dir.write("r.dat", std::string(8, '\x01'));
    write_header("r", "r 2 250\n~ 0 200\nr.dat 16 200\n");
    ASSERT_EQ(open("r"), 2);
    for (long t : {LONG_MAX - 1, LONG_MAX}) {
        mark();
        int rc = isigsettime(t);
        if (rc < 0) expect_new_text("isigsettime", rc);
        WFDB_Sample v[2];
        EXPECT_EQ(getvec(v), -1);
        EXPECT_EQ(getvec(v), -1);
        EXPECT_EQ(v[0], I);
    }
}

// ---- multi-segment masters with broken segment lists -------------------------------------

class DamagedMultiSegment : public DamagedSignalTest {
protected:
    DamagedMultiSegment() {
        write(RecordToWrite{.name = "s1",
                            .signals = {{.file = "s1.dat", .fmt = 16, .samples = ramp(4, 1, 1)},
                                        {.file = "s1.dat", .fmt = 16, .samples = ramp(4, 10, 10)}}});
        write(RecordToWrite{.name = "s2",
                            .signals = {{.file = "s2.dat", .fmt = 212, .samples = ramp(3, 5, 1)},
                                        {.file = "s2.dat", .fmt = 212, .samples = ramp(3, 50, 10)}}});
        // Other signal counts and an odd spf, for segments that do not fit.
        write(RecordToWrite{.name = "one", .signals = {{.file = "one.dat", .fmt = 16, .samples = ramp(3, 7, 0)}}});
        write(RecordToWrite{.name = "three",
                            .signals = {{.file = "t.dat", .fmt = 16, .samples = ramp(2, 1, 1)},
                                        {.file = "t.dat", .fmt = 16, .samples = ramp(2, 2, 1)},
                                        {.file = "t.dat", .fmt = 16, .samples = ramp(2, 3, 1)}}});
        write(RecordToWrite{.name = "odd",
                            .signals = {{.file = "odd.dat", .fmt = 16, .spf = 3, .samples = ramp(6, 0, 1)},
                                        {.file = "odd.dat", .fmt = 16, .samples = ramp(2, 0, 1)}}});
        write_header("lay", "lay 2 250 0\n~ 0 200 12 0 0 0 0 sig 0\n~ 0 200 12 0 0 0 0 sig 1\n");
        write_header("layodd", "layodd 2 250 0\n~ 0x3 200 12 0 0 0 0 sig 0\n~ 0x2 100(5) 12 0 0 0 0 sig 1\n");
        write_header("nested", "nested/2 2 250 4\ns1 4\ns1 0\n");
    }
};

const char *const kSegmentNames[] = {"s1", "s2", "~", "one", "three", "odd", "missing", "nested", "lay", "layodd"};
const char *const kSegmentLengths[] = {"0",
                                       "1",
                                       "3",
                                       "4",
                                       "5",
                                       "-1",
                                       "2147483647",
                                       "4611686018427387904",
                                       "9223372036854775807",
                                       "9223372036854775808",
                                       "99999999999999999999"};

// Master headers assembled from every name and length above, in a fixed order of
// shapes: a layout first or not, one to five segments, lengths that sum past LONG_MAX.
TEST_F(DamagedMultiSegment, SegmentListsWithBrokenNamesAndLengths) {
    constexpr std::size_t kNames = sizeof kSegmentNames / sizeof *kSegmentNames;
    constexpr std::size_t kLengths = sizeof kSegmentLengths / sizeof *kSegmentLengths;
    unsigned state = 77;
    auto next = [&state](unsigned n) { return (state = state * 1103515245u + 12345u, (state >> 8) % n); };
    for (int round = 0; round < 400; ++round) {
        std::size_t count = 1 + next(5);
        bool layout = next(3) == 0;
        std::ostringstream body;
        if (layout) body << (next(2) ? "lay" : "layodd") << " 0\n";
        for (std::size_t s = 0; s < count; ++s) {
            const char *name = kSegmentNames[next(kNames)];
            const char *len = kSegmentLengths[next(4) == 0 ? next(kLengths) : next(5)];
            body << name << " " << len << "\n";
        }
        const char *total = next(3) == 0 ? kSegmentLengths[next(kLengths)] : "";
        std::ostringstream text;
        text << "m/" << count + (layout ? 1 : 0) << " 2 250 " << total << "\n" << body.str();
        SCOPED_TRACE(text.str());
        write_header("m", text.str());
        exercise("m", true);
        exercise("m", true, 1);
        if (HasFailure()) return;
    }
}

TEST_F(DamagedMultiSegment, EveryEntryANullSegment) {
    for (const char *text : {"m/3 2 250 6\n~ 2\n~ 2\n~ 2\n", "m/2 2 250\n~ 0\n~ 5\n", "m/1 2 250\n~ 0\n",
                             "m/2 2 250\n~ 9223372036854775807\n~ 9223372036854775807\n", "m/3 1 250\n~ 1\ns1 0\n~ 1\n",
                             "m/2 ~ ~ ~\n~ ~\n~ ~\n"}) {
        SCOPED_TRACE(text);
        write_header("m", text);
        exercise("m", true);
        if (HasFailure()) return;
    }
}

}  // namespace
