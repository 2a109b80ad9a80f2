// The EDF+ and BDF+ writer against the engine's own EDF reader: the data-record
// duration chosen so that no frame is added where one divides the frames, the
// physical ranges that give back the values meant, annotations at their frames,
// the start to the millisecond, values a format can not hold refused with nothing
// left behind, and a window of a record copied with its annotations.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "edf/edf_annotations.h"
#include "every_sample.h"
#include "fixture_files.h"
#include "paths/database_path.h"
#include "record/record.h"
#include "signals/frame_sink.h"
#include "time/julian_date.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"
#include "writers/edf_copy.h"
#include "writers/edf_numbers.h"
#include "writers/edf_record_duration.h"
#include "writers/edf_writer.h"

namespace {

using namespace sigtrove::engine;
using sigtrove::testing::EnvironmentVariable;
using sigtrove::testing::TempDir;
using sigtrove::testing::WorkingDirectory;
namespace fs = std::filesystem;

using Samples = sigtrove::testing::SignalSamples<std::int32_t>;
using sigtrove::testing::read_every_sample;

class EdfWriterTest : public ::testing::Test {
protected:
    EdfWriterTest() {
        reset_database_path();
        reset_record_state();
        wfdbquiet();
    }
    ~EdfWriterTest() override {
        reset_database_path();
        reset_record_state();
    }

    // Writes FILE in one put of its columns.
    Status write(const EdfFile &file, const std::vector<SampleColumn> &columns) {
        std::unique_ptr<EdfWriter> writer;
        Status status = EdfWriter::create(dir.path(), file, WriteOptions{}, writer);
        if (!status.ok()) return status;
        status = writer->put(static_cast<std::size_t>(file.frames), columns.data());
        return status.ok() ? writer->finish() : status;
    }

    std::unique_ptr<Record> open(const std::string &name) {
        std::unique_ptr<Record> record;
        Status status = Record::open(name, record);
        EXPECT_TRUE(status.ok()) << status.text();
        return record;
    }

    static Samples read_all(Record &record) {
        Samples out;
        BulkOutcome outcome;
        EXPECT_TRUE(read_every_sample(record, record.deliverable_frames(), out, outcome).ok());
        return out;
    }

    TempDir dir;
    EnvironmentVariable wfdb{"WFDB", "."};
    WorkingDirectory cwd{dir.path()};
};

TEST(EdfRecordDuration, DividesTheFramesWhereADurationNearOneSecondDoes) {
    struct Case {
        double frequency;
        std::int64_t frames, frame_bytes;
        const char *text;
        std::int64_t frames_per_record, records;
    };
    for (const Case &c : std::vector<Case>{
             {360, 3600, 4, "1", 360, 10},
             {2.5, 3, 4, "1.2", 3, 1},  // 1.2 s holds 3 frames: no 2 s record half empty
             {1000, 1001, 4, "1.001", 1001, 1},
             {256, 1000, 4, "0.78125", 200, 5},  // 1000/256 s needs 9 characters
             {360, 3609, 4, "10.025", 3609, 1},  // 0.025 s would be shorter than a tenth
             {0.5, 3, 4, "2", 1, 3},
             // No exact duration: 1 s records, the last one filled out (record 100).
             {360, 650000, 4, "1", 360, 1806},
             // 1 s records past EDF's 61440 bytes: nothing larger than they are is chosen.
             {1000, 5003, 128, "1", 1000, 6},
             {100, 7, 2, "1", 100, 1},  // 0.07 s would be shorter than a tenth
         }) {
        SCOPED_TRACE(std::to_string(c.frequency) + " Hz, " + std::to_string(c.frames) + " frames");
        std::optional<EdfRecordDuration> d = choose_edf_record_duration(c.frequency, c.frames, c.frame_bytes);
        ASSERT_TRUE(d);
        EXPECT_EQ(d->text, c.text);
        EXPECT_EQ(d->frames_per_record, c.frames_per_record);
        EXPECT_EQ(d->records, c.records);
        EXPECT_EQ(d->nanoseconds, static_cast<std::int64_t>(std::llround(std::strtod(c.text, nullptr) * 1e9)));
    }
    EXPECT_FALSE(choose_edf_record_duration(1.0 / 3, 10, 4));  // no duration of whole frames fits 8 characters
}

TEST(EdfNumbers, TheShortestTextThatReadsBackOrTheClosestThatFits) {
    struct Case {
        double value;
        const char *text;
    };
    for (const Case &c : std::vector<Case>{{0.1, "0.1"},
                                           {-163.84, "-163.84"},
                                           {163.835, "163.835"},
                                           {1.0 / 3, "0.333333"},
                                           {-2.0 / 3, "-0.66667"},
                                           {12345678.9, "12345679"},
                                           {0, "0"},
                                           {-1e-9, "0"}}) {
        std::optional<std::string> text = edf_number_text(c.value);
        ASSERT_TRUE(text) << c.value;
        EXPECT_EQ(*text, c.text);
    }
    EXPECT_FALSE(edf_number_text(123456789.0));
    EXPECT_FALSE(edf_number_text(NAN));
    // A range that does not fit, and one a negative gain turns over (as EDF readers take it).
    EXPECT_FALSE(edf_physical_range(1e-6, 0, -32768, 32767));
    std::optional<EdfPhysicalRange> inverted = edf_physical_range(-200, 0, -32768, 32767);
    ASSERT_TRUE(inverted);
    EXPECT_EQ(inverted->minimum, "163.84");
    EXPECT_EQ(inverted->maximum, "-163.835");
}

TEST_F(EdfWriterTest, SignalsOfSeveralRatesAnnotationsAndTheStartReadBack) {
    for (EdfKind kind : {EdfKind::edf, EdfKind::bdf}) {
        const bool bdf = kind == EdfKind::bdf;
        SCOPED_TRACE(bdf ? "BDF" : "EDF");
        const std::int32_t low = edf_digital_minimum(kind), high = edf_digital_maximum(kind);
        // 5 frames at 2.5 Hz: one data record of 2 s holds them exactly.
        std::vector<std::int64_t> slow = {low, -1, 0, 1, high};
        std::vector<double> fast = {0.5, -0.5, 1.25, NAN, 2, -2, 0.005, 0, 3, -3};  // 2 samples per frame
        EdfFile file;
        file.name = bdf ? "w.bdf" : "w.edf";
        file.kind = kind;
        file.frequency = 2.5;
        file.frames = 5;
        file.signals = {{"slow", "uV", 1000, -7, 1}, {"fast", "", 200, 0, 2}};
        file.has_start = true;
        file.start_ms = (13 * 3600 + 5 * 60 + 7) * 1000 + 250;
        file.start_date = julian_day_number(CalendarDate{29, 2, 2024});
        file.annotations = {{3, std::nullopt, "late"}, {0, 1'500'000'000, "first"}, {4, std::nullopt, "N"}};
        std::vector<SampleColumn> columns = {{SampleColumn::Kind::stored64, slow.data(), 1},
                                             {SampleColumn::Kind::physical, fast.data(), 2}};
        ASSERT_TRUE(write(file, columns).ok());

        std::unique_ptr<Record> record = open(file.name);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->header().frame_frequency(), 2.5);
        EXPECT_EQ(record->deliverable_frames(), 5);
        EXPECT_EQ(record->header().base_ms, file.start_ms);
        EXPECT_EQ(record->header().base_date, file.start_date);
        EXPECT_EQ(record->header().signals[0].desc, "slow");
        EXPECT_EQ(record->header().signals[1].units.value_or(""), "mV");
        Samples samples = read_all(*record);
        EXPECT_EQ(samples[0], std::vector<std::int32_t>(slow.begin(), slow.end()));
        // round(value * 200), halves away from zero; NaN is the format's lowest value.
        EXPECT_EQ(samples[1], (std::vector<std::int32_t>{100, -100, 250, low, 400, -400, 1, 0, 600, -600}));

        std::vector<EdfAnnotation> annotations;
        ASSERT_TRUE(read_edf_annotations(record->header(), file.name, annotations).ok());
        ASSERT_EQ(annotations.size(), 3u);
        EXPECT_EQ(annotations[0].text, "first");
        EXPECT_EQ(annotations[0].time, 0);
        EXPECT_EQ(annotations[0].duration, 1.5);
        EXPECT_EQ(annotations[1].text, "late");
        EXPECT_EQ(annotations[1].time, 3);
        EXPECT_EQ(annotations[2].time, 4);
        EXPECT_NEAR(annotations[2].onset, 0.25 + 4 / 2.5, 1e-12);  // after the header's whole second
    }
}

TEST_F(EdfWriterTest, AValueTheFormatCanNotHoldFailsAndLeavesNothing) {
    struct Case {
        EdfKind kind;
        std::vector<std::int64_t> stored;
        std::vector<double> physical;
        const char *text;
    };
    for (const Case &c : std::vector<Case>{
             {EdfKind::edf, {0, 32768}, {}, "signal 0 (s), frame 1: the value 32768 is beyond what EDF holds"},
             {EdfKind::bdf, {-8388609, 0}, {}, "frame 0: the value -8388609 is beyond what BDF holds"},
             {EdfKind::edf, {}, {0, 1e300}, "frame 1: the value 1e+300 can not be stored"},
             {EdfKind::edf, {}, {163.84, 163.8}, "frame 0: the value 163.84 is 32768 at a gain of 200"},
         }) {
        SCOPED_TRACE(c.text);
        EdfFile file;
        file.name = "bad.edf";
        file.kind = c.kind;
        file.frequency = 1;
        file.frames = 2;
        file.signals = {{"s", "mV", 200, 0, 1}};
        std::vector<SampleColumn> columns = {c.stored.empty()
                                                 ? SampleColumn{SampleColumn::Kind::physical, c.physical.data(), 1}
                                                 : SampleColumn{SampleColumn::Kind::stored64, c.stored.data(), 1}};
        Status status = write(file, columns);
        EXPECT_EQ(status.kind(), ErrorKind::bad_request);
        EXPECT_NE(status.text().find(c.text), std::string::npos) << status.text();
        EXPECT_TRUE(fs::is_empty(dir.path()));
    }
}

TEST_F(EdfWriterTest, AWindowOfARecordIsCopiedWithItsAnnotationsAndTheLastDataRecordFilledOut) {
    // A WFDB record of 7 frames at 1 Hz (1 s records divide any count): its window [2, 7) has 5.
    dir.write("src.hea", "src 2 1 7 10:00:00.500 01/02/2020\nsrc.dat 16 100 12 0 0 0 0 a\nsrc.dat 16 1 12 0 0 0 0 b\n");
    std::string bytes;
    for (int k = 0; k < 7; ++k)
        for (int v : {k * 10, k == 4 ? -32768 : -k}) {
            bytes += static_cast<char>(v & 0xFF);
            bytes += static_cast<char>((v >> 8) & 0xFF);
        }
    dir.write("src.dat", bytes);
    std::unique_ptr<Record> source = open("src");
    ASSERT_TRUE(source);
    EdfCopyRequest request;
    request.name = "copy.bdf";
    request.kind = EdfKind::bdf;
    request.start = 2;
    request.signals = {1, 0};
    request.annotations = {{1, std::nullopt, "before"}, {2, std::nullopt, "at start"}, {6, std::nullopt, "last"}};
    std::unique_ptr<EdfCopy> copy;
    ASSERT_TRUE(EdfCopy::begin(*source, dir.path(), request, false, copy).ok());
    bool done = false;
    while (!done) ASSERT_TRUE(copy->step(2, done).ok());
    ASSERT_TRUE(copy->finish().ok());
    // The record being read is never written over.
    request.name = "src.dat";
    EXPECT_EQ(EdfCopy::begin(*source, dir.path(), request, true, copy).kind(), ErrorKind::bad_request);

    std::unique_ptr<Record> back = open("copy.bdf");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->header().base_ms, (10 * 3600 + 2) * 1000 + 500);  // moved to frame 2
    EXPECT_EQ(back->header().signals[0].desc, "b");
    EXPECT_EQ(back->header().signals[0].gain, 1);
    Samples samples = read_all(*back);
    // WFDB's invalid sample is BDF's lowest value; -32768 would be a sample in BDF.
    EXPECT_EQ(samples[0], (std::vector<std::int32_t>{-2, -3, -8388608, -5, -6}));
    EXPECT_EQ(samples[1], (std::vector<std::int32_t>{20, 30, 40, 50, 60}));
    std::vector<EdfAnnotation> annotations;
    ASSERT_TRUE(read_edf_annotations(back->header(), "copy.bdf", annotations).ok());
    ASSERT_EQ(annotations.size(), 2u);
    EXPECT_EQ(annotations[0].text, "at start");
    EXPECT_EQ(annotations[0].time, 0);
    EXPECT_EQ(annotations[1].time, 4);
}

TEST_F(EdfWriterTest, FramesThatDoNotDivideFillTheLastDataRecordWithEachSignalsLastValue) {
    // 361 frames at 360 Hz: no duration of whole frames divides them, so two 1 s data records.
    std::vector<std::int64_t> values(361);
    for (std::size_t k = 0; k < values.size(); ++k) values[k] = static_cast<std::int64_t>(k);
    EdfFile file;
    file.name = "pad.edf";
    file.frequency = 360;
    file.frames = 361;
    file.signals = {{"s", "mV", 200, 0, 1}};
    ASSERT_TRUE(write(file, {{SampleColumn::Kind::stored64, values.data(), 1}}).ok());
    std::unique_ptr<Record> record = open("pad.edf");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->deliverable_frames(), 720);
    Samples samples = read_all(*record);
    EXPECT_EQ(samples[0][360], 360);
    EXPECT_EQ(samples[0][719], 360);
}

}  // namespace
