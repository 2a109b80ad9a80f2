// Hostile records: headers whose claims (signal counts, samples per frame,
// skews, groups, segments, lengths) would take far more memory, time or file
// handles than their data need. Each is refused at once with a text naming the
// claim, or read with memory, handles and work that follow the data.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "header/record_memory.h"
#include "record/record.h"
#include "record_dir_fixture.h"
#include "record_writer.h"
#include "signals/array_sink.h"
#include "wfdb/wfdb.h"

namespace {

using sigtrove::engine::BulkOutcome;
using sigtrove::engine::ErrorKind;
using sigtrove::engine::Record;
using sigtrove::engine::SampleRate;
using sigtrove::engine::SampleType;
using sigtrove::engine::Status;
using sigtrove::testing::RecordDirTest;

// File descriptors this process holds now.
int open_descriptors() {
    int count = 0;
    if (DIR *fds = opendir("/proc/self/fd")) {
        while (dirent *entry = readdir(fds))
            if (entry->d_name[0] != '.') ++count;
        closedir(fds);
    }
    return count - 1;  // the directory being listed
}

std::string repeat(const std::string &line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

// Numbered lines: "PREFIX0 REST", "PREFIX1 REST", ...
std::string numbered(const std::string &prefix, const std::string &rest, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += prefix + std::to_string(i) + " " + rest + "\n";
    return text;
}

struct Claim {
    const char *name;
    std::string header;     // the text of r.hea
    std::string named;      // what the refusal's text names
    long long ceiling = 0;  // bytes; 0 for the default
    friend void PrintTo(const Claim &c, std::ostream *os) { *os << c.name; }
};

class ClaimBeyondTheCeiling : public RecordDirTest, public ::testing::WithParamInterface<Claim> {};

// Refused before anything is allocated for the claim: by the header parser,
// whichever way the record is opened, with the kind that says "too much".
TEST_P(ClaimBeyondTheCeiling, IsRefusedAtOnceNamingTheClaim) {
    sigtrove::engine::set_max_record_memory(GetParam().ceiling);
    const std::string ceiling = GetParam().ceiling ? "1 MB" : "256 MB";
    write_header("r", GetParam().header);
    dir.write("r.dat", std::string(64, '\1'));
    std::unique_ptr<Record> record;
    Status status = Record::open("r", record);
    EXPECT_EQ(status.kind(), ErrorKind::limit);
    EXPECT_NE(status.text().find(GetParam().named), std::string::npos) << status.text();
    EXPECT_NE(status.text().find("more than the " + ceiling + " a record may use"), std::string::npos) << status.text();
    EXPECT_EQ(isigopen(const_cast<char *>("r"), nullptr, 0), -3);
    EXPECT_NE(std::string(wfdberror()).find(GetParam().named), std::string::npos) << wfdberror();
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ClaimBeyondTheCeiling,
    ::testing::Values(
        Claim{"SamplesPerFrame", "r 1 250\nr.dat 8x67108863\n", "67108863 samples per frame (signal 0)"},
        Claim{"SamplesPerFrameOnEightLines", std::string("r 8 250\n") + repeat("r.dat 8x67108863\n", 8),
              "67108863 samples per frame (signal 0)"},
        Claim{"SamplesPerFrameSpreadOverSignals", std::string("r 16 250\n") + numbered("f", "16x300000", 16),
              "300000 samples per frame"},
        Claim{"Skew", "r 2 250\nr.dat 16\nr.dat 16:100000000\n", "a skew of 100000000 frames (signal 1)"},
        Claim{"FlacGroups", std::string("r 1200 250\n") + repeat("r.dat 516\nnone 0\n", 600), "600 FLAC signal groups"},
        Claim{"MasterSignalCount", "r/2 25000000 250\nseg 10\nseg 10\n", "25000000 signals"},
        // Lines are held to the ceiling as they are read: refused at the first line past it.
        Claim{"SignalLines", std::string("r 3000 250\n") + numbered("f", "0", 3000), "3000 signals", 1 << 20},
        Claim{"SegmentLines", std::string("r/20000 1 250\n") + numbered("s", "10", 20000), "20000 segments", 1 << 20}),
    [](const ::testing::TestParamInfo<Claim> &info) { return std::string(info.param.name); });

TEST_F(RecordDirTest, TheCeilingIsASettingAndAnEnvironmentVariable) {
    // 2000 samples per frame take a little under 1 MB held open (64 bytes each with their window).
    write_header("r", "r 1 250\nr.dat 16x20000\n");
    dir.write("r.dat", std::string(80000, '\0'));
    std::unique_ptr<Record> record;
    EXPECT_TRUE(Record::open("r", record).ok());
    {
        sigtrove::testing::EnvironmentVariable ceiling{"SIGTROVE_MAX_RECORD_MEMORY", "1M"};
        Status refused = Record::open("r", record);
        EXPECT_EQ(refused.kind(), ErrorKind::limit);
        EXPECT_NE(refused.text().find("20000 samples per frame (signal 0), which need 1.2 MB, more than the 1 MB"),
                  std::string::npos)
            << refused.text();
        sigtrove::engine::set_max_record_memory(2 << 20);
        EXPECT_TRUE(Record::open("r", record).ok()) << "the setting wins over the environment";
    }
    sigtrove::engine::set_max_record_memory(512 << 10);
    EXPECT_EQ(Record::open("r", record).kind(), ErrorKind::limit);
}

// 3000 groups (each a line naming the file again after a format 0 line) share one handle,
// opened by the first read and closed with the record.
TEST_F(RecordDirTest, GroupsNamingOneFileShareOneHandleOpenedWhenRead) {
    std::string lines;
    for (int i = 0; i < 1500; ++i) lines += "r.dat 16\nnone 0\n";
    write_header("r", "r 3000 250\n" + lines);
    dir.write("r.dat", std::string(2000, '\2'));
    const int before = open_descriptors();
    std::unique_ptr<Record> record;
    ASSERT_TRUE(Record::open("r", record).ok());
    EXPECT_EQ(record->signal_count(), 3000);
    EXPECT_EQ(open_descriptors(), before) << "nothing is held before the first read";
    std::vector<std::int32_t> out(10 * 3000);
    std::vector<std::size_t> all(3000);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    auto sink = sigtrove::engine::make_array_sink(SampleType::int32, out.data(), all.size(), SampleRate::frame, {});
    BulkOutcome outcome;
    ASSERT_TRUE(record->read(0, 10, all, *sink, outcome).ok());
    EXPECT_EQ(outcome.frames, 10);
    EXPECT_EQ(out[0], 0x0202);
    EXPECT_EQ(out[2], 0x0202) << "the second group reads the same file from its own start";
    EXPECT_EQ(open_descriptors(), before + 1);
    record.reset();
    EXPECT_EQ(open_descriptors(), before);
}

// The default instance of the C interface releases a record's files when the next record is opened.
TEST_F(RecordDirTest, OpeningAnotherRecordReleasesTheFilesOfTheLast) {
    write_header("many", std::string("many 50 250\n") + numbered("d", "16", 50));
    for (int i = 0; i < 50; ++i) dir.write(std::to_string(i).insert(0, 1, 'd'), std::string(40, '\0'));
    write_header("one", "one 1 250\nnone 0\n");
    const int before = open_descriptors();
    std::vector<WFDB_Siginfo> info(50);
    ASSERT_EQ(isigopen(const_cast<char *>("many"), info.data(), 50), 50);
    for (WFDB_Siginfo &s : info) std::free(s.fname), std::free(s.desc), std::free(s.units);
    std::vector<WFDB_Sample> frame(50);
    ASSERT_EQ(getvec(frame.data()), 50);
    EXPECT_EQ(open_descriptors(), before + 50);
    ASSERT_EQ(isigopen(const_cast<char *>("one"), info.data(), 1), 1);
    std::free(info[0].fname), std::free(info[0].desc), std::free(info[0].units);
    EXPECT_EQ(open_descriptors(), before);
}

// A header that claims 10^9 frames over 8 stored ones: the record says what a read
// can deliver, and a read of the claimed length stops where the data do.
TEST_F(RecordDirTest, ALengthClaimedBeyondTheDataCostsOnlyTheData) {
    write_header("r", "r 1 250 1000000000\nr.dat 16 200 12 0 0 0 0 x\n");
    dir.write("r.dat", std::string(16, '\3'));
    std::unique_ptr<Record> record;
    ASSERT_TRUE(Record::open("r", record).ok());
    EXPECT_EQ(record->frame_count(), 1000000000);
    EXPECT_EQ(record->deliverable_frames(), 8);
    std::vector<std::int32_t> out(8);
    auto sink = sigtrove::engine::make_array_sink(SampleType::int32, out.data(), 1, SampleRate::frame, {});
    BulkOutcome outcome;
    Status status = record->read(0, record->deliverable_frames(), {0}, *sink, outcome);
    EXPECT_TRUE(status.ok()) << status.text();
    EXPECT_EQ(outcome.frames, 8);
    // Asking for the claim itself ends in the engine's text, after the same 8 frames.
    std::unique_ptr<Record> again;
    ASSERT_TRUE(Record::open("r", again).ok());
    std::vector<std::int32_t> room(16);
    auto short_sink = sigtrove::engine::make_array_sink(SampleType::int32, room.data(), 1, SampleRate::frame, {});
    status = again->read(0, 8, {0}, *short_sink, outcome);
    EXPECT_TRUE(status.ok());
    status = again->read(8, 1000000000 - 8, {0}, *short_sink, outcome);
    EXPECT_EQ(status.text(), "getvec: unexpected EOF in signal 0\n");
    EXPECT_EQ(outcome.frames, 0);
}

}  // namespace
