// Bulk reads of engine record objects: for every shared record, output type,
// choice of signals and window, a bulk read equals what getvec gives frame by
// frame (invalid samples NaN in physical units, (v - baseline) / gain otherwise);
// signals read at their own rate equal the stored samples; record objects keep
// their own position and need no working directory.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expected_records.h"
#include "fixture_files.h"
#include "record/record.h"
#include "signals/array_sink.h"
#include "signals/group_window.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/signal_input.h"

namespace {

using sigtrove::engine::BulkOutcome;
using sigtrove::engine::PhysicalScale;
using sigtrove::engine::Record;
using sigtrove::engine::SampleRate;
using sigtrove::engine::SampleType;
using sigtrove::engine::Status;
using sigtrove::testing::ExpectedRecord;
using Frame = std::vector<WFDB_Sample>;

// What the C interface gives for a window: the frames getvec delivered (a frame
// it could not deliver inside a multi-segment record is a row of invalid
// samples), and whether the data ended inside the window.
struct GetvecWindow {
    std::vector<Frame> frames;
    bool failed = false;  // a single-segment record's data could not be read
};

// A record opened both ways: through the C interface (the reference) and as a
// record object, with the working directory in the record's folder for the first.
class RecordPair {
public:
    explicit RecordPair(const ExpectedRecord &record) : name_(record.record), cwd_(record.folder) {
        wfdbquiet();
        int n = isigopen(const_cast<char *>(name_.c_str()), nullptr, 0);
        if (n <= 0) return;
        siginfo_.assign(static_cast<std::size_t>(n), WFDB_Siginfo{});
        opened_ = isigopen(const_cast<char *>(name_.c_str()), siginfo_.data(), n);
        if (opened_ != n) return;
        Status status = Record::open(name_, object_);
        EXPECT_TRUE(status.ok()) << status.text();
    }
    ~RecordPair() {
        for (int i = 0; i < std::max(opened_, 0); ++i) {
            std::free(siginfo_[i].fname);
            std::free(siginfo_[i].desc);
            std::free(siginfo_[i].units);
        }
    }

    bool usable() const { return object_ != nullptr; }
    Record &object() { return *object_; }
    std::size_t width() const { return static_cast<std::size_t>(opened_); }
    const WFDB_Siginfo &info(std::size_t i) const { return siginfo_[i]; }

    GetvecWindow getvec_window(long long start, long long count) {
        GetvecWindow w;
        Frame v(width());
        // Inside a multi-segment record a seek into a segment that can not be opened
        // fails, and getvec then fails each of its frames: rows of invalid samples.
        if (isigsettime(start) < 0 && !object_->multi_segment()) return w;
        for (long long k = 0; k < count; ++k) {
            int r = getvec(v.data());
            if (r == -1) break;
            if (r == -3 && !object_->multi_segment()) {
                w.failed = true;
                break;
            }
            w.frames.push_back(r == -3 ? Frame(width(), WFDB_INVALID_SAMPLE) : v);
        }
        return w;
    }

private:
    std::string name_;
    sigtrove::testing::WorkingDirectory cwd_;
    sigtrove::testing::EnvironmentVariable wfdb_{"WFDB", "."};
    std::vector<WFDB_Siginfo> siginfo_;
    int opened_ = 0;
    std::unique_ptr<Record> object_;
};

struct Window {
    long long start, count;
};

// Windows that reach the start, block boundaries, the middle, the end and past it.
std::vector<Window> windows_of(long long frames, std::size_t frame_size, const std::vector<long long> &boundaries) {
    auto block = static_cast<long long>(sigtrove::engine::window_block_frames(frame_size));
    std::vector<Window> windows{{0, std::min(frames, 3000LL)},
                                {0, 1},
                                {block - 3, 7},
                                {2 * block - 1, 2},
                                {frames / 2, 500},
                                {frames - 5, 5},
                                {frames - 5, 100},
                                {frames, 10},
                                {frames + 7, 3}};
    for (long long b : boundaries) windows.push_back({std::max(0LL, b - 4), 9});
    return windows;
}

std::vector<std::vector<std::size_t>> signal_choices(std::size_t width) {
    std::vector<std::vector<std::size_t>> choices;
    std::vector<std::size_t> all(width), reversed;
    for (std::size_t i = 0; i < width; ++i) all[i] = i;
    reversed.assign(all.rbegin(), all.rend());
    choices.push_back(all);
    choices.push_back(reversed);
    for (std::size_t i = 0; i < width; ++i) choices.push_back({i});
    choices.push_back({width - 1, 0, width - 1});
    return choices;
}

double physical(WFDB_Sample v, const WFDB_Siginfo &info) {
    if (v == WFDB_INVALID_SAMPLE) return std::nan("");
    double gain = info.gain == 0 ? WFDB_DEFGAIN : info.gain;
    return (static_cast<double>(v) - info.baseline) / gain;
}

bool same_value(double got, double want) { return std::isnan(want) ? std::isnan(got) : got == want; }

// Reads a window with a bulk read into an array of `type`; the values as doubles.
std::vector<double> bulk_values(RecordPair &pair, SampleType type, long long start, long long count,
                                const std::vector<std::size_t> &chosen, BulkOutcome &outcome, Status &status) {
    std::vector<PhysicalScale> scales;
    for (std::size_t s : chosen) {
        const WFDB_Siginfo &info = pair.info(s);
        scales.push_back({static_cast<double>(info.baseline), info.gain == 0 ? WFDB_DEFGAIN : info.gain});
    }
    std::size_t capacity = static_cast<std::size_t>(std::max(count, 0LL)) * chosen.size();
    std::vector<unsigned char> bytes(capacity * sigtrove::engine::sample_size(type) + 1);
    auto sink = sigtrove::engine::make_array_sink(type, bytes.data(), chosen.size(), SampleRate::frame, scales);
    status = pair.object().read(start, count, chosen, *sink, outcome);
    std::vector<double> values(static_cast<std::size_t>(outcome.frames) * chosen.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        switch (type) {
            case SampleType::int16: values[i] = reinterpret_cast<std::int16_t *>(bytes.data())[i]; break;
            case SampleType::int32: values[i] = reinterpret_cast<std::int32_t *>(bytes.data())[i]; break;
            case SampleType::int64:
                values[i] = static_cast<double>(reinterpret_cast<std::int64_t *>(bytes.data())[i]);
                break;
            case SampleType::float32: values[i] = reinterpret_cast<float *>(bytes.data())[i]; break;
            case SampleType::float64: values[i] = reinterpret_cast<double *>(bytes.data())[i]; break;
        }
    }
    return values;
}

// Whether every stored value of the chosen signals fits 16 bits.
bool fits_int16(const GetvecWindow &w, const std::vector<std::size_t> &chosen) {
    for (const Frame &f : w.frames)
        for (std::size_t s : chosen)
            if (f[s] < INT16_MIN || f[s] > INT16_MAX) return false;
    return true;
}

class SharedRecordBulkRead : public ::testing::TestWithParam<ExpectedRecord> {};

TEST_P(SharedRecordBulkRead, EqualsGetvecInEveryTypeSignalChoiceAndWindow) {
    RecordPair pair(GetParam());
    if (!pair.usable()) GTEST_SKIP() << "the record's signals can not be read";
    Record &record = pair.object();
    long long frames = record.frame_count();
    if (frames == 0) GTEST_SKIP() << "the record holds no frames";
    std::size_t frame_size = 0;
    for (int spf : record.samples_per_frame()) frame_size += static_cast<std::size_t>(spf);
    std::vector<long long> boundaries;
    for (const auto &segment : record.header().segments) boundaries.push_back(segment.start);

    for (const Window &window : windows_of(frames, frame_size, boundaries)) {
        if (window.start < 0) continue;
        GetvecWindow want = pair.getvec_window(window.start, window.count);
        for (const auto &chosen : signal_choices(pair.width())) {
            for (SampleType type :
                 {SampleType::int32, SampleType::int16, SampleType::int64, SampleType::float64, SampleType::float32}) {
                if (type == SampleType::int16 && !fits_int16(want, chosen)) continue;
                SCOPED_TRACE("window " + std::to_string(window.start) + "+" + std::to_string(window.count) + ", type " +
                             std::to_string(static_cast<int>(type)) + ", first signal " + std::to_string(chosen[0]) +
                             " of " + std::to_string(chosen.size()));
                BulkOutcome outcome;
                Status status;
                std::vector<double> got = bulk_values(pair, type, window.start, window.count, chosen, outcome, status);
                if (want.failed) {
                    EXPECT_FALSE(status.ok());
                    continue;
                }
                ASSERT_TRUE(status.ok()) << status.text();
                ASSERT_EQ(outcome.frames, static_cast<long long>(want.frames.size()));
                EXPECT_EQ(outcome.stop != 0, static_cast<long long>(want.frames.size()) < window.count);
                for (std::size_t k = 0; k < want.frames.size(); ++k) {
                    for (std::size_t c = 0; c < chosen.size(); ++c) {
                        WFDB_Sample v = want.frames[k][chosen[c]];
                        double expected = v;
                        if (type == SampleType::float64) expected = physical(v, pair.info(chosen[c]));
                        if (type == SampleType::float32)
                            expected = static_cast<float>(physical(v, pair.info(chosen[c])));
                        double value = got[k * chosen.size() + c];
                        ASSERT_TRUE(same_value(value, expected))
                            << "frame " << window.start + static_cast<long long>(k) << ", column " << c << ": " << value
                            << " != " << expected;
                    }
                }
            }
        }
    }
}

TEST_P(SharedRecordBulkRead, SignalsAtTheirOwnRateEqualTheStoredSamples) {
    RecordPair pair(GetParam());
    if (!pair.usable()) GTEST_SKIP() << "the record's signals can not be read";
    std::unique_ptr<Record> frames_source;
    ASSERT_TRUE(Record::open(pair.object().shared_description(), frames_source).ok());
    const std::vector<int> &spf = frames_source->samples_per_frame();
    std::size_t frame_size = 0;
    for (int k : spf) frame_size += static_cast<std::size_t>(k);
    // The stored frames, every sample of every signal, read frame by frame.
    long long count = std::min(pair.object().frame_count(), 2000LL);
    std::vector<Frame> stored;
    Frame frame(frame_size);
    for (long long f = 0; f < count && frames_source->next_frame(frame.data()) >= 0; ++f) stored.push_back(frame);
    std::size_t offset = 0;
    for (std::size_t s = 0; s < spf.size(); offset += static_cast<std::size_t>(spf[s]), ++s) {
        auto k = static_cast<std::size_t>(spf[s]);
        std::vector<std::int32_t> out(stored.size() * k);
        auto sink = sigtrove::engine::make_array_sink(SampleType::int32, out.data(), 1, SampleRate::own, {});
        BulkOutcome outcome;
        ASSERT_TRUE(pair.object().read(0, static_cast<long long>(stored.size()), {s}, *sink, outcome).ok());
        ASSERT_EQ(outcome.frames, static_cast<long long>(stored.size()));
        for (std::size_t f = 0; f < stored.size(); ++f)
            for (std::size_t j = 0; j < k; ++j)
                ASSERT_EQ(out[f * k + j], stored[f][offset + j])
                    << "signal " << s << ", frame " << f << ", sample " << j;
    }
}

TEST_P(SharedRecordBulkRead, ReadingOneSignalThroughTheCInterfaceEqualsGetvec) {
    RecordPair pair(GetParam());
    if (!pair.usable()) GTEST_SKIP() << "the record's signals can not be read";
    long long frames = std::min(pair.object().frame_count(), 100000LL);
    if (frames <= 0) GTEST_SKIP() << "the record holds no frames";
    for (std::size_t s = 0; s < pair.width(); ++s) {
        for (long long start : {0LL, frames / 3}) {
            // getvec up to its first end or failure, keeping signal s.
            std::vector<WFDB_Sample> want;
            Frame v(pair.width());
            if (isigsettime(start) < 0) continue;
            for (long long k = 0; k < frames; ++k) {
                int r = getvec(v.data());
                if (r == -1 || (r < 0 && r != -4)) break;
                want.push_back(v[s]);
            }
            Frame after_getvec(pair.width());
            int after_getvec_ret = getvec(after_getvec.data());

            ASSERT_EQ(isigsettime(start), 0);
            std::vector<WFDB_Sample> got(static_cast<std::size_t>(frames));
            sigtrove::engine::SignalRun run =
                sigtrove::engine::read_input_signal(static_cast<int>(s), frames, got.data());
            got.resize(static_cast<std::size_t>(run.delivered));
            EXPECT_EQ(got, want) << "signal " << s << " from " << start;
            // Both leave the position where getvec leaves it.
            Frame after(pair.width());
            EXPECT_EQ(getvec(after.data()), after_getvec_ret);
            EXPECT_EQ(after, after_getvec);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Records, SharedRecordBulkRead, ::testing::ValuesIn(sigtrove::testing::expected_records()),
                         [](const auto &info) { return sigtrove::testing::test_name_of(info.param); });

// ---- record objects on their own ---------------------------------------------------------

std::string fixture_folder() { return std::string(SIGTROVE_FIXTURES) + "/records"; }

std::vector<std::int32_t> read_all_int32(Record &record, long long start, long long count) {
    std::vector<std::size_t> all(static_cast<std::size_t>(record.signal_count()));
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::vector<std::int32_t> out(static_cast<std::size_t>(count) * all.size());
    auto sink = sigtrove::engine::make_array_sink(SampleType::int32, out.data(), all.size(), SampleRate::frame, {});
    BulkOutcome outcome;
    EXPECT_TRUE(record.read(start, count, all, *sink, outcome).ok());
    out.resize(static_cast<std::size_t>(outcome.frames) * all.size());
    return out;
}

std::unique_ptr<Record> open_in(const std::string &folder, const std::string &name) {
    sigtrove::testing::WorkingDirectory cwd(folder);
    sigtrove::testing::EnvironmentVariable wfdb("WFDB", ".");
    std::unique_ptr<Record> record;
    Status status = Record::open(name, record);
    EXPECT_TRUE(status.ok()) << status.text();
    return record;
}

TEST(RecordObjects, TwoRecordsReadAlternatelyGiveWhatEachGivesAlone) {
    std::unique_ptr<Record> a = open_in(fixture_folder(), "100");
    std::unique_ptr<Record> b = open_in(fixture_folder(), "s0010_re");
    std::unique_ptr<Record> a_alone = open_in(fixture_folder(), "100");
    std::unique_ptr<Record> b_alone = open_in(fixture_folder(), "s0010_re");
    for (long long start = 0; start < 30000; start += 7001) {
        EXPECT_EQ(read_all_int32(*a, start, 5000), read_all_int32(*a_alone, start, 5000)) << start;
        EXPECT_EQ(read_all_int32(*b, start, 5000), read_all_int32(*b_alone, start, 5000)) << start;
    }
}

TEST(RecordObjects, KeepWorkingAfterTheCInterfaceOpensAnotherRecord) {
    std::unique_ptr<Record> record = open_in(fixture_folder(), "100");
    std::vector<std::int32_t> before = read_all_int32(*record, 1000, 2000);
    {
        sigtrove::testing::WorkingDirectory cwd(fixture_folder());
        sigtrove::testing::EnvironmentVariable wfdb("WFDB", ".");
        std::vector<WFDB_Siginfo> info(15);
        ASSERT_EQ(isigopen(const_cast<char *>("s0010_re"), info.data(), 15), 15);
        for (WFDB_Siginfo &s : info) std::free(s.fname), std::free(s.desc), std::free(s.units);
        Frame v(15);
        ASSERT_EQ(getvec(v.data()), 15);
    }
    EXPECT_EQ(read_all_int32(*record, 1000, 2000), before);
    EXPECT_EQ(read_all_int32(*record, 1000, 2000), before);
}

TEST(RecordObjects, SegmentsOpenedLaterNeedNoWorkingDirectory) {
    const std::string folder = fixture_folder() + "/s25047";
    const std::string name = "s25047-2704-05-04-10-44";
    std::unique_ptr<Record> there = open_in(folder, name);
    std::unique_ptr<Record> elsewhere = open_in(folder, name);
    std::vector<std::int32_t> want = read_all_int32(*there, 25700, 40000);
    sigtrove::testing::TempDir empty;
    sigtrove::testing::WorkingDirectory cwd(empty.path());
    // The segments after the null segment are opened only now, from another directory.
    EXPECT_EQ(read_all_int32(*elsewhere, 25700, 40000), want);
    EXPECT_EQ(elsewhere->description().directory, std::filesystem::canonical(folder).string());
}

TEST(RecordObjects, RecordsWithoutALengthReadToTheEndOfTheirData) {
    std::unique_ptr<Record> record = open_in(fixture_folder(), "100-no-len");
    std::unique_ptr<Record> with_length = open_in(fixture_folder(), "100");
    ASSERT_EQ(record->header().nsamp, 0);
    EXPECT_EQ(record->frame_count(), 650000);
    std::vector<std::int32_t> tail = read_all_int32(*record, 649990, 100);
    EXPECT_EQ(tail.size(), 20u);
    EXPECT_EQ(tail, read_all_int32(*with_length, 649990, 10));
}

TEST(RecordObjects, AMissingHeaderIsAFailureWithTheEngineText) {
    sigtrove::testing::TempDir empty;
    sigtrove::testing::WorkingDirectory cwd(empty.path());
    sigtrove::testing::EnvironmentVariable wfdb("WFDB", ".");
    std::string before = wfdberror();
    std::unique_ptr<Record> record;
    Status status = Record::open("nosuch", record);
    EXPECT_EQ(status.kind(), sigtrove::engine::ErrorKind::not_found);
    EXPECT_EQ(status.text(), "init: can't open header for record nosuch\n");
    EXPECT_EQ(record, nullptr);
    // The text is the failure's, not the process's.
    EXPECT_EQ(wfdberror(), before);
}

}  // namespace
