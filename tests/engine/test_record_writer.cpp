// The record writer's behaviour beyond the field's own cases: every format
// round-trips through the engine's reader, values a format can not hold fail
// the write and leave nothing behind, existing records and the record being read
// are kept, names are checked, and omitted gains use the format's range.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "errors/error_state.h"
#include "every_sample.h"
#include "fixture_files.h"
#include "header/header.h"
#include "paths/database_path.h"
#include "record/record.h"
#include "signals/frame_sink.h"
#include "wfdb/wfdb.h"
#include "writers/header_text.h"
#include "writers/new_record.h"
#include "writers/output_names.h"
#include "writers/record_copy.h"
#include "writers/record_writer.h"
#include "writers/signal_scale.h"
#include "writers/writable_formats.h"

namespace {

namespace engine = sigtrove::engine;
namespace fixtures = sigtrove::testing;
namespace fs = std::filesystem;
using engine::ErrorKind;
using engine::SampleColumn;
using engine::Status;

using Samples = sigtrove::testing::SignalSamples<std::int32_t>;
using sigtrove::testing::read_every_sample;

// Opens RECORD in FOLDER (and nowhere else).
std::unique_ptr<engine::Record> open_record(const std::string &folder, const std::string &record) {
    fixtures::EnvironmentVariable wfdb("WFDB", folder);
    engine::reset_database_path();
    std::unique_ptr<engine::Record> opened;
    Status status = engine::Record::open(record, opened);
    EXPECT_TRUE(status.ok()) << status.text();
    engine::reset_database_path();
    return opened;
}

Samples read_samples(engine::Record &record) {
    Samples samples;
    engine::BulkOutcome outcome;
    // A file of formats 310 and 311 ending in two samples ends in a whole unit: read the record's length.
    Status status = read_every_sample(record, record.frame_count(), samples, outcome);
    EXPECT_TRUE(status.ok()) << status.text();
    EXPECT_FALSE(outcome.checksum_mismatch) << "the header's checksums do not match the samples written";
    return samples;
}

// A record of stored values, one signal per entry of FORMATS, every sample of signal s
// (spf[s] per frame) in values[s].
struct Values {
    std::vector<int> formats;
    std::vector<int> spf;
    std::vector<std::vector<std::int64_t>> values;
};

engine::NewRecord new_record(const std::string &name, const Values &v) {
    engine::NewRecord record;
    record.name = name;
    record.frequency = 250;
    for (std::size_t s = 0; s < v.formats.size(); ++s) {
        engine::NewSignal signal;
        signal.name = std::string("s").append(std::to_string(s));
        signal.format = v.formats[s];
        signal.samples_per_frame = v.spf.empty() ? 1 : v.spf[s];
        signal.samples = SampleColumn{SampleColumn::Kind::stored64, v.values[s].data(),
                                      static_cast<std::size_t>(signal.samples_per_frame)};
        record.signals.push_back(signal);
        record.frames = static_cast<long long>(v.values[s].size()) / signal.samples_per_frame;
    }
    return record;
}

// Writes RECORD into FOLDER in blocks of BLOCK frames.
Status write_record(const std::string &folder, const engine::NewRecord &record, std::size_t block = 1 << 16,
                    engine::WriteOptions options = {}) {
    engine::Header layout;
    if (Status status = engine::plan_new_record(record, layout); !status.ok()) return status;
    std::unique_ptr<engine::RecordWriter> writer;
    if (Status status = engine::RecordWriter::create(folder, layout, options, writer); !status.ok()) return status;
    for (long long first = 0; first < record.frames; first += static_cast<long long>(block)) {
        std::vector<SampleColumn> columns = engine::new_record_block(record, first);
        const auto frames =
            static_cast<std::size_t>(std::min<long long>(static_cast<long long>(block), record.frames - first));
        if (Status status = writer->put(frames, columns.data()); !status.ok()) return status;
    }
    return writer->finish();
}

std::vector<std::string> files_in(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The extremes a format holds, an invalid sample, and values between, for signal s of n.
std::vector<std::int64_t> format_values(int format, std::size_t count, std::size_t s) {
    const engine::WritableFormat &f = *engine::writable_format(format);
    std::vector<std::int64_t> out;
    std::int64_t previous = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::int64_t v;
        switch ((i + s) % 5) {
            case 0: v = f.highest; break;
            case 1: v = f.lowest; break;
            case 2: v = f.has_invalid ? WFDB_INVALID_SAMPLE : 0; break;
            default: v = static_cast<std::int64_t>((i * 7919 + s * 104729) % 2001) - 1000; break;
        }
        if (f.differences) v = previous + std::clamp<std::int64_t>(v - previous, -128, 127);  // steps it can store
        if (v != WFDB_INVALID_SAMPLE) previous = v;
        out.push_back(v == WFDB_INVALID_SAMPLE || f.differences || (v >= f.lowest && v <= f.highest) ? v : 0);
    }
    return out;
}

struct RoundTrip {
    int format;
    int signals;
    int spf;
};

class WrittenInEveryFormat : public ::testing::TestWithParam<RoundTrip> {
protected:
    void SetUp() override { wfdbquiet(); }
};

TEST_P(WrittenInEveryFormat, ReadsBackTheValuesWritten) {
    const RoundTrip p = GetParam();
    if (engine::writable_format(p.format)->flac_bits > 0 && !engine::flac_writing_supported())
        GTEST_SKIP() << "this build writes no FLAC";
    Values v;
    for (int s = 0; s < p.signals; ++s) {
        v.formats.push_back(p.format);
        v.spf.push_back(p.spf);
        // An odd count of samples over the file, so that packed formats end in a short unit.
        v.values.push_back(
            format_values(p.format, static_cast<std::size_t>(1001 * p.spf), static_cast<std::size_t>(s)));
    }
    // Blocks of 7 frames end inside the packing units of the bit-packed formats.
    for (std::size_t block : {std::size_t{7}, std::size_t{1} << 16}) {
        fixtures::TempDir dir;
        Status status = write_record(dir.path(), new_record("r", v), block);
        ASSERT_TRUE(status.ok()) << status.text();
        auto record = open_record(dir.path(), "r");
        ASSERT_TRUE(record);
        Samples got = read_samples(*record);
        ASSERT_EQ(got.size(), v.values.size());
        for (std::size_t s = 0; s < got.size(); ++s)
            EXPECT_EQ(std::vector<std::int64_t>(got[s].begin(), got[s].end()), v.values[s]) << "signal " << s;
        EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"r.dat", "r.hea"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, WrittenInEveryFormat,
                         ::testing::Values(RoundTrip{8, 2, 1}, RoundTrip{16, 3, 1}, RoundTrip{24, 1, 2},
                                           RoundTrip{32, 2, 1}, RoundTrip{61, 2, 3}, RoundTrip{80, 3, 1},
                                           RoundTrip{160, 1, 1}, RoundTrip{212, 3, 1}, RoundTrip{212, 1, 3},
                                           RoundTrip{310, 2, 1}, RoundTrip{310, 1, 1}, RoundTrip{311, 2, 1},
                                           RoundTrip{311, 1, 2}, RoundTrip{508, 1, 1}, RoundTrip{516, 2, 2},
                                           RoundTrip{524, 3, 1}),
                         [](const auto &info) {
                             return "format" + std::to_string(info.param.format) + "_" +
                                    std::to_string(info.param.signals) + "x" + std::to_string(info.param.spf);
                         });

TEST(RecordWriter, SignalsOfDifferentFormatsGoToAFileEach) {
    fixtures::TempDir dir;
    Values v{{16, 16, 212, 524}, {}, {{1, 2}, {3, 4}, {5, 6}, {7, 8}}};
    if (!engine::flac_writing_supported()) v.formats.back() = 24;
    ASSERT_TRUE(write_record(dir.path(), new_record("r", v)).ok());
    EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"r.hea", "r_0.dat", "r_1.dat", "r_2.dat"}));
    auto record = open_record(dir.path(), "r");
    ASSERT_TRUE(record);
    EXPECT_EQ(read_samples(*record), (Samples{{1, 2}, {3, 4}, {5, 6}, {7, 8}}));
}

// A value its format can not hold fails the write with a text naming the signal
// and the frame, and leaves nothing in the folder: no record, no temporary file.
struct Unholdable {
    const char *what;
    int format;
    std::vector<std::int64_t> values;
    const char *text;
};

class UnholdableValues : public ::testing::TestWithParam<Unholdable> {};

TEST_P(UnholdableValues, FailTheWriteNamingSignalAndFrame) {
    const Unholdable &u = GetParam();
    fixtures::TempDir dir;
    Values v{{16, u.format}, {}, {std::vector<std::int64_t>(u.values.size(), 0), u.values}};
    // Blocks of 2 frames: the failure comes after the first blocks went out.
    Status status = write_record(dir.path(), new_record("r", v), 2);
    ASSERT_FALSE(status.ok());
    EXPECT_EQ(status.kind(), ErrorKind::bad_request);
    EXPECT_EQ(status.text(), std::string(u.text));
    EXPECT_TRUE(files_in(dir.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnholdableValues,
    ::testing::Values(
        Unholdable{"above212",
                   212,
                   {0, 1, 2, 3, 2048},
                   "sigtrove: signal 1 (s1), frame 4: format 212 can not hold 2048 (it holds -2047 to 2047)\n"},
        Unholdable{"invalid_code_of_212",
                   212,
                   {0, -2048},
                   "sigtrove: signal 1 (s1), frame 1: format 212 can not hold -2048 (it holds -2047 to 2047)\n"},
        Unholdable{"below80",
                   80,
                   {5, -128},
                   "sigtrove: signal 1 (s1), frame 1: format 80 can not hold -128 (it holds -127 to 127)\n"},
        Unholdable{"beyond32",
                   32,
                   {0, 0, 0, 4294967296LL},
                   "sigtrove: signal 1 (s1), frame 3: format 32 can not hold 4294967296 (it holds -2147483647 to "
                   "2147483647)\n"},
        Unholdable{
            "step8",
            8,
            {0, 127, 300},
            "sigtrove: signal 1 (s1), frame 2: format 8 can not hold the step from 127 to 300 (steps are -128 to "
            "127)\n"},
        Unholdable{"invalid8",
                   8,
                   {0, 0, 0, WFDB_INVALID_SAMPLE},
                   "sigtrove: signal 1 (s1), frame 3: format 8 can not hold an invalid sample\n"}),
    [](const auto &info) { return std::string(info.param.what); });

TEST(RecordWriter, PhysicalValuesRoundHalfwayAwayFromZeroAndNanIsInvalid) {
    fixtures::TempDir dir;
    std::vector<double> values{0.5, -0.5, 1.5, -1.5, 2.4999, NAN, 0.49999999999999994};
    engine::NewRecord record;
    record.name = "p";
    record.frequency = 100;
    record.frames = static_cast<long long>(values.size());
    engine::NewSignal signal;
    signal.gain = 1;
    signal.baseline = 10;
    signal.samples = SampleColumn{SampleColumn::Kind::physical, values.data(), 1};
    record.signals.push_back(signal);
    ASSERT_TRUE(write_record(dir.path(), record).ok());
    auto opened = open_record(dir.path(), "p");
    ASSERT_TRUE(opened);
    // As the field's writer computes it: (int)(x + 0.5) for x >= 0, so 0.49999999999999994 gives 1.
    EXPECT_EQ(read_samples(*opened), (Samples{{11, 9, 12, 8, 12, WFDB_INVALID_SAMPLE, 11}}));
}

TEST(RecordWriter, AnInfinitePhysicalValueFailsTheWrite) {
    fixtures::TempDir dir;
    std::vector<double> values{1, INFINITY};
    engine::NewRecord record;
    record.name = "p";
    record.frequency = 100;
    record.frames = 2;
    engine::NewSignal signal;
    signal.name = "ECG";
    signal.gain = 200;
    signal.samples = SampleColumn{SampleColumn::Kind::physical, values.data(), 1};
    record.signals.push_back(signal);
    Status status = write_record(dir.path(), record);
    EXPECT_EQ(status.text(), "sigtrove: signal 0 (ECG), frame 1: the value inf can not be stored\n");
    EXPECT_TRUE(files_in(dir.path()).empty());
}

TEST(RecordWriter, OmittedGainsSpreadPhysicalValuesOverTheFormatsRangeWithoutClipping) {
    // A 5 Hz wave between -3.7 and 12.1 mmHg; in format 8 its steps bound the gain as well.
    std::vector<double> wave;
    for (int i = 0; i < 2000; ++i) wave.push_back(4.2 + 7.9 * std::sin(i * 0.1257));
    const double lowest = *std::min_element(wave.begin(), wave.end()),
                 highest = *std::max_element(wave.begin(), wave.end());
    for (int format : {8, 16, 24, 32, 80, 212, 310}) {
        SCOPED_TRACE("format " + std::to_string(format));
        const engine::WritableFormat &f = *engine::writable_format(format);
        engine::SignalScale scale = engine::choose_signal_scale(wave.data(), wave.size(), 1, 1, f, {}, {});
        auto digital = [&](double v) {
            const double x = v * scale.gain;
            return (x >= 0 ? std::floor(x + 0.5) : std::ceil(x - 0.5)) + scale.baseline;
        };
        const double lo = f.differences ? -2047 : f.lowest, hi = f.differences ? 2047 : f.highest;
        EXPECT_GE(digital(lowest), lo);
        EXPECT_LE(digital(highest), hi);
        if (!f.differences) {
            EXPECT_GT(digital(highest) - digital(lowest), 0.999 * (hi - lo) - 2);
        }
        EXPECT_EQ(scale.gain, engine::as_written(scale.gain));

        fixtures::TempDir dir;
        engine::NewRecord record;
        record.name = "w";
        record.frequency = 125;
        record.frames = static_cast<long long>(wave.size());
        engine::NewSignal signal;
        signal.format = format;
        signal.samples = SampleColumn{SampleColumn::Kind::physical, wave.data(), 1};
        record.signals.push_back(signal);
        Status status = write_record(dir.path(), record);
        ASSERT_TRUE(status.ok()) << status.text();
    }
    // A gain given keeps the values where they fit with baseline 0, and centres them where they do not.
    const engine::WritableFormat &f80 = *engine::writable_format(80);
    EXPECT_EQ(engine::choose_signal_scale(wave.data(), wave.size(), 1, 1, f80, 8.0, {}).baseline, 0);
    EXPECT_EQ(engine::choose_signal_scale(wave.data(), wave.size(), 1, 1, f80, 15.0, {}).baseline, -63);
}

TEST(RecordWriter, AnExistingRecordIsReplacedOnlyWhenAskedAndTheOneBeingReadNever) {
    fixtures::TempDir dir;
    Values first{{16}, {}, {{1, 2, 3}}}, second{{16}, {}, {{4, 5}}};
    ASSERT_TRUE(write_record(dir.path(), new_record("r", first)).ok());
    Status status = write_record(dir.path(), new_record("r", second));
    EXPECT_EQ(status.kind(), ErrorKind::exists);
    std::string exists = "sigtrove: ";
    exists.append(dir / "r.dat").append(" exists; pass overwrite=True to replace record r\n");
    EXPECT_EQ(status.text(), exists);
    engine::WriteOptions replace;
    replace.overwrite = true;
    ASSERT_TRUE(write_record(dir.path(), new_record("r", second), 1 << 16, replace).ok());
    auto record = open_record(dir.path(), "r");
    ASSERT_TRUE(record);
    EXPECT_EQ(read_samples(*record), (Samples{{4, 5}}));

    // Not even with overwrite: the files of the record being read.
    std::unique_ptr<engine::RecordCopy> copy;
    engine::CopyRequest request;
    request.name = "r";
    status = engine::RecordCopy::begin(*record, dir.path(), request, true, copy);
    EXPECT_EQ(status.kind(), ErrorKind::bad_request);
    EXPECT_NE(status.text().find("is a file of the record being read"), std::string::npos) << status.text();
    EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"r.dat", "r.hea"}));
}

TEST(RecordWriter, AWriterThatDoesNotFinishLeavesNothing) {
    fixtures::TempDir dir;
    Values v{{212}, {}, {{1, 2, 3}}};
    engine::NewRecord record = new_record("r", v);
    engine::Header layout;
    ASSERT_TRUE(engine::plan_new_record(record, layout).ok());
    {
        std::unique_ptr<engine::RecordWriter> writer;
        ASSERT_TRUE(engine::RecordWriter::create(dir.path(), layout, {}, writer).ok());
        std::vector<SampleColumn> columns = engine::new_record_block(record, 0);
        ASSERT_TRUE(writer->put(3, columns.data()).ok());
        EXPECT_EQ(files_in(dir.path()).size(), 1u);  // the signal file, under a temporary name
        EXPECT_EQ(files_in(dir.path())[0].rfind(".r.dat.", 0), 0u);
    }
    EXPECT_TRUE(files_in(dir.path()).empty());
}

TEST(OutputNames, RefuseNamesThatLeaveTheFolderOrThatTheFieldsToolsReadOtherwise) {
    for (const char *name : {"", "a/b", "../r", "..", "a\\b", "a b", "a\tb", "+r", "-", "x.y", "r\n"}) {
        Status status = engine::check_record_name(name);
        EXPECT_EQ(status.kind(), ErrorKind::bad_request) << "'" << name << "'";
    }
    for (const char *name : {"100", "s0010_re", "a-b", "r~1", "x=y"})
        EXPECT_TRUE(engine::check_record_name(name).ok()) << name;
    for (const char *name : {"", "a/b", "..", "x..y", "a b"})
        EXPECT_EQ(engine::check_annotator_name(name).kind(), ErrorKind::bad_request) << "'" << name << "'";
    for (const char *name : {"atr", "qrs", "a.b", "wabp"}) EXPECT_TRUE(engine::check_annotator_name(name).ok()) << name;
}

TEST(HeaderText, BaseTimesAsTheFieldsWriterLaysThemOut) {
    const long date = 2459371;  // 5 June 2021
    struct Case {
        bool has_base;
        long ms, date;
        const char *text;
    };
    for (const Case &c : {Case{false, 0, 0, ""}, Case{true, 0, date, " 0:00 05/06/2021"},
                          Case{true, 309000, 0, "     5:09"}, Case{true, 29109000, 0, "  8:05:09"},
                          Case{true, 37230250, date, " 10:20:30.250 05/06/2021"}, Case{true, 5, 0, "     0:00.005"}})
        EXPECT_EQ(engine::base_time_text(c.has_base, c.ms, c.date), c.text);
}

TEST(HeaderText, CounterFrequencyAndBaseCountAppearOnlyWhereTheyDiffer) {
    engine::Header header;
    header.record = "r";
    header.has_freq = true;
    header.freq = header.cfreq = 250;
    EXPECT_EQ(engine::header_text(header), "r 0 250 0\r\n");
    header.cfreq = 24000;
    EXPECT_EQ(engine::header_text(header), "r 0 250/24000 0\r\n");
    header.basecount = 0.5;
    EXPECT_EQ(engine::header_text(header), "r 0 250/24000(0.5) 0\r\n");
    EXPECT_EQ(engine::header_number(1.0 / 3), "0.333333333333");
    EXPECT_EQ(engine::header_number(2.4011e-11), "2.4011e-11");
}

TEST(RecordCopy, LayoutNamesFilesAfterTheNewRecordAndMovesTheBaseTime) {
    engine::Header source;
    source.record = "s0010_re";
    source.has_freq = true;
    source.freq = source.cfreq = 1000;
    source.has_base = true;
    source.base_ms = 86399500;   // 23:59:59.5
    source.base_date = 2451544;  // 31 December 1999
    source.comments = {"age: 81", ""};
    for (int s = 0; s < 3; ++s) {
        engine::SignalSpec spec;
        spec.fname = s < 2 ? "s0010_re.dat" : "s0010_re.xyz";
        spec.group = s < 2 ? 0 : 1;
        spec.fmt = 16;
        spec.desc = s == 0 ? "i" : "record s0010_re, signal " + std::to_string(s);
        source.signals.push_back(spec);
    }
    engine::CopyRequest request;
    request.name = "cut";
    request.start = 1000;
    engine::Header layout;
    ASSERT_TRUE(engine::copy_layout(source, request, layout).ok());
    ASSERT_EQ(layout.signals.size(), 3u);
    EXPECT_EQ(layout.signals[0].fname, "cut.dat");
    EXPECT_EQ(layout.signals[1].fname, "cut.dat");
    EXPECT_EQ(layout.signals[2].fname, "cut.xyz");
    EXPECT_EQ(layout.signals[0].desc, "i");
    EXPECT_EQ(layout.signals[1].desc, "");  // the reader's stand-in is no description
    EXPECT_EQ(layout.base_ms, 500);
    EXPECT_EQ(layout.base_date, 2451545);  // 1 January 2000
    EXPECT_EQ(layout.comments, (std::vector<std::string>{" age: 81", ""}));

    // Signals taken apart, or put in other formats, no longer share a file.
    request.signals = {2, 0};
    request.formats = {212, 0};
    ASSERT_TRUE(engine::copy_layout(source, request, layout).ok());
    EXPECT_EQ(layout.signals[0].fname, "cut.xyz");
    EXPECT_EQ(layout.signals[0].fmt, 212);
    EXPECT_EQ(layout.signals[1].fname, "cut.dat");
    request.signals = {0, 1};
    request.formats = {16, 212};
    ASSERT_TRUE(engine::copy_layout(source, request, layout).ok());
    EXPECT_EQ(layout.signals[0].fname, "cut_0.dat");
    EXPECT_EQ(layout.signals[1].fname, "cut_1.dat");
}

}  // namespace
