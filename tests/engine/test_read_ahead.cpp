// How far a group reads its file ahead: a read of a known number of frames
// fetches about its own bytes; reading on goes back to whole blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "formats/group_reader.h"
#include "io/signal_file.h"
#include "io/signal_file_handle.h"
#include "record/record.h"
#include "record_dir_fixture.h"
#include "signals/array_sink.h"
#include "signals/group_window.h"

namespace {

using namespace sigtrove::engine;

// Bytes in memory that note the size of every read asked of them.
class CountingSource final : public ByteSource {
public:
    CountingSource(std::vector<std::uint8_t> bytes, std::vector<std::size_t> &asked)
        : bytes_(std::move(bytes)), asked_(asked) {}
    long long read(std::uint8_t *dest, std::size_t size) override {
        asked_.push_back(size);
        std::size_t n = position_ >= static_cast<long long>(bytes_.size())
                            ? 0
                            : std::min(size, bytes_.size() - static_cast<std::size_t>(position_));
        if (n > 0) std::memcpy(dest, bytes_.data() + position_, n);
        position_ += static_cast<long long>(n);
        return static_cast<long long>(n);
    }
    bool seek(long long offset) override {
        if (offset < 0) return false;
        position_ = offset;
        return true;
    }
    long long position() const override { return position_; }
    long long size() override { return static_cast<long long>(bytes_.size()); }
    std::string failure() const override { return {}; }

private:
    std::vector<std::uint8_t> bytes_;
    std::vector<std::size_t> &asked_;
    long long position_ = 0;
};

// A format 16 file of two signals whose samples are (frame % 30000, -(frame % 30000)).
constexpr long long kFrames = 400000;
std::vector<std::uint8_t> two_signal_file() {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kFrames * 4);
    for (long long f = 0; f < kFrames; ++f) {
        for (int v : {static_cast<int>(f % 30000), -static_cast<int>(f % 30000)}) {
            auto u = static_cast<std::uint16_t>(v);
            bytes.push_back(static_cast<std::uint8_t>(u & 0xff));
            bytes.push_back(static_cast<std::uint8_t>(u >> 8));
        }
    }
    return bytes;
}

struct Case {
    const char *what;
    long long skew;  // the group's largest skew: frame n needs rows n .. n + skew
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.what; }

class ReadAhead : public ::testing::TestWithParam<Case> {};

TEST_P(ReadAhead, AnnouncedFramesCostTheirOwnBytesThenBlocksResume) {
    std::vector<std::size_t> asked;
    GroupLayout layout;
    layout.fmt = 16;
    layout.spf = {1, 1};
    layout.initval = {0, 0};
    layout.frame_size = 2;
    layout.fname = "counted.dat";
    auto handle = std::make_shared<SignalFileHandle>(std::make_unique<CountingSource>(two_signal_file(), asked));
    GroupWindow window(open_uncompressed_group_reader(layout, handle), layout, GetParam().skew, {});

    const long long start = 200001, frames = 3600;
    ASSERT_EQ(window.seek(start, false), SeekOutcome::ok);
    window.expect(start, frames);
    for (long long n = start; n < start + frames; ++n) {
        ASSERT_TRUE(window.cover(n)) << n;
        ASSERT_EQ(window.row(n)[0], static_cast<int>(n % 30000)) << n;
        ASSERT_EQ(window.row(n)[1], -static_cast<int>(n % 30000)) << n;
    }
    std::size_t announced = 0;
    for (std::size_t a : asked) announced += a;
    // The frames' bytes (and the skew's), rounded out to whole pages, and no block.
    const auto own = static_cast<std::size_t>((frames + GetParam().skew) * 4);
    EXPECT_GE(announced, own);
    EXPECT_LE(announced, own + 2 * 4096);

    // Reading on past them fetches whole blocks again, and the right values.
    asked.clear();
    for (long long n = start + frames; n < start + frames + 40000; ++n) {
        ASSERT_TRUE(window.cover(n)) << n;
        ASSERT_EQ(window.row(n)[0], static_cast<int>(n % 30000)) << n;
    }
    ASSERT_FALSE(asked.empty());
    EXPECT_EQ(*std::max_element(asked.begin(), asked.end()), SignalFile::kBlockSize);
}

INSTANTIATE_TEST_SUITE_P(Groups, ReadAhead, ::testing::Values(Case{"unskewed", 0}, Case{"skewed", 25}),
                         [](const auto &info) { return std::string(info.param.what); });

TEST(ReadAhead, WithoutAnAnnouncementAFileIsReadInWholeBlocks) {
    std::vector<std::size_t> asked;
    auto handle = std::make_shared<SignalFileHandle>(std::make_unique<CountingSource>(two_signal_file(), asked));
    SignalFile file(handle);
    ASSERT_TRUE(file.seek(800004));
    EXPECT_GE(file.fill(4), 4u);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], SignalFile::kBlockSize);
}

TEST(ReadAhead, AnAnnouncementIsForgottenBySeekingElsewhere) {
    std::vector<std::size_t> asked;
    auto handle = std::make_shared<SignalFileHandle>(std::make_unique<CountingSource>(two_signal_file(), asked));
    SignalFile file(handle);
    ASSERT_TRUE(file.seek(4));
    file.expect(100);
    ASSERT_TRUE(file.seek(800004));
    EXPECT_GE(file.fill(4), 4u);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], SignalFile::kBlockSize);
}

// What this process has read so far: bytes and read calls (Linux's /proc/self/io), or -1.
struct ReadCounts {
    long long bytes = -1, calls = -1;
};
ReadCounts read_counts() {
    ReadCounts counts;
    std::ifstream io("/proc/self/io");
    std::string field;
    long long value = 0;
    while (io >> field >> value) {
        if (field == "rchar:") counts.bytes = value;
        if (field == "syscr:") counts.calls = value;
    }
    return counts;
}

// Record "r" in the test's directory: the two-signal format 16 file above.
class RecordReadAhead : public sigtrove::testing::RecordDirTest {
protected:
    void SetUp() override {
        if (read_counts().calls < 0) GTEST_SKIP() << "no /proc/self/io to count reads with";
        std::vector<std::uint8_t> bytes = two_signal_file();
        dir.write("r.dat", std::string(bytes.begin(), bytes.end()));
        write_header("r", "r 2 250 " + std::to_string(kFrames) + "\nr.dat 16\nr.dat 16\n");
        ASSERT_TRUE(Record::open("r", record_).ok());
    }
    // Frames [start, start + frames) of both signals; the values are checked.
    void read(long long start, long long frames) {
        std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * 2);
        auto sink = make_array_sink(SampleType::int32, out.data(), 2, SampleRate::frame, {});
        BulkOutcome outcome;
        ASSERT_TRUE(record_->read(start, frames, {0, 1}, *sink, outcome).ok());
        ASSERT_EQ(outcome.frames, frames);
        for (long long f = 0; f < frames; ++f)
            ASSERT_EQ(out[static_cast<std::size_t>(2 * f)], static_cast<int>((start + f) % 30000)) << start + f;
    }
    std::unique_ptr<Record> record_;
};

TEST_F(RecordReadAhead, AWindowReadsItsOwnBytes) {
    ReadCounts before = read_counts();
    read(200001, 3600);
    EXPECT_LE(read_counts().bytes - before.bytes, 3600 * 4 + 2 * 4096);
}

TEST_F(RecordReadAhead, ReadsThatGoOnFromTheLastOneReadAheadInWholeBlocks) {
    read(0, 1000);
    ReadCounts before = read_counts();
    // 99 reads of 4000 bytes each, one after the other: a few blocks, not a read call each.
    for (long long start = 1000; start < 100000; start += 1000) read(start, 1000);
    EXPECT_LE(read_counts().calls - before.calls, 6);
}

}  // namespace
