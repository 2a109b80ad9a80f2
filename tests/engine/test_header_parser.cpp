// Header files: the record line, signal lines, segment lines, their defaults and
// every rejection with its text; and the parse of every shared record.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "expected_records.h"
#include "fixture_files.h"
#include "header/header.h"
#include "paths/path_search.h"
#include "record_dir_fixture.h"
#include "record_header/record_header.h"
#include "time/julian_date.h"
#include "wfdb/wfdb.h"

namespace {

using sigtrove::engine::CalendarDate;
using sigtrove::engine::Header;
using sigtrove::engine::julian_day_number;
using sigtrove::engine::read_header;
using sigtrove::engine::read_segment_header;
using sigtrove::engine::SignalSpec;
using sigtrove::testing::RecordDirTest;

long jdn(int day, int month, long year) { return julian_day_number(CalendarDate{day, month, year}); }

// ---- record line ---------------------------------------------------------

struct RecordLineCase {
    const char *line;
    bool has_freq;
    double frame_freq;  // Header::frame_frequency()
    double cfreq;       // Header::counter_frequency()
    double basecount;
    long nsamp;
    long base_ms;
    long base_date;
    friend void PrintTo(const RecordLineCase &c, std::ostream *os) { *os << ::testing::PrintToString(c.line); }
};

class RecordLine : public RecordDirTest, public ::testing::WithParamInterface<RecordLineCase> {};

TEST_P(RecordLine, FieldsAndDefaults) {
    const RecordLineCase &c = GetParam();
    ASSERT_EQ(read("r", std::string(c.line) + "\n"), 0) << wfdberror();
    EXPECT_EQ(header.has_freq, c.has_freq);
    EXPECT_DOUBLE_EQ(header.frame_frequency(), c.frame_freq);
    EXPECT_DOUBLE_EQ(header.counter_frequency(), c.cfreq);
    EXPECT_DOUBLE_EQ(header.basecount, c.basecount);
    EXPECT_EQ(header.nsamp, c.nsamp);
    EXPECT_EQ(header.base_ms, c.base_ms);
    EXPECT_EQ(header.base_date, c.base_date);
    EXPECT_EQ(header.has_base, c.base_ms != 0 || c.base_date != 0);
    EXPECT_FALSE(header.multi_segment);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordLine,
    ::testing::Values(RecordLineCase{"r 0", false, 250, 250, 0, 0, 0, 0},
                      RecordLineCase{"r 0 360", true, 360, 360, 0, 0, 0, 0},
                      RecordLineCase{"r 0 360.", true, 360, 360, 0, 0, 0, 0},
                      RecordLineCase{"r 0 3.6e2", true, 360, 360, 0, 0, 0, 0},
                      RecordLineCase{"r\t0\t360\t650000", true, 360, 360, 0, 650000, 0, 0},
                      RecordLineCase{"r 0 250/24000", true, 250, 24000, 0, 0, 0, 0},
                      RecordLineCase{"r 0 250/24000(12.5)", true, 250, 24000, 12.5, 0, 0, 0},
                      RecordLineCase{"r 0 250/-3", true, 250, 250, 0, 0, 0, 0},
                      RecordLineCase{"r 0 0.0166666666667/125 72", true, 0.0166666666667, 125, 0, 72, 0, 0},
                      // one blank after NSAMP ends the token; blanks without NSAMP are harmless
                      RecordLineCase{"r 0 360 650000 ", true, 360, 360, 0, 650000, 0, 0},
                      RecordLineCase{"r 0 360 650000 \r", true, 360, 360, 0, 650000, 0, 0},
                      RecordLineCase{"r 0 360 650000\r", true, 360, 360, 0, 650000, 0, 0},
                      RecordLineCase{"r 0 360   \t ", true, 360, 360, 0, 0, 0, 0},
                      RecordLineCase{"r 0 360 10 12:00:00 1/2/2003 junk", true, 360, 360, 0, 10, 43200000, 2452672},
                      RecordLineCase{"r 0 360 10 13:05:00.250", true, 360, 360, 0, 10, 47100250, 0},
                      RecordLineCase{"r 0 360 10 1:2.5", true, 360, 360, 0, 10, 62500, 0},
                      RecordLineCase{"r 0 360 10 7", true, 360, 360, 0, 10, 7000, 0},
                      RecordLineCase{"r 0 360 10 15:08:24 \r", true, 360, 360, 0, 10, 54504000, 0},
                      RecordLineCase{"r 0 360 10 0:0:0 1/1/2000", true, 360, 360, 0, 10, 0, 2451545},
                      RecordLineCase{"r 0 360 10 23:59:59.5 31/12/1999", true, 360, 360, 0, 10, 86399500, 2451544},
                      // a second blank before the date still leaves the date to be read
                      RecordLineCase{"r 0 360 10 12:00:00  1/2/2003", true, 360, 360, 0, 10, 43200000, 2452672},
                      // a tab does not separate time and date, so no date is seen
                      RecordLineCase{"r 0 360 10 12:00:00\t1/2/2003", true, 360, 360, 0, 10, 43200000, 0},
                      // dates out of range are no dates
                      RecordLineCase{"r 0 360 10 10:20:30 32/1/2000", true, 360, 360, 0, 10, 37230000, 0},
                      RecordLineCase{"r 0 360 10 10:20:30 1/13/2000", true, 360, 360, 0, 10, 37230000, 0},
                      RecordLineCase{"r 0 360 10 10:20:30 1/1/0", true, 360, 360, 0, 10, 37230000, 0},
                      RecordLineCase{"r 0 360 10 10:20:30 1-1-2000", true, 360, 360, 0, 10, 37230000, 0}));

// ---- signal lines ----------------------------------------------------------

struct SignalLineCase {
    std::string line;
    SignalSpec expected;
    friend void PrintTo(const SignalLineCase &c, std::ostream *os) { *os << ::testing::PrintToString(c.line); }
};

SignalSpec expected_signal(std::string fname, int fmt, double gain, int adcres, int adczero, int initval, int baseline,
                           std::string desc) {
    SignalSpec s;
    s.fname = std::move(fname);
    s.fmt = fmt;
    s.gain = gain;
    s.adcres = adcres;
    s.adczero = adczero;
    s.initval = initval;
    s.baseline = baseline;
    s.desc = std::move(desc);
    return s;
}

SignalSpec with(SignalSpec s, void (*change)(SignalSpec &)) {
    change(s);
    return s;
}

const std::string kDefaultDesc = "record r, signal 0";

class SignalLine : public RecordDirTest, public ::testing::WithParamInterface<SignalLineCase> {};

TEST_P(SignalLine, FieldsAndDefaults) {
    const SignalLineCase &c = GetParam();
    ASSERT_EQ(read("r", "r 1 360 1000\n" + c.line + "\n"), 0) << wfdberror();
    ASSERT_EQ(header.signals.size(), 1u);
    const SignalSpec &got = header.signals[0];
    const SignalSpec &want = c.expected;
    EXPECT_EQ(got.fname, want.fname);
    EXPECT_EQ(got.desc, want.desc);
    EXPECT_EQ(got.units, want.units);
    EXPECT_DOUBLE_EQ(got.gain, want.gain);
    EXPECT_EQ(got.initval, want.initval);
    EXPECT_EQ(got.group, 0);
    EXPECT_EQ(got.fmt, want.fmt);
    EXPECT_EQ(got.spf, want.spf);
    EXPECT_EQ(got.skew, want.skew);
    EXPECT_EQ(got.offset, want.offset);
    EXPECT_EQ(got.bsize, want.bsize);
    EXPECT_EQ(got.adcres, want.adcres);
    EXPECT_EQ(got.adczero, want.adczero);
    EXPECT_EQ(got.baseline, want.baseline);
    EXPECT_EQ(got.nsamp, want.nsamp);
    EXPECT_EQ(got.cksum, want.cksum);
    EXPECT_EQ(got.has_cksum, want.has_cksum);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignalLine,
    ::testing::Values(
        SignalLineCase{"100.dat 212 200 11 1024 995 -22131 0 MLII",
                       with(expected_signal("100.dat", 212, 200, 11, 1024, 995, 1024, "MLII"),
                            [](SignalSpec &s) { s.cksum = -22131, s.has_cksum = true, s.nsamp = 1000; })},
        SignalLineCase{"f 16x2:3+10", with(expected_signal("f", 16, 0, 12, 0, 0, 0, kDefaultDesc),
                                           [](SignalSpec &s) { s.spf = 2, s.skew = 2, s.offset = 10; })},
        SignalLineCase{"f 16x3:4", with(expected_signal("f", 16, 0, 12, 0, 0, 0, kDefaultDesc),
                                        [](SignalSpec &s) { s.spf = 3, s.skew = 1; })},
        SignalLineCase{"f 16x0:-2+-3", expected_signal("f", 16, 0, 12, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"f 16x", expected_signal("f", 16, 0, 12, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"f 16 200(-3)/mmHg", with(expected_signal("f", 16, 200, 12, 0, 0, -3, kDefaultDesc),
                                                 [](SignalSpec &s) { s.units = "mmHg"; })},
        SignalLineCase{"f 16 200(7", expected_signal("f", 16, 200, 12, 0, 0, 7, kDefaultDesc)},
        SignalLineCase{"f 16 0.5/a/b", with(expected_signal("f", 16, 0.5, 12, 0, 0, 0, kDefaultDesc),
                                            [](SignalSpec &s) { s.units = "a/b"; })},
        SignalLineCase{"f 16 200/mV(3)", with(expected_signal("f", 16, 200, 12, 0, 0, 0, kDefaultDesc),
                                              [](SignalSpec &s) { s.units = "mV(3)"; })},
        SignalLineCase{"f 16 200/", expected_signal("f", 16, 200, 12, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"f 80", expected_signal("f", 80, 0, 8, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"f 160", expected_signal("f", 160, 0, 16, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"f 310", expected_signal("f", 310, 0, 10, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"f 311", expected_signal("f", 311, 0, 10, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"f 8", expected_signal("f", 8, 0, 12, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"f 524", expected_signal("f", 524, 0, 12, 0, 0, 0, kDefaultDesc)},
        SignalLineCase{"~ 0 86/mV 11 0 -1024 0 0 II",
                       with(expected_signal("~", 0, 86, 11, 0, -1024, 0, "II"),
                            [](SignalSpec &s) { s.units = "mV", s.has_cksum = true, s.nsamp = 1000; })},
        // ADCRES given as 0 stays 0; INITVAL and BASELINE follow ADCZERO
        SignalLineCase{"f 16 200 0 5", expected_signal("f", 16, 200, 0, 5, 5, 5, kDefaultDesc)},
        SignalLineCase{"f 16 200(3) 12 5 7", expected_signal("f", 16, 200, 12, 5, 7, 3, kDefaultDesc)},
        // a checksum makes the record length the signal's length; no BSIZE, no description
        SignalLineCase{"f 16 200 12 0 0 99 desc",
                       with(expected_signal("f", 16, 200, 12, 0, 0, 0, kDefaultDesc),
                            [](SignalSpec &s) { s.cksum = 99, s.has_cksum = true, s.nsamp = 1000; })},
        // one blank after BSIZE is consumed; everything else up to the line break is the description
        SignalLineCase{"f 16 200 12 0 0 0 512   two  spaces \r",
                       with(expected_signal("f", 16, 200, 12, 0, 0, 0, "  two  spaces "),
                            [](SignalSpec &s) { s.bsize = 512, s.has_cksum = true, s.nsamp = 1000; })},
        SignalLineCase{"f 16 200 12 0 0 0 0\t\tX", with(expected_signal("f", 16, 200, 12, 0, 0, 0, "\tX"),
                                                        [](SignalSpec &s) { s.has_cksum = true, s.nsamp = 1000; })},
        SignalLineCase{"f 16 200 12 0 0 0 0 \r", with(expected_signal("f", 16, 200, 12, 0, 0, 0, kDefaultDesc),
                                                      [](SignalSpec &s) { s.has_cksum = true, s.nsamp = 1000; })},
        SignalLineCase{"f 16 200 12 0 0 0 0 " + std::string(120, 'd'),
                       with(expected_signal("f", 16, 200, 12, 0, 0, 0, std::string(100, 'd')),
                            [](SignalSpec &s) { s.has_cksum = true, s.nsamp = 1000; })},
        SignalLineCase{"f 16 200/" + std::string(60, 'u'),
                       with(expected_signal("f", 16, 200, 12, 0, 0, 0, kDefaultDesc),
                            [](SignalSpec &s) { s.units = std::string(50, 'u'); })}));

TEST_F(RecordDirTest, DefaultDescriptionNamesTheRecordAsGiven) {
    dir.write("db/r.hea", "r 2 360\nf 16\nf 16\n");
    ASSERT_EQ(read_header("db/r", header), 0) << wfdberror();
    EXPECT_EQ(header.signals[1].desc, "record db/r, signal 1");
}

TEST_F(RecordDirTest, GroupsAreRunsOfLinesNamingTheSameFile) {
    ASSERT_EQ(read("r", "r 5 360\na 16\na 16\nb 16\na 16\na 212\n"), -2);
    EXPECT_STREQ(wfdberror(), "init: signals 3 and 4 share a signal file but not its format and block size\n");
    ASSERT_EQ(read("r", "r 5 360\na 16\na 16\nb 212\na 16\na 16\n# extra\nc 99\n"), 0) << wfdberror();
    std::vector<int> groups;
    for (const SignalSpec &s : header.signals) groups.push_back(s.group);
    EXPECT_EQ(groups, (std::vector<int>{0, 0, 1, 2, 2}));
}

TEST_F(RecordDirTest, CommentsAndBlankLinesAreSkippedAndExtraLinesIgnored) {
    ASSERT_EQ(read("r", "# c\n\n  \t\r\n  # indented comment\nr 2 360\n\n# x\na 16\r\n\r\nb 16\nnot a signal line\n"),
              0)
        << wfdberror();
    ASSERT_EQ(header.signals.size(), 2u);
    EXPECT_EQ(header.signals[1].fname, "b");
    EXPECT_EQ(header.nsig, 2);
}

TEST_F(RecordDirTest, LongLinesAreReadWhole) {
    std::string desc(5000, 'x');
    ASSERT_EQ(read("r", "r 1 360\nf 16 200 12 0 0 0 0 " + desc + "\n"), 0) << wfdberror();
    EXPECT_EQ(header.signals[0].desc, desc.substr(0, 100));
}

// A line past 1/64 of the record memory ceiling (4 MB of the default 256 MB) is
// refused where it stands, naming the header and the limit; a field quoted in a
// text is cut to its beginning.
TEST_F(RecordDirTest, HeaderLinesAreBoundedAndTextsQuoteFieldsShort) {
    struct Case {
        std::string header;
        std::string text;
    };
    const std::string endless(5 << 20, '1');
    const std::string where = "./r.hea";
    const std::string limit =
        " is longer than 4 MB, the most a header line may take (1/64 of the 256 MB a record "
        "may use, SIGTROVE_MAX_RECORD_MEMORY)\n";
    for (const Case &c : {
             Case{"r 1 250 10 " + endless + "\nf 16\n", "init: line 1 of header " + where + limit},
             Case{"r 1 250 10\n#" + endless + "\nf 16\n", "init: line 2 of header " + where + limit},
             Case{"r 1 250 10\nf 16\n#" + endless, "init: line 3 of header " + where + limit},
             Case{"r 1 250 10 x" + std::string(1000, 'y') + "\nf 16\n",
                  "setbasetime: incorrect time format, 'x" + std::string(79, 'y') + "... (1001 characters)'\n"},
         }) {
        EXPECT_EQ(read("r", c.header), c.text.find("line") != std::string::npos ? -3 : -2);
        EXPECT_EQ(wfdberror(), c.text);
    }
}

TEST_F(RecordDirTest, HeaderWithNoSignalsIsValid) {
    ASSERT_EQ(read("r", "r 0 360 100\n"), 0) << wfdberror();
    EXPECT_EQ(header.nsig, 0);
    EXPECT_TRUE(header.signals.empty());
}

TEST_F(RecordDirTest, SignalCountIsNotTrustedBeforeLinesExist) {
    ASSERT_EQ(read("r", "r 2000000000 360\nf 16\n"), -2);
    EXPECT_STREQ(wfdberror(), "init: unexpected EOF in header file for record r\n");
}

TEST_F(RecordDirTest, SuccessLeavesTheLastErrorText) {
    std::string before = wfdberror();
    ASSERT_EQ(read("r", "r 1 360\nf 16\n"), 0);
    EXPECT_EQ(before, wfdberror());
}

// ---- rejections --------------------------------------------------------------

struct RejectionCase {
    const char *text;
    int rc;
    const char *error;
    friend void PrintTo(const RejectionCase &c, std::ostream *os) { *os << ::testing::PrintToString(c.text); }
};

class Rejection : public RecordDirTest, public ::testing::WithParamInterface<RejectionCase> {};

TEST_P(Rejection, CodeAndText) {
    const RejectionCase &c = GetParam();
    EXPECT_EQ(read("r", c.text), c.rc);
    EXPECT_STREQ(wfdberror(), c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Rejection,
    ::testing::Values(
        RejectionCase{"", -2, "init: record r header is empty\n"},
        RejectionCase{"# only a comment\n\n \n", -2, "init: can't find record name in record r header\n"},
        RejectionCase{"r\n", -2, "init: obsolete format in record r header\n"},
        RejectionCase{"r -1 360\n", -2, "init: number of signals in record r header is incorrect\n"},
        RejectionCase{"r 99999999999 360\n", -2, "init: number of signals in record r header is incorrect\n"},
        RejectionCase{"r 0 0\n", -2, "init: sampling frequency in record r header is incorrect\n"},
        RejectionCase{"r 0 -360\n", -2, "init: sampling frequency in record r header is incorrect\n"},
        RejectionCase{"r 0 abc\n", -2, "init: sampling frequency in record r header is incorrect\n"},
        RejectionCase{"r 0 nan\n", -2, "init: sampling frequency in record r header is incorrect\n"},
        RejectionCase{"r 0 inf\n", -2, "init: sampling frequency in record r header is incorrect\n"},
        RejectionCase{"r 0 360 -1\n", -2, "init: number of samples in record r header is incorrect\n"},
        RejectionCase{"r 0 360 99999999999999999999\n", -2,
                      "init: number of samples in record r header is incorrect\n"},
        RejectionCase{"x 0 360\n", -2, "init: record name in record r header is incorrect\n"},
        RejectionCase{"r 0 360 10 0:0:0\n", -2, "setbasetime: incorrect time format, '0:0:0'\n"},
        RejectionCase{"r 0 360 10 00:00:00\n", -2, "setbasetime: incorrect time format, '00:00:00'\n"},
        RejectionCase{"r 0 360 10 0:0:0 0/0/0\n", -2, "setbasetime: incorrect time format, '0:0:0 0/0/0'\n"},
        RejectionCase{"r 0 360 10   0:0:0\n", -2, "setbasetime: incorrect time format, '0:0:0'\n"},
        // two blanks after NSAMP leave a blank base time, which is refused
        RejectionCase{"r 0 360 10  \n", -2, "setbasetime: incorrect time format, ''\n"},
        RejectionCase{"r 0 360 10  ", -2, "setbasetime: incorrect time format, ''\n"},
        RejectionCase{"r 0 360 10  \r\n", -2, "setbasetime: incorrect time format, ''\n"},
        RejectionCase{"r 0 360 10 \t\n", -2, "setbasetime: incorrect time format, '\t'\n"},
        RejectionCase{"r 0 360 10 -1:00:00\n", -2, "setbasetime: incorrect time format, '-1:00:00'\n"},
        RejectionCase{"r 0 360 10 noon\n", -2, "setbasetime: incorrect time format, 'noon'\n"},
        RejectionCase{"r 2 360\nf 16\n", -2, "init: unexpected EOF in header file for record r\n"},
        RejectionCase{"r 2 360\nf 16\n# comment\n\n", -2, "init: unexpected EOF in header file for record r\n"},
        RejectionCase{"r 1 360\nf 17\n", -2, "init: illegal format for signal 0, record r\n"},
        RejectionCase{"r 2 360\nf 16\ng\n", -2, "init: illegal format for signal 1, record r\n"},
        RejectionCase{"r 1 360\nf x16\n", -2, "init: illegal format for signal 0, record r\n"},
        RejectionCase{"r 1 360\nf 4294967312\n", -2, "init: illegal format for signal 0, record r\n"},
        RejectionCase{"r 2 360\nf 16\nf 212\n", -2,
                      "init: signals 0 and 1 share a signal file but not its format and block size\n"},
        RejectionCase{"r 2 360\nf 16 200 12 0 0 0 512\nf 16 200 12 0 0 0 0\n", -2,
                      "init: signals 0 and 1 share a signal file but not its format and block size\n"},
        RejectionCase{"r 1 360\nf 16x99999999999\n", -2,
                      "init: value '16x99999999999' out of range for signal 0, record r\n"},
        RejectionCase{"r 1 360\nf 16 200 12 3000000000\n", -2,
                      "init: value '3000000000' out of range for signal 0, record r\n"},
        RejectionCase{"r 1 360\nf 16 200(3000000000)\n", -2,
                      "init: value '200(3000000000)' out of range for signal 0, record r\n"},
        RejectionCase{"#wfdb 10.8\nr 0\n", -1,
                      "init: reading record r requires WFDB library version 10.8.0 or later\n"
                      "  (the most recent version is always available from http://physionet.org)\n"},
        RejectionCase{"#wfdb 11\nr 0\n", -1,
                      "init: reading record r requires WFDB library version 11.0.0 or later\n"
                      "  (the most recent version is always available from http://physionet.org)\n"},
        RejectionCase{"#wfdb 10.7.1\nr 0\n", -1,
                      "init: reading record r requires WFDB library version 10.7.1 or later\n"
                      "  (the most recent version is always available from http://physionet.org)\n"},
        RejectionCase{"#wfdb 10.1000\nr 0\n", -1,
                      "init: reading record r requires WFDB library version 10.1000.0 or later\n"
                      "  (the most recent version is always available from http://physionet.org)\n"},
        RejectionCase{"r/0 1 360\n", -2, "init: number of segments in record r header is incorrect\n"},
        RejectionCase{"r/x 1 360\n", -2, "init: number of segments in record r header is incorrect\n"},
        RejectionCase{"r/2 1 360\n+a 10\nb 10\n", -2, "init: `+a' is not a valid segment name in record r\n"},
        RejectionCase{"r/1 1 360\naaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa 10\n", -2,
                      "init: `aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa' is too long for a segment name in "
                      "record r\n"},
        RejectionCase{"r/2 1 360\na 10\nb\n", -2, "init: length must be specified for segment b in record r\n"},
        RejectionCase{"r/2 1 360\na -10\nb 1\n", -2, "init: length must be specified for segment a in record r\n"},
        RejectionCase{"r/3 1 360\na 10\nb 1\n", -2, "init: unexpected EOF in header file for record r\n"},
        RejectionCase{"r/2 1 360\na 9223372036854775807\nb 1\n", -2,
                      "init: total length of the segments of record r is too large\n"}));

TEST_F(RecordDirTest, VersionLinesThisReaderSatisfiesAreComments) {
    for (const char *line : {"#wfdb 10.7.0", "#wfdb 10.4", "#wfdb 9.999.9999", "#wfdb", "#wfdbx", "#wfdb -3"}) {
        EXPECT_EQ(read("r", std::string(line) + "\nr 0 360\n"), 0) << line << ": " << wfdberror();
    }
    // only the very first line can ask for a version
    EXPECT_EQ(read("r", "# c\n#wfdb 99\nr 0 360\n"), 0) << wfdberror();
}

// ---- record name check --------------------------------------------------------

struct NameCase {
    const char *record;       // as opened
    const char *file;         // where its header lies
    const char *header_name;  // name on its record line
    bool accepted;
    friend void PrintTo(const NameCase &c, std::ostream *os) { *os << c.record << " named " << c.header_name; }
};

class RecordNameCheck : public RecordDirTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(RecordNameCheck, HeaderNameMustMatchTheRecord) {
    const NameCase &c = GetParam();
    dir.write(c.file, std::string(c.header_name) + " 0 360\n");
    int rc = read_header(c.record, header);
    if (c.accepted) {
        EXPECT_EQ(rc, 0) << wfdberror();
    } else {
        EXPECT_EQ(rc, -2);
        EXPECT_EQ(std::string(wfdberror()),
                  "init: record name in record " + std::string(c.record) + " header is incorrect\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordNameCheck,
    ::testing::Values(NameCase{"100", "100.hea", "100", true}, NameCase{"mitdb/100", "mitdb/100.hea", "100", true},
                      NameCase{"mitdb/100/", "mitdb/100/100.hea", "100", true},
                      NameCase{"100x", "100x.hea", "100", true},  // a prefix of the name
                      NameCase{"abc", "abc.hea", "bc", true},     // the name after its first character
                      NameCase{"x.y", "x.y.hea", "x.y", true}, NameCase{"100", "100.hea", "101", false},
                      NameCase{"mitdb/100", "mitdb/100.hea", "mitdb", true}, NameCase{"100", "100.hea", "10", true},
                      NameCase{"mitdb/100", "mitdb/100.hea", "00", false}));

// ---- multi-segment master headers ------------------------------------------------

TEST_F(RecordDirTest, MultiSegmentMasterListsSegmentsWithTheirStartFrames) {
    ASSERT_EQ(read("m", "m/3 2 125 100 12:40:38 20/07/1995\n# c\nseg1 50\n\n~ 30\nseg2 20\n"), 0) << wfdberror();
    EXPECT_TRUE(header.multi_segment);
    EXPECT_EQ(header.nsig, 2);
    EXPECT_TRUE(header.signals.empty());
    EXPECT_EQ(header.nsamp, 100);
    EXPECT_EQ(header.base_ms, 45638000);
    EXPECT_EQ(header.base_date, jdn(20, 7, 1995));
    ASSERT_EQ(header.segments.size(), 3u);
    const long starts[] = {0, 50, 80}, lengths[] = {50, 30, 20};
    const char *names[] = {"seg1", "~", "seg2"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(header.segments[i].name, names[i]);
        EXPECT_EQ(header.segments[i].start, starts[i]);
        EXPECT_EQ(header.segments[i].nsamp, lengths[i]);
    }
}

TEST_F(RecordDirTest, MultiSegmentLengthIsTheSumWhenNotStated) {
    ASSERT_EQ(read("m", "m/2 1 125\na 10\nb 5\n"), 0) << wfdberror();
    EXPECT_EQ(header.nsamp, 15);
}

TEST_F(RecordDirTest, MultiSegmentStatedLengthWinsWithAWarning) {
    ASSERT_EQ(read("m", "m/2 1 125 99\na 10\nb 5\n"), 0) << wfdberror();
    EXPECT_EQ(header.nsamp, 99);
    EXPECT_STREQ(wfdberror(), " does not match sum of segment lengths (15)\n");
}

TEST_F(RecordDirTest, SegmentCountIsNotTrustedBeforeLinesExist) {
    EXPECT_EQ(read("m", "m/2000000000 1 125\na 10\n"), -2);
    EXPECT_STREQ(wfdberror(), "init: unexpected EOF in header file for record m\n");
}

TEST_F(RecordDirTest, SegmentHeadersCannotBeMultiSegment) {
    write_header("inner", "inner/1 1 125\na 10\n");
    EXPECT_EQ(read_segment_header("inner", header), -2);
    EXPECT_STREQ(wfdberror(), "init: record inner cannot be nested in another multi-segment record\n");
    write_header("plain", "plain 1 125 10\nplain.dat 16\n");
    EXPECT_EQ(read_segment_header("plain", header), 0) << wfdberror();
}

// ---- names ------------------------------------------------------------------------

TEST_F(RecordDirTest, MissingHeaderAndDashAreNotFound) {
    EXPECT_EQ(read_header("nosuchrecord", header), -1);
    EXPECT_STREQ(wfdberror(), "init: can't open header for record nosuchrecord\n");
    // "-" never means standard input, even when a file of that name exists
    write_header("-", "- 0 360\n");
    EXPECT_EQ(read_header("-", header), -1);
    EXPECT_STREQ(wfdberror(), "init: can't open header for record -\n");
    EXPECT_EQ(read_header("", header), -1);
}

TEST_F(RecordDirTest, RecordAndPathAreKept) {
    ASSERT_EQ(read("r", "r 0 360\n"), 0);
    EXPECT_EQ(header.record, "r");
    EXPECT_EQ(header.path, "./r.hea");
}

// ---- the shared records --------------------------------------------------------------

using sigtrove::testing::ExpectedRecord;

class SharedRecordHeader : public sigtrove::testing::SharedRecordTest {};

void expect_signal_equals(const SignalSpec &got, const nlohmann::json &want, size_t index) {
    SCOPED_TRACE("signal " + std::to_string(index));
    EXPECT_EQ(got.fname, want["fname"].get<std::string>());
    EXPECT_EQ(got.desc, want["desc"].get<std::string>());
    if (want["units"].is_null())
        EXPECT_FALSE(got.units.has_value());
    else
        EXPECT_EQ(got.units, want["units"].get<std::string>());
    EXPECT_DOUBLE_EQ(got.gain, want["gain"].get<double>());
    EXPECT_EQ(got.initval, want["initval"].get<int>());
    EXPECT_EQ(got.group, want["group"].get<int>());
    EXPECT_EQ(got.fmt, want["fmt"].get<int>());
    EXPECT_EQ(got.spf, want["spf"].get<int>());
    EXPECT_EQ(got.bsize, want["bsize"].get<int>());
    EXPECT_EQ(got.adcres, want["adcres"].get<int>());
    EXPECT_EQ(got.adczero, want["adczero"].get<int>());
    EXPECT_EQ(got.baseline, want["baseline"].get<int>());
    EXPECT_EQ(got.nsamp, want["nsamp"].get<long>());
    EXPECT_EQ(got.cksum, want["cksum"].get<int>());
}

void expect_signals_equal(const std::vector<SignalSpec> &got, const nlohmann::json &want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i) expect_signal_equals(got[i], want[i], i);
}

TEST_P(SharedRecordHeader, SignalFieldsEqualTheReference) {
    const ExpectedRecord &record = GetParam();
    nlohmann::json expected = sigtrove::testing::load_expected(record);
    sigtrove::testing::WorkingDirectory cwd(record.folder);
    Header header;
    int rc = read_header(record.record, header);
    int expected_count = expected["header_open"]["ret"].get<int>();
    if (expected_count < 0) {
        EXPECT_EQ(rc, expected_count);
        EXPECT_EQ(std::string(wfdberror()), expected["header_open"]["wfdberror"].get<std::string>());
        return;
    }
    ASSERT_EQ(rc, 0) << wfdberror();
    if (header.multi_segment) {
        // The signals presented are those of segment 0 (the layout header of a
        // variable-layout record); the reference shows that header's own lengths.
        ASSERT_FALSE(header.segments.empty());
        EXPECT_EQ(header.nsamp, expected["strtim_e"].get<long>());
        Header first;
        ASSERT_EQ(read_segment_header(header.segments[0].name, first), 0) << wfdberror();
        EXPECT_EQ(first.nsig, expected_count);
        expect_signals_equal(first.signals, expected["signals"]);
        return;
    }
    EXPECT_EQ(header.nsig, expected_count);
    const nlohmann::json &header_signals = expected["header_signals"];
    if (header_signals.is_object() && header_signals["ret"].get<int>() > 0)
        expect_signals_equal(header.signals, header_signals["signals"]);
    if (expected.contains("signals") && !expected["signals"].empty())
        expect_signals_equal(header.signals, expected["signals"]);
}

INSTANTIATE_TEST_SUITE_P(Records, SharedRecordHeader, ::testing::ValuesIn(sigtrove::testing::expected_records()),
                         [](const ::testing::TestParamInfo<ExpectedRecord> &info) {
                             return sigtrove::testing::test_name_of(info.param);
                         });

}  // namespace

namespace {

// ---- damaged headers ---------------------------------------------------------------------

// Every shared header, cut short and with single bytes replaced by characters that
// mean something to the grammar: the reader must answer with a code, and whatever it
// accepts must be self-consistent.
TEST_F(RecordDirTest, DamagedHeadersGiveCodesNotCrashes) {
    namespace fs = std::filesystem;
    const char specials[] = {'\0', '/', '(', ')', 'x', ':', '+', '-', ' ', '\t', '\r', '\n', '#', '9', '.', '~'};
    unsigned state = 12345;
    auto next = [&state] { return state = state * 1103515245u + 12345u, (state >> 8) & 0xffffff; };
    int accepted = 0, tried = 0;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(fs::path(SIGTROVE_FIXTURES) / "records")) {
        if (entry.path().extension() != ".hea") continue;
        std::string original = sigtrove::testing::read_file(entry.path().string());
        std::string name = entry.path().stem().string();
        for (int round = 0; round < 200; ++round) {
            std::string damaged = original;
            if (round % 4 == 0) {
                damaged.resize(next() % (original.size() + 1));
            } else {
                for (int k = 0; k <= round % 3; ++k)
                    damaged[next() % damaged.size()] = specials[next() % sizeof specials];
            }
            SCOPED_TRACE(name + ": " + ::testing::PrintToString(damaged));
            int rc = read(name, damaged);
            ++tried;
            ASSERT_TRUE(rc == 0 || rc == -1 || rc == -2) << rc;
            if (rc != 0) continue;
            ++accepted;
            ASSERT_TRUE(header.has_freq ? header.freq > 0 : true);
            ASSERT_GE(header.nsamp, 0);
            if (header.multi_segment) continue;
            ASSERT_EQ(header.signals.size(), static_cast<size_t>(header.nsig));
            for (const SignalSpec &s : header.signals) {
                ASSERT_GE(s.spf, 1);
                ASSERT_GE(s.skew, 0);
                ASSERT_GE(s.offset, 0);
                ASSERT_LE(s.desc.size(), 100u);
                ASSERT_LE(s.units.value_or("").size(), 50u);
            }
        }
    }
    EXPECT_GT(tried, 1000);
    EXPECT_GT(accepted, 0);
}

}  // namespace
