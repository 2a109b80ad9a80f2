// Time texts: elapsed and time-of-day forms, millisecond rounding, dates, and
// strtim; checked against the shared records' time texts.
#include <gtest/gtest.h>

#include <climits>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>

#include "expected_records.h"
#include "fixture_files.h"
#include "header/header.h"
#include "record_dir_fixture.h"
#include "time/julian_date.h"
#include "time/time_text.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"

namespace {

using sigtrove::engine::calendar_date;
using sigtrove::engine::CalendarDate;
using sigtrove::engine::julian_day_number;
using sigtrove::engine::time_text;
using sigtrove::engine::TimeBasis;

long jdn(int day, int month, long year) { return julian_day_number(CalendarDate{day, month, year}); }

struct TimeCase {
    TimeBasis basis;
    long t;
    const char *timstr;
    const char *mstimstr;
    friend void PrintTo(const TimeCase &c, std::ostream *os) {
        *os << c.t << " at " << c.basis.freq << " Hz, base " << c.basis.base_ms << " ms, date " << c.basis.base_date;
    }
};

class TimeTexts : public ::testing::TestWithParam<TimeCase> {};

TEST_P(TimeTexts, BothForms) {
    const TimeCase &c = GetParam();
    EXPECT_EQ(time_text(c.t, c.basis, false), c.timstr);
    EXPECT_EQ(time_text(c.t, c.basis, true), c.mstimstr);
}

const TimeBasis k250{250, 0, 0};
const TimeBasis k250Base{250, 37230000, 0};        // 10:20:30
const TimeBasis k360Date{360, 86399500, 2451544};  // 23:59:59.5 31/12/1999
const TimeBasis k100Date{100, 0, 2452672};         // 0:0:0 01/02/2003
const TimeBasis kNoFrequency{0, 0, 0};

INSTANTIATE_TEST_SUITE_P(
    Cases, TimeTexts,
    ::testing::Values(TimeCase{k250, 0, "    0:00", "    0:00.000"}, TimeCase{k250, 1, "    0:00", "    0:00.004"},
                      TimeCase{k250, 359, "    0:01", "    0:01.436"}, TimeCase{k250, -360, "    0:01", "    0:01.440"},
                      TimeCase{k250, 1296000, " 1:26:24", " 1:26:24.000"},
                      TimeCase{k250, 129600000, "144:00:00", "144:00:00.000"},
                      TimeCase{k250Base, 0, "[10:20:30]", "[10:20:30.000]"},
                      TimeCase{k250Base, 360, "    0:01", "    0:01.440"},
                      TimeCase{k250Base, -360, "[10:20:31]", "[10:20:31.440]"},
                      TimeCase{k250Base, -32400000, "[22:20:30 1]", "[22:20:30.000 1]"},
                      TimeCase{k360Date, 0, "[23:59:59 31/12/1999]", "[23:59:59.500 31/12/1999]"},
                      TimeCase{k360Date, -360, "[00:00:00 01/01/2000]", "[00:00:00.500 01/01/2000]"},
                      TimeCase{k360Date, 1295999, "   59:59", "   59:59.997"},
                      TimeCase{k100Date, 0, "[00:00:00 01/02/2003]", "[00:00:00.000 01/02/2003]"},
                      TimeCase{k100Date, -8640000, "[00:00:00 02/02/2003]", "[00:00:00.000 02/02/2003]"},
                      // seconds are those after rounding to milliseconds
                      TimeCase{TimeBasis{10000, 0, 0}, 599996, "    1:00", "    1:00.000"},
                      TimeCase{TimeBasis{10000, 0, 0}, 599994, "    0:59", "    0:59.999"},
                      // no frequency: counted at 1 Hz
                      TimeCase{kNoFrequency, 3661, " 1:01:01", " 1:01:01.000"},
                      TimeCase{kNoFrequency, -61, "    1:01", "    1:01.000"}));

TEST(TimeTextLimits, ExtremeTimesGiveTextsNotOverflows) {
    for (const TimeBasis &basis : {k250, k360Date, kNoFrequency, TimeBasis{1e-9, 1, 0}, TimeBasis{1e9, 0, 0}}) {
        for (long t : {LONG_MAX, LONG_MIN, LONG_MIN + 1, -1L}) {
            std::string text = time_text(t, basis, true);
            EXPECT_FALSE(text.empty());
            EXPECT_LT(text.size(), 80u) << text;
        }
    }
}

TEST(TimeTextBuffer, TimstrAndMstimstrShareOneBuffer) {
    sigtrove::engine::reset_record_state();
    char *a = timstr(1);
    char *b = mstimstr(2);
    EXPECT_EQ(a, b);
    EXPECT_STREQ(a, "    0:02.000");
}

// ---- calendar -------------------------------------------------------------------------

TEST(JulianDate, KnownDays) {
    EXPECT_EQ(jdn(1, 1, 2000), 2451545);
    EXPECT_EQ(jdn(1, 1, 1970), 2440588);
    EXPECT_EQ(jdn(15, 10, 1582), 2299161);  // the first Gregorian day
    EXPECT_EQ(jdn(4, 10, 1582), 2299150);   // proleptic: ten days earlier, not the Julian calendar's next day
    EXPECT_EQ(jdn(29, 2, 2000) + 1, jdn(1, 3, 2000));
    EXPECT_EQ(jdn(28, 2, 1900) + 1, jdn(1, 3, 1900));
    EXPECT_EQ(jdn(31, 2, 2000), jdn(2, 3, 2000));  // days past a month's end run on
    EXPECT_EQ(jdn(1, 1, 1) - 1, jdn(31, 12, -1));  // no year 0
}

TEST(JulianDate, DatesRoundTrip) {
    for (long day = jdn(1, 1, -5000); day < jdn(1, 1, 3000); day += 97) {
        CalendarDate date = calendar_date(day);
        ASSERT_NE(date.year, 0);
        ASSERT_EQ(jdn(date.day, date.month, date.year), day) << date.day << "/" << date.month << "/" << date.year;
    }
    CalendarDate date = calendar_date(2708799);
    EXPECT_EQ(date.day, 4);
    EXPECT_EQ(date.month, 5);
    EXPECT_EQ(date.year, 2704);
}

// ---- strtim -----------------------------------------------------------------------------

class Strtim : public sigtrove::testing::RecordDirTest {
protected:
    void open(const std::string &record_line) {
        write_header("r", record_line + "\n");
        ASSERT_GT(sampfreq(const_cast<char *>("r")), 0) << wfdberror();
    }
    static long at(const char *text) { return strtim(const_cast<char *>(text)); }
};

TEST_F(Strtim, EndSampleNumbersAndElapsedTimes) {
    open("r 0 360 650000 10:20:30 1/1/2000");
    EXPECT_EQ(at("e"), 650000);
    EXPECT_EQ(at("s12345"), 12345);
    EXPECT_EQ(at("  s5"), 5);
    EXPECT_EQ(at("1:00"), 21600);
    EXPECT_EQ(at("1:00:00.5"), 1296180);
    EXPECT_EQ(at("2.5"), 900);
    EXPECT_EQ(at("-1:00"), -21600);
    EXPECT_EQ(at("[10:20:31]"), -360);
    EXPECT_EQ(at("[10:20:30 1]"), -31104000);
    EXPECT_EQ(at("[10:20:30 02/01/2000]"), -31104000);
    EXPECT_EQ(strtim(nullptr), 0);
    EXPECT_EQ(at("what"), 0);
}

TEST_F(Strtim, TimeOfDayTextsReadBack) {
    open("r 0 360 650000 23:59:59.5 31/12/1999");
    for (long t : {0L, -360L, -1000L, -31104000L}) EXPECT_EQ(at(mstimstr(t)), t) << mstimstr(t);
}

// ---- positions as the WFDB tools take them -------------------------------------------------

struct PositionCase {
    const char *text;
    std::optional<long> position;
};

void PrintTo(const PositionCase &c, std::ostream *out) { *out << '"' << c.text << '"'; }

class PositionOfTimeText : public ::testing::TestWithParam<PositionCase> {};

TEST_P(PositionOfTimeText, IsCheckedWhole) {
    // 360 Hz, base time 10:00:00 on 1 January 2000, 650000 frames.
    const TimeBasis basis{360, 36000000, jdn(1, 1, 2000)};
    EXPECT_EQ(sigtrove::engine::position_of_time_text(GetParam().text, basis, 650000), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PositionOfTimeText,
    ::testing::Values(PositionCase{"e", 650000}, PositionCase{" s1200 ", 1200}, PositionCase{"s0", 0},
                      PositionCase{"0:10", 3600}, PositionCase{"10", 3600}, PositionCase{"1:02:03.5", 1340460},
                      PositionCase{".5", 180}, PositionCase{"0.0014", 1}, PositionCase{"[10:00:01]", 360},
                      PositionCase{"[10:00:00 01/01/2000]", 0}, PositionCase{"[09:59:59 02/01/2000]", 31103640},
                      PositionCase{"[10:00:00 1]", 31104000},
                      // refused: empty, signs, exponents, trailing text, a time before the base
                      PositionCase{"", std::nullopt}, PositionCase{"-1", std::nullopt},
                      PositionCase{"1e3", std::nullopt}, PositionCase{"10s", std::nullopt},
                      PositionCase{"s", std::nullopt}, PositionCase{"s12x", std::nullopt},
                      PositionCase{"1:2:3:4", std::nullopt}, PositionCase{"[09:00:00]", std::nullopt},
                      PositionCase{"[10:00:00", std::nullopt}, PositionCase{"ee", std::nullopt},
                      PositionCase{"abc", std::nullopt}, PositionCase{"[1:00 x]", std::nullopt}));

// ---- the shared records, each in a fresh state as the reference ran them ------------------

using sigtrove::testing::ExpectedRecord;

class SharedRecordTimeTexts : public sigtrove::testing::SharedRecordTest {};

TEST_P(SharedRecordTimeTexts, TimstrEqualsTheReference) {
    const ExpectedRecord &record = GetParam();
    nlohmann::json expected = sigtrove::testing::load_expected(record);
    sigtrove::testing::WorkingDirectory cwd(record.folder);
    std::string name = record.record;
    sampfreq(name.data());
    const nlohmann::json &texts = expected["timstr"];
    EXPECT_EQ(timstr(0), texts["t0"].get<std::string>());
    for (const nlohmann::json &item : texts["nsamp"])
        EXPECT_EQ(timstr(item["t"].get<long>()), item["text"].get<std::string>()) << "nsamp t=" << item["t"];
    for (const nlohmann::json &item : texts["points"])
        EXPECT_EQ(timstr(item["t"].get<long>()), item["text"].get<std::string>()) << item["label"];
}

INSTANTIATE_TEST_SUITE_P(Records, SharedRecordTimeTexts, ::testing::ValuesIn(sigtrove::testing::expected_records()),
                         [](const ::testing::TestParamInfo<ExpectedRecord> &info) {
                             return sigtrove::testing::test_name_of(info.param);
                         });

}  // namespace
