// The values a header read leaves behind for the process: sampfreq, getcfreq, the
// record length and base time, taken from the header read last.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "expected_records.h"
#include "fixture_files.h"
#include "header/header.h"
#include "record_dir_fixture.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"

namespace {

using sigtrove::engine::record_state;
using sigtrove::testing::RecordDirTest;

TEST_F(RecordDirTest, NothingReadMeansNoFrequency) {
    EXPECT_EQ(sampfreq(nullptr), 0.0);
    EXPECT_EQ(getcfreq(), 0.0);
    EXPECT_STREQ(timstr(61), "    1:01");  // counted at 1 Hz
}

TEST_F(RecordDirTest, HeaderReadLastGivesEveryValue) {
    write_header("a", "a 0 360/720(5) 100 10:00:00 1/1/2000\n");
    write_header("b", "b 0 250/1000 50\n");
    ASSERT_EQ(sampfreq(const_cast<char *>("a")), 360.0);
    EXPECT_EQ(getcfreq(), 720.0);
    EXPECT_EQ(record_state().basecount, 5.0);
    EXPECT_STREQ(timstr(0), "[10:00:00 01/01/2000]");
    std::string before = wfdberror();
    ASSERT_EQ(sampfreq(const_cast<char *>("b")), 250.0);
    EXPECT_EQ(sampfreq(nullptr), 250.0);
    EXPECT_EQ(getcfreq(), 1000.0);
    EXPECT_EQ(record_state().basecount, 0.0);
    EXPECT_EQ(strtim(const_cast<char *>("e")), 50);
    EXPECT_STREQ(timstr(0), "    0:00");  // b has no base time: a's is gone
    EXPECT_EQ(before, wfdberror());       // and no "differs" warning is recorded
}

TEST_F(RecordDirTest, HeaderWithoutFrequencyCountsAt250) {
    write_header("a", "a 0 360 100\n");
    write_header("b", "b 0\n");
    ASSERT_EQ(sampfreq(const_cast<char *>("a")), 360.0);
    ASSERT_EQ(sampfreq(const_cast<char *>("b")), 250.0);
    EXPECT_EQ(getcfreq(), 250.0);
    EXPECT_EQ(strtim(const_cast<char *>("e")), 0);
}

TEST_F(RecordDirTest, FailedSampfreqLeavesNoFrequency) {
    write_header("a", "a 0 360/720 100\n");
    write_header("bad", "bad 0 -1\n");
    ASSERT_EQ(sampfreq(const_cast<char *>("a")), 360.0);
    EXPECT_EQ(sampfreq(const_cast<char *>("nosuch")), -1.0);
    EXPECT_STREQ(wfdberror(), "init: can't open header for record nosuch\n");
    EXPECT_EQ(sampfreq(nullptr), 0.0);
    EXPECT_EQ(getcfreq(), 0.0);
    EXPECT_STREQ(timstr(61), "    1:01");
    ASSERT_EQ(sampfreq(const_cast<char *>("a")), 360.0);
    EXPECT_EQ(sampfreq(const_cast<char *>("bad")), -2.0);
    EXPECT_STREQ(wfdberror(), "init: sampling frequency in record bad header is incorrect\n");
    EXPECT_EQ(sampfreq(nullptr), 0.0);
}

TEST_F(RecordDirTest, HighResolutionCountsTheHeadersLargestSamplesPerFrame) {
    write_header("h", "h 3 100\nf 16x4\nf 16\ng 16x2\n");
    ASSERT_EQ(sampfreq(const_cast<char *>("h")), 100.0);
    EXPECT_EQ(record_state().spf_max, 4);
    record_state().high_resolution = true;
    EXPECT_EQ(sampfreq(nullptr), 400.0);
    EXPECT_EQ(sampfreq(const_cast<char *>("h")), 400.0);
    EXPECT_EQ(getcfreq(), 100.0);  // the counter frequency is per frame
    EXPECT_STREQ(mstimstr(400), "    0:01.000");
}

TEST_F(RecordDirTest, SampfreqNamesAreTheEnginesOwnCopy) {
    write_header("r", "r 0 360\n");
    char with_suffix[] = "r.hea";
    EXPECT_EQ(sampfreq(with_suffix), 360.0);
    EXPECT_STREQ(with_suffix, "r.hea");
    // sampfreq takes '+' as part of the name
    EXPECT_EQ(sampfreq(const_cast<char *>("+r")), -1.0);
    EXPECT_STREQ(wfdberror(), "init: can't open header for record +r\n");
    EXPECT_EQ(sampfreq(const_cast<char *>("-")), -1.0);
    EXPECT_STREQ(wfdberror(), "init: can't open header for record -\n");
}

TEST_F(RecordDirTest, MultiSegmentMasterGivesTheTotalLength) {
    write_header("m", "m/2 2 125 0:0:1\na 10\nb 5\n");
    write_header("n", "n/2 2 125\na 10\nb 5\n");
    ASSERT_EQ(sampfreq(const_cast<char *>("n")), 125.0);
    EXPECT_EQ(strtim(const_cast<char *>("e")), 15);
}

TEST_F(RecordDirTest, ResetForgetsEverything) {
    write_header("a", "a 0 360 100 10:00:00\n");
    ASSERT_EQ(sampfreq(const_cast<char *>("a")), 360.0);
    sigtrove::engine::reset_record_state();
    EXPECT_EQ(sampfreq(nullptr), 0.0);
    EXPECT_EQ(strtim(const_cast<char *>("e")), 0);
    EXPECT_STREQ(timstr(0), "    0:00");
}

// ---- the shared records, each in a fresh state as the reference ran them ---------

using sigtrove::testing::ExpectedRecord;

class SharedRecordFrequency : public sigtrove::testing::SharedRecordTest {};

TEST_P(SharedRecordFrequency, SampfreqGetcfreqAndLengthEqualTheReference) {
    const ExpectedRecord &record = GetParam();
    nlohmann::json expected = sigtrove::testing::load_expected(record);
    sigtrove::testing::WorkingDirectory cwd(record.folder);
    std::string name = record.record;
    double freq = sampfreq(name.data());
    EXPECT_EQ(freq, expected["sampfreq"]["value"].get<double>());
    if (freq < 0) {
        EXPECT_EQ(std::string(wfdberror()), expected["sampfreq"]["wfdberror"].get<std::string>());
    }
    EXPECT_EQ(sampfreq(nullptr), expected["sampfreq_after_open"]["value"].get<double>());
    EXPECT_EQ(getcfreq(), expected["sampfreq_after_open"]["getcfreq"].get<double>());
    EXPECT_EQ(strtim(const_cast<char *>("e")), expected["strtim_e"].get<long>());
}

INSTANTIATE_TEST_SUITE_P(Records, SharedRecordFrequency, ::testing::ValuesIn(sigtrove::testing::expected_records()),
                         [](const ::testing::TestParamInfo<ExpectedRecord> &info) {
                             return sigtrove::testing::test_name_of(info.param);
                         });

}  // namespace
