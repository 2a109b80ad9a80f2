// EDF, EDF+, BDF and BDF+ files read as records: the shared files against what
// the WFDB C library and pyEDFlib read from them (digital samples sample for
// sample, physical values by the EDF definition, annotations, base times),
// EDF+D gaps at their places, and small files of the tests' own writer for what
// the shared ones lack: data records at onsets that fall between frames, counts
// of -1, files cut short, hostile headers, names that do not match the contents.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "annotation_writer.h"
#include "annotations/annotation_file.h"
#include "edf/annotation_lists.h"
#include "edf/edf_layout.h"
#include "edf_writer.h"
#include "fixture_files.h"
#include "header/header.h"
#include "header/record_memory.h"
#include "network/remote_file.h"
#include "paths/database_path.h"
#include "record/frame_input.h"
#include "record/record.h"
#include "sha256.h"
#include "signals/array_sink.h"
#include "time/julian_date.h"
#include "web_server.h"
#include "wfdb/ecgcodes.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"

namespace {

using namespace sigtrove::engine;
using nlohmann::json;
using sigtrove::testing::annotation_list;
using sigtrove::testing::EdfFileToWrite;
using sigtrove::testing::EdfSignalToWrite;
using sigtrove::testing::EnvironmentVariable;
using sigtrove::testing::sha256_of_int32;
using sigtrove::testing::TempDir;
using sigtrove::testing::time_stamp;
using sigtrove::testing::WorkingDirectory;

const std::string kEdfFolder = SIGTROVE_FIXTURES "/records/edf";

json expected_for(const std::string &file) {
    std::ifstream in(SIGTROVE_FIXTURES "/expected/edf/" + file + ".json");
    return json::parse(in);
}

// Every sample of one signal at its own rate, stored values or physical ones.
template <class T>
std::vector<T> own_rate(Record &record, std::size_t signal, long long start = 0, long long frames = -1) {
    if (frames < 0) frames = std::max(0LL, record.deliverable_frames() - start);
    const auto spf = static_cast<std::size_t>(record.samples_per_frame()[signal]);
    std::vector<T> out(static_cast<std::size_t>(frames) * spf);
    const bool physical = std::is_floating_point_v<T>;
    const SampleType type = physical ? SampleType::float64 : SampleType::int32;
    std::vector<PhysicalScale> scales{physical_scale(record.header().signals[record.opened()[signal]])};
    auto sink = make_array_sink(type, physical ? SampleValues::physical : SampleValues::stored, out.data(), 1,
                                SampleRate::own, scales);
    BulkOutcome outcome;
    Status status = record.read(start, frames, {signal}, *sink, outcome);
    EXPECT_TRUE(status.ok()) << status.text();
    out.resize(static_cast<std::size_t>(outcome.frames) * spf);
    return out;
}

// Every frame of every signal through next_frame, with whether each lies in a gap.
struct FrameByFrame {
    std::vector<WFDB_Sample> samples;
    std::vector<bool> gap;
};
FrameByFrame frame_by_frame(Record &record) {
    FrameByFrame out;
    std::size_t width = 0;
    for (int spf : record.samples_per_frame()) width += static_cast<std::size_t>(spf);
    std::vector<WFDB_Sample> frame(width);
    while (record.next_frame(frame.data()) == frame_delivered) {
        out.samples.insert(out.samples.end(), frame.begin(), frame.end());
        out.gap.push_back(record.source().last_frame_in_gap());
    }
    return out;
}

class EdfTest : public ::testing::Test {
protected:
    EdfTest() {
        reset_database_path();
        reset_record_state();
        wfdbquiet();
    }
    ~EdfTest() override {
        reset_database_path();
        reset_record_state();
    }

    // Writes a file of the tests' writer and opens it as a record.
    std::unique_ptr<Record> open_written(const std::string &name, const EdfFileToWrite &file) {
        dir.write(name, sigtrove::testing::edf_file_bytes(file));
        return open(name);
    }
    std::unique_ptr<Record> open(const std::string &name) {
        std::unique_ptr<Record> record;
        Status status = Record::open(name, record);
        EXPECT_TRUE(status.ok()) << status.text();
        return record;
    }
    Status open_failure(const std::string &name, const std::string &bytes) {
        dir.write(name, bytes);
        std::unique_ptr<Record> record;
        Status status = Record::open(name, record);
        EXPECT_FALSE(status.ok());
        return status;
    }

    TempDir dir;
    EnvironmentVariable wfdb{"WFDB", "."};
    WorkingDirectory cwd{dir.path()};
};

// ---- the shared files --------------------------------------------------------------------------

class SharedEdfFile : public EdfTest, public ::testing::WithParamInterface<std::string> {
protected:
    void SetUp() override {
        for (const char *f : {"3000003_0003.edf", "bdfplus.bdf", "discontinuous.edf", "odd_ranges.EDF",
                              "rates_annotations.edf", "s0010_re.edf", "test01_00s.edf", "texts.edf", "xform.edf"})
            std::filesystem::copy_file(kEdfFolder + "/" + f, dir / f);
    }
};

// The C library's signals without its annotation signals, which are not signals here.
std::vector<json> c_library_data_signals(const json &expected) {
    std::vector<json> out;
    for (const json &s : expected["c_library"]["signals"])
        if (s["desc"] != "EDF Annotations" && s["desc"] != "BDF Annotations") out.push_back(s);
    return out;
}

TEST_P(SharedEdfFile, DigitalSamplesAreTheCLibrarysAndPhysicalOnesPyEdflibs) {
    const json expected = expected_for(GetParam());
    std::unique_ptr<Record> record = open(GetParam());
    ASSERT_TRUE(record);
    const std::vector<json> c_signals = c_library_data_signals(expected);
    ASSERT_EQ(record->signal_count(), static_cast<int>(c_signals.size()));
    const bool continuous = GetParam() != "discontinuous.edf";
    const bool bdf = GetParam() == "bdfplus.bdf";
    for (std::size_t i = 0; i < c_signals.size(); ++i) {
        SCOPED_TRACE("signal " + std::to_string(i));
        const json &c = c_signals[i];
        const SignalSpec &spec = record->header().signals[i];
        // What the header says of the signal is what the library says, but samples per frame.
        EXPECT_EQ(spec.desc, c["desc"].get<std::string>());
        EXPECT_EQ(spec.units, c["units"].get<std::string>());
        EXPECT_EQ(spec.fmt, c["fmt"].get<int>());
        EXPECT_EQ(spec.gain, c["gain"].get<double>());
        EXPECT_EQ(spec.baseline, c["baseline"].get<int>());
        EXPECT_EQ(spec.adczero, c["adczero"].get<int>());
        EXPECT_EQ(spec.adcres, c["adcres"].get<int>());
        EXPECT_EQ(spec.initval, c["initval"].get<int>());
        if (!continuous) continue;  // the library reads EDF+D data records back to back: see the EDF+D tests
        // Every stored value; the library reads BDF's lowest value as its invalid sample, -32768.
        std::vector<std::int32_t> digital = own_rate<std::int32_t>(*record, i);
        ASSERT_EQ(digital.size(), c["samples"].get<std::size_t>());
        std::vector<std::int32_t> as_library = digital;
        for (std::int32_t &v : as_library)
            if (bdf && v == -8388608) v = WFDB_INVALID_SAMPLE;
        EXPECT_EQ(sha256_of_int32(as_library), c["sha256"].get<std::string>());
        EXPECT_EQ(std::vector<std::int32_t>(digital.begin(), digital.begin() + 20),
                  c["first"].get<std::vector<std::int32_t>>());
        // Physical values by the EDF definition; pyEDFlib's agree up to its rounding.
        const json &py = expected["pyedflib"];
        if (!py["opened"].get<bool>()) continue;
        const json &p = py["signals"][i];
        EXPECT_EQ(spec.desc, p["label"].get<std::string>());
        EXPECT_DOUBLE_EQ(record->header().frame_frequency() * spec.spf, p["sample_frequency"].get<double>());
        std::vector<double> physical = own_rate<double>(*record, i);
        ASSERT_EQ(physical.size(), p["samples"].get<std::size_t>());
        const EdfCalibration &cal = *spec.edf;
        const double tolerance = 1e-9 * std::fabs(cal.physical_max - cal.physical_min);
        double sum = 0;
        for (std::size_t k = 0; k < physical.size(); ++k) {
            sum += physical[k];
            ASSERT_EQ(physical[k], cal.physical_min + (digital[k] - cal.digital_min) *
                                                          (cal.physical_max - cal.physical_min) /
                                                          (cal.digital_max - cal.digital_min));
        }
        EXPECT_NEAR(sum, p["physical_sum"].get<double>(), tolerance * static_cast<double>(physical.size()));
        std::vector<double> first = p["first"].get<std::vector<double>>();
        for (std::size_t k = 0; k < first.size(); ++k) EXPECT_NEAR(physical[k], first[k], tolerance);
        EXPECT_NEAR(*std::min_element(physical.begin(), physical.end()), p["physical_min"].get<double>(), tolerance);
        EXPECT_NEAR(*std::max_element(physical.begin(), physical.end()), p["physical_max"].get<double>(), tolerance);
    }
}

TEST_P(SharedEdfFile, TheBaseTimeIsTheStartOfTheFirstDataRecord) {
    const json expected = expected_for(GetParam());
    std::unique_ptr<Record> record = open(GetParam());
    ASSERT_TRUE(record);
    // The library's base time text: "[hh:mm:ss dd/mm/yyyy]" (every file here starts at onset 0, on a whole second).
    const std::string text = expected["c_library"]["base_time"];
    const Header &h = record->header();
    CalendarDate date = calendar_date(h.base_date);
    char shown[64];
    std::snprintf(shown, sizeof shown, "[%02ld:%02ld:%02ld %02d/%02d/%04ld]", h.base_ms / 3600000,
                  h.base_ms / 60000 % 60, h.base_ms / 1000 % 60, date.day, date.month, date.year);
    EXPECT_EQ(shown, text);
    EXPECT_EQ(h.base_ms % 1000, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, SharedEdfFile,
                         ::testing::Values("3000003_0003.edf", "bdfplus.bdf", "discontinuous.edf", "odd_ranges.EDF",
                                           "rates_annotations.edf", "s0010_re.edf", "test01_00s.edf", "texts.edf",
                                           "xform.edf"),
                         [](const ::testing::TestParamInfo<std::string> &info) {
                             std::string name = info.param;
                             for (char &c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST_F(SharedEdfFile, TheFrameRateIsTheHighestRateEverySignalIsAWholeMultipleOf) {
    struct Case {
        const char *file;
        double freq;
        std::vector<int> spf;
        long frames;
    };
    for (const Case &c : std::vector<Case>{
             {"xform.edf", 125, {4, 1, 4, 1}, 8750},
             {"odd_ranges.EDF", 2, {125, 125, 125, 1, 1}, 240},
             {"rates_annotations.edf", 10, {20, 20, 10, 5, 1}, 3000},
             {"texts.edf", 100, {1}, 3000},  // its annotation signals' 200 samples count for nothing
             {"bdfplus.bdf", 8, {64, 16, 1}, 960},
             {"s0010_re.edf", 1000, std::vector<int>(15, 1), 39000},
         }) {
        SCOPED_TRACE(c.file);
        std::unique_ptr<Record> record = open(c.file);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->header().frame_frequency(), c.freq);
        EXPECT_EQ(record->samples_per_frame(), c.spf);
        EXPECT_EQ(record->frame_count(), c.frames);
        EXPECT_EQ(record->deliverable_frames(), c.frames);
    }
}

TEST_F(SharedEdfFile, BdfKeepsItsLowestValueAndEdfItsMinus32768AsSamples) {
    std::unique_ptr<Record> record = open("bdfplus.bdf");
    ASSERT_TRUE(record);
    std::vector<std::int32_t> cz = own_rate<std::int32_t>(*record, 0);
    EXPECT_EQ(cz[100], -32768);
    EXPECT_EQ(cz[101], 32767);
    EXPECT_EQ(cz[5001], -8388608);
    EXPECT_EQ(cz[20480], -8388608);
    std::vector<double> physical = own_rate<double>(*record, 0);
    EXPECT_EQ(physical[5001], -262144.0);  // the physical minimum, not NaN
    EXPECT_FALSE(std::isnan(physical[100]));
    // odd_ranges.EDF reaches -32768, its digital minimum, in "negative gain": physical 100 there.
    record = open("odd_ranges.EDF");
    std::vector<std::int32_t> negative = own_rate<std::int32_t>(*record, 0);
    std::vector<double> values = own_rate<double>(*record, 0);
    auto at = std::find(negative.begin(), negative.end(), -32768);
    ASSERT_NE(at, negative.end());
    EXPECT_EQ(values[static_cast<std::size_t>(at - negative.begin())], 100.0);
    // The digital value 0 by the EDF definition, where the library's integer baseline gives -0.0030518.
    EXPECT_NEAR(100 + (0 + 32768.0) * -200 / 65535, -0.0015259, 1e-7);
}

TEST_F(SharedEdfFile, HeaderFieldsBecomeCommentsAndTheCInterfaceOpensTheDataSignals) {
    std::unique_ptr<Record> record = open("rates_annotations.edf");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->header().comments,
              (std::vector<std::string>{"patient: MCH-0234567 M 02-MAY-1951 Haagse_Harry",
                                        "recording: Startdate 22-MAY-2019 EMR99 X sigtrove_test"}));
    EXPECT_EQ(record->header().signals[4].units, "");
    char name[] = "rates_annotations.edf";
    std::vector<WFDB_Siginfo> info(8);
    ASSERT_EQ(isigopen(name, info.data(), 8), 5);
    EXPECT_STREQ(info[0].desc, "EEG Fpz-Cz");
    EXPECT_EQ(info[4].spf, 1);
    EXPECT_EQ(sampfreq(name), 10.0);
    std::vector<WFDB_Sample> frame(5);
    EXPECT_EQ(getvec(frame.data()), 5);
    for (int i = 0; i < 5; ++i) {
        std::free(info[static_cast<std::size_t>(i)].fname);
        std::free(info[static_cast<std::size_t>(i)].desc);
        std::free(info[static_cast<std::size_t>(i)].units);
    }
}

// ---- annotations -------------------------------------------------------------------------------

struct ExpectedAnnotation {
    double onset;
    std::optional<double> duration;
    std::string text;
};

std::vector<ExpectedAnnotation> from_json(const json &list) {
    std::vector<ExpectedAnnotation> out;
    for (const json &a : list)
        out.push_back({a[0].get<double>(), a[1].is_null() ? std::nullopt : std::optional<double>(a[1].get<double>()),
                       a[2].get<std::string>()});
    std::stable_sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.onset < b.onset; });
    return out;
}

std::vector<AnnotationRow> read_annotations(const std::string &record, Status *status = nullptr) {
    std::unique_ptr<AnnotationFile> file;
    Status opened = AnnotationFile::open(record, "edf", WFDB_READ, file);
    if (status) *status = opened;
    std::vector<AnnotationRow> rows;
    if (!opened.ok()) return rows;
    Status read = file->read(0, std::nullopt, rows);
    if (status) *status = read;
    return rows;
}

TEST_F(SharedEdfFile, AnnotationsAreEachTextOfEveryListByOnset) {
    // pyEDFlib's annotations (texts.edf: as written), ordered by onset.
    for (const char *f : {"rates_annotations.edf", "bdfplus.bdf", "texts.edf", "discontinuous.edf"}) {
        SCOPED_TRACE(f);
        const json expected = expected_for(f);
        const json &list =
            expected.contains("written") ? expected["written"]["annotations"] : expected["pyedflib"]["annotations"];
        std::vector<ExpectedAnnotation> want = from_json(list);
        Status status;
        std::vector<AnnotationRow> rows = read_annotations(f, &status);
        ASSERT_TRUE(status.ok()) << status.text();
        ASSERT_EQ(rows.size(), want.size());
        std::unique_ptr<Record> record = open(f);
        const double freq = record->header().frame_frequency();
        for (std::size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(want[i].text);
            EXPECT_EQ(rows[i].aux, want[i].text);
            EXPECT_EQ(rows[i].onset, want[i].onset);
            EXPECT_EQ(rows[i].duration, want[i].duration);
            EXPECT_EQ(rows[i].code, NOTE);
            // The frame that holds the onset (every first data record here begins at 0).
            EXPECT_EQ(rows[i].time, static_cast<WFDB_Time>(std::floor(want[i].onset * freq + 1e-9)));
        }
    }
}

TEST_F(SharedEdfFile, AnnotationTimesAreTheFramesThatHoldTheOnsetsExactly) {
    struct Case {
        const char *file, *text;
        WFDB_Time time;
    };
    for (const Case &c : std::vector<Case>{{"rates_annotations.edf", "Arousal", 1000},  // 100.05 s at 10 Hz
                                           {"rates_annotations.edf", "Lights off", 123},
                                           {"rates_annotations.edf", "End", 2999},  // 299.9 s
                                           {"texts.edf", "late", 299},              // 2.999 s at 100 Hz
                                           {"texts.edf", "many decimals", 1234},
                                           {"texts.edf", "in the second annotation signal", 10},
                                           {"bdfplus.bdf", "Eyes closed", 266},  // 33.3125 s at 8 Hz
                                           {"discontinuous.edf", "in the gap", 60}}) {
        std::vector<AnnotationRow> rows = read_annotations(c.file);
        auto at = std::find_if(rows.begin(), rows.end(), [&](const AnnotationRow &r) { return r.aux == c.text; });
        ASSERT_NE(at, rows.end()) << c.text;
        EXPECT_EQ(at->time, c.time) << c.text;
    }
    // A window of times reads the annotations in it.
    std::unique_ptr<AnnotationFile> file;
    ASSERT_TRUE(AnnotationFile::open("texts.edf", "edf", WFDB_READ, file).ok());
    std::vector<AnnotationRow> rows;
    ASSERT_TRUE(file->read(50, 200, rows).ok());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].aux, "alpha");
    EXPECT_EQ(rows[2].aux, "ü日本");
    EXPECT_EQ(file->time_basis().freq, 100.0);
}

TEST_F(SharedEdfFile, OtherAnnotatorsAreWfdbFilesBesideTheEdfFile) {
    sigtrove::testing::MitAnnotationWriter writer;
    writer.add({100, NORMAL});
    dir.write("xform.edf.atr", writer.finish());
    std::unique_ptr<AnnotationFile> file;
    ASSERT_TRUE(AnnotationFile::open("xform.edf", "atr", WFDB_READ, file).ok());
    std::vector<AnnotationRow> rows;
    ASSERT_TRUE(file->read(0, std::nullopt, rows).ok());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].time, 100);
    EXPECT_FALSE(rows[0].onset);
    EXPECT_EQ(file->time_basis().freq, 125.0);  // the EDF record's frame rate
    EXPECT_EQ(AnnotationFile::open("xform.edf", "qrs", WFDB_READ, file).kind(), ErrorKind::not_found);
    // A file without annotation signals has no "edf" annotations.
    EXPECT_EQ(AnnotationFile::open("xform.edf", "edf", WFDB_READ, file).kind(), ErrorKind::not_found);
}

// ---- EDF+D ------------------------------------------------------------------------------------

TEST_F(SharedEdfFile, DiscontinuousDataRecordsSitAtTheirOnsetsWithGapsBetween) {
    const json expected = expected_for("discontinuous.edf");
    const json &written = expected["written"];
    std::unique_ptr<Record> record = open("discontinuous.edf");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->frame_count(), written["frames"].get<long long>());
    EXPECT_EQ(record->deliverable_frames(), written["frames"].get<long long>());
    // The library reads the 12 data records back to back: 12 s where the recording spans 23.
    EXPECT_EQ(expected["c_library"]["frames"].get<long long>(), 12);
    std::vector<long long> placement = written["placement"].get<std::vector<long long>>();
    for (std::size_t i = 0; i < 2; ++i) {
        const json &w = written["signals"][i];
        std::vector<std::int32_t> digital = own_rate<std::int32_t>(*record, i);
        EXPECT_EQ(digital.size(), w["samples"].get<std::size_t>());
        EXPECT_EQ(sha256_of_int32(digital), w["sha256"].get<std::string>());
        std::vector<double> physical = own_rate<double>(*record, i);
        std::vector<bool> in_gap(physical.size(), false);
        for (const json &gap : w["gaps"])
            for (auto k = gap[0].get<std::size_t>(); k < gap[1].get<std::size_t>(); ++k) in_gap[k] = true;
        for (std::size_t k = 0; k < physical.size(); ++k) ASSERT_EQ(std::isnan(physical[k]), in_gap[k]) << k;
    }
    // Frame by frame the same, each gap frame said to be one.
    record = open("discontinuous.edf");
    FrameByFrame frames = frame_by_frame(*record);
    ASSERT_EQ(frames.gap.size(), 460u);
    std::vector<bool> want(460, true);
    for (long long start : placement)
        for (long long k = start; k < start + 20; ++k) want[static_cast<std::size_t>(k)] = false;
    EXPECT_EQ(frames.gap, want);
}

// A run of getvec calls keeping one signal says which of its samples lie in a gap, whether it is
// read in blocks or frame by frame (padding invalid samples makes getvec go frame by frame): the
// stored values alone can not tell a gap from a stored -32768, which is a sample of an EDF signal.
TEST_F(SharedEdfFile, ASignalRunSaysWhichSamplesLieInAGap) {
    std::unique_ptr<Record> probe = open("discontinuous.edf");
    ASSERT_TRUE(probe);
    const std::vector<bool> gaps = frame_by_frame(*probe).gap;
    for (int mode : {0, WFDB_GVPAD}) {
        FrameInput input;
        input.add(open("discontinuous.edf"));
        input.set_mode(mode);
        std::vector<WFDB_Sample> samples(500);
        std::vector<unsigned char> invalid(500, 7);
        SignalRun run = input.read_signal(1, 500, samples.data(), invalid.data());
        ASSERT_EQ(run.delivered, 460) << mode;
        EXPECT_EQ(run.status, -1) << mode;
        for (std::size_t k = 0; k < 460; ++k) {
            ASSERT_EQ(invalid[k], gaps[k] ? 1 : 0) << mode << " " << k;
            // Padding puts the last valid value where a sample is invalid.
            if (gaps[k] && mode == 0) {
                ASSERT_EQ(samples[k], WFDB_INVALID_SAMPLE) << k;
            }
        }
    }
}

// Data records of 2 frames (2 Hz; "a" at 4 Hz) at onsets that fall between frames: each
// begins at the frame nearest its onset.
EdfFileToWrite placed_file(const std::vector<std::string> &onsets) {
    EdfFileToWrite file;
    file.reserved = "EDF+D";
    file.data_records = static_cast<int>(onsets.size());
    EdfSignalToWrite a, b, notes;
    a.label = "a";
    a.samples_per_record = 4;
    b.label = "b";
    b.samples_per_record = 2;
    notes.label = "EDF Annotations";
    notes.annotation = true;
    notes.samples_per_record = 16;
    for (std::size_t r = 0; r < onsets.size(); ++r) {
        for (int k = 0; k < 4; ++k) a.samples.push_back(static_cast<int>(100 * r + k));
        for (int k = 0; k < 2; ++k) b.samples.push_back(static_cast<int>(-100 * r - k - 1));
        file.annotation_bytes.push_back(time_stamp(onsets[r]));
    }
    file.signals = {a, b, notes};
    return file;
}

TEST_F(EdfTest, EveryWindowOfADiscontinuousFileReadsItsDataRecordsAtTheirPlaces) {
    // Onsets 0.5 (frame 0), 1.5, 4.8 (frame 8.6: 9), 5.8 (10.6: 11) and 10.25 (19.5: 20, halves up).
    std::unique_ptr<Record> record = open_written("d.edf", placed_file({"+0.5", "+1.5", "+4.8", "+5.8", "+10.25"}));
    ASSERT_TRUE(record);
    const std::vector<long long> starts = {0, 2, 9, 11, 20};
    ASSERT_EQ(record->frame_count(), 22);
    // What each frame holds: a's two samples and b's one, or a gap.
    std::vector<std::vector<int>> model(22);
    for (std::size_t r = 0; r < starts.size(); ++r)
        for (int k = 0; k < 2; ++k)
            model[static_cast<std::size_t>(starts[r] + k)] = {static_cast<int>(100 * r + 2 * k),
                                                              static_cast<int>(100 * r + 2 * k + 1),
                                                              static_cast<int>(-100 * static_cast<int>(r) - k - 1)};
    EXPECT_EQ(record->header().base_ms, 4 * 3600000 + 5 * 60000 + 6500);  // 04.05.06 and the first onset, 0.5 s
    // Every window, each in a fresh record (a window start finds its data record by the time stamps).
    for (long long from = 0; from < 22; ++from)
        for (long long to = from + 1; to <= 23; ++to) {
            std::unique_ptr<Record> fresh = open("d.edf");
            std::vector<std::int32_t> a = own_rate<std::int32_t>(*fresh, 0, from, to - from);
            fresh = open("d.edf");
            std::vector<std::int32_t> b = own_rate<std::int32_t>(*fresh, 1, from, to - from);
            const long long got = std::min<long long>(to, 22) - from;
            ASSERT_EQ(a.size(), static_cast<std::size_t>(2 * got)) << from << " " << to;
            for (long long f = from; f < from + got; ++f) {
                const std::vector<int> &want = model[static_cast<std::size_t>(f)];
                const std::size_t k = static_cast<std::size_t>(f - from);
                if (want.empty()) {
                    ASSERT_EQ(b[k], WFDB_INVALID_SAMPLE) << f;
                    ASSERT_EQ(a[2 * k], WFDB_INVALID_SAMPLE) << f;
                } else {
                    ASSERT_EQ(a[2 * k], want[0]) << f;
                    ASSERT_EQ(a[2 * k + 1], want[1]) << f;
                    ASSERT_EQ(b[k], want[2]) << f;
                }
            }
        }
    // Seeks then frame by frame.
    for (long long from : {0, 1, 2, 5, 9, 12, 19, 21}) {
        ASSERT_EQ(record->seek(from, false), 0);
        std::vector<WFDB_Sample> frame(3);
        for (long long f = from; f < 22; ++f) {
            ASSERT_EQ(record->next_frame(frame.data()), frame_delivered) << f;
            const std::vector<int> &want = model[static_cast<std::size_t>(f)];
            EXPECT_EQ(record->source().last_frame_in_gap(), want.empty()) << f;
            if (!want.empty()) {
                EXPECT_EQ(frame, (std::vector<WFDB_Sample>{want[0], want[1], want[2]})) << f;
            }
        }
        EXPECT_EQ(record->next_frame(frame.data()), frame_end);
    }
}

TEST_F(EdfTest, OverlappingDiscontinuousDataRecordsAreAReadError) {
    std::unique_ptr<Record> record = open_written("o.edf", placed_file({"+0", "+1", "+1.5", "+3"}));
    ASSERT_TRUE(record);
    std::vector<std::int32_t> out(64);
    auto sink = make_array_sink(SampleType::int32, out.data(), 1, SampleRate::frame, {});
    BulkOutcome outcome;
    Status status = record->read(0, 8, {1}, *sink, outcome);
    EXPECT_FALSE(status.ok());
    EXPECT_NE(status.text().find("data record 2 of o.edf begins before data record 1 ends"), std::string::npos)
        << status.text();
    EXPECT_EQ(outcome.frames, 4);
    // The window read up to the overlapping data record still serves the frames before it.
    for (long long frame : {3, 1, 2}) {
        ASSERT_EQ(record->seek(frame, false), 0);
        std::vector<WFDB_Sample> values(3);
        ASSERT_EQ(record->next_frame(values.data()), frame_delivered) << frame;
        EXPECT_EQ(values[2], frame < 2 ? -1 - frame : -101 - (frame - 2)) << frame;
    }
}

// ---- counts, short files, base times ----------------------------------------------------------

EdfFileToWrite plain_file(int records) {
    EdfFileToWrite file;
    file.data_records = records;
    EdfSignalToWrite s;
    s.samples_per_record = 3;
    for (int i = 0; i < 3 * records; ++i) s.samples.push_back(i);
    file.signals = {s};
    return file;
}

TEST_F(EdfTest, ACountOfMinusOneIsTakenFromTheFileSize) {
    EdfFileToWrite file = plain_file(4);
    file.records = "-1";
    std::string bytes = sigtrove::testing::edf_file_bytes(file);
    dir.write("u.edf", bytes + "\x01\x02\x03");  // a partial data record at the end is not one
    std::unique_ptr<Record> record = open("u.edf");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->frame_count(), 12);
    std::vector<std::int32_t> values = own_rate<std::int32_t>(*record, 0);
    ASSERT_EQ(values.size(), 12u);
    EXPECT_EQ(values[11], 11);
}

TEST_F(EdfTest, AFileShorterThanItsHeaderSaysReadsWhatIsThereAndSaysSo) {
    EdfFileToWrite file = plain_file(5);
    std::string bytes = sigtrove::testing::edf_file_bytes(file);
    dir.write("s.edf", bytes.substr(0, bytes.size() - 2 * 3 - 2));  // 3.5 of 5 data records
    std::unique_ptr<Record> record = open("s.edf");
    ASSERT_TRUE(record);
    EXPECT_EQ(record->frame_count(), 15);
    EXPECT_EQ(record->deliverable_frames(), 9);
    std::vector<std::int32_t> out(15);
    auto sink = make_array_sink(SampleType::int32, out.data(), 1, SampleRate::frame, {});
    BulkOutcome outcome;
    Status status = record->read(0, 15, {0}, *sink, outcome);
    EXPECT_EQ(outcome.frames, 9);
    EXPECT_EQ(status.kind(), ErrorKind::unreadable);
    EXPECT_EQ(status.text(), "getvec: unexpected EOF in signal 0\n");
}

TEST_F(EdfTest, TheFirstOnsetMovesTheBaseTimeAndTheRecordingFieldGivesTheYear) {
    struct Case {
        std::string onset, date, time, recording;
        long ms;
        CalendarDate day;
    };
    for (const Case &c : std::vector<Case>{
             {"+1.25", "31.12.99", "23.59.59", "Startdate X X X X", 250, {1, 1, 2000}},
             {"+3600",
              "01.02.03",
              "04.05.06",
              "Startdate 01-FEB-2103 X X X",
              (5 * 3600 + 5 * 60 + 6) * 1000L,
              {1, 2, 2103}},
             {"-1.5", "01.02.85", "00.00.01", "Startdate 02-FEB-1985 X X X", 86400000 - 500, {31, 1, 1985}},
             {"+0", "01.02.84", "00.00.00", "", 0, {1, 2, 2084}},
         }) {
        SCOPED_TRACE(c.onset + " " + c.date);
        EdfFileToWrite file = plain_file(1);
        file.reserved = "EDF+C";
        file.start_date = c.date;
        file.start_time = c.time;
        file.recording = c.recording;
        EdfSignalToWrite notes;
        notes.label = "EDF Annotations";
        notes.annotation = true;
        notes.samples_per_record = 8;
        file.signals.push_back(notes);
        file.annotation_bytes = {time_stamp(c.onset)};
        std::unique_ptr<Record> record = open_written("b.edf", file);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->header().base_ms, c.ms);
        CalendarDate got = calendar_date(record->header().base_date);
        EXPECT_EQ(got.day, c.day.day);
        EXPECT_EQ(got.month, c.day.month);
        EXPECT_EQ(got.year, c.day.year);
    }
}

TEST_F(EdfTest, EveryStoredValueIsASampleAlsoInMeansAndPhysicalValues) {
    EdfFileToWrite file;
    file.data_records = 1;
    EdfSignalToWrite fast, slow;
    fast.samples_per_record = 4;
    fast.samples = {-32768, -32768, 0, 32767};
    fast.physical_min = "-1";
    fast.physical_max = "1";
    slow.samples_per_record = 2;
    slow.samples = {-32768, 5};
    file.signals = {fast, slow};
    std::unique_ptr<Record> record = open_written("m.edf", file);
    ASSERT_TRUE(record);
    ASSERT_EQ(record->samples_per_frame(), (std::vector<int>{2, 1}));
    std::vector<PhysicalScale> scales{physical_scale(record->header().signals[0]),
                                      physical_scale(record->header().signals[1])};
    std::vector<double> physical(4);
    auto sink = make_array_sink(SampleType::float64, physical.data(), 2, SampleRate::frame, scales);
    BulkOutcome outcome;
    ASSERT_TRUE(record->read(0, 2, {0, 1}, *sink, outcome).ok());
    EXPECT_EQ(physical[0], -1.0);  // the mean of two -32768s: the physical minimum, not NaN
    EXPECT_EQ(physical[2], -1 + (16384 + 32768.0) * 2 / 65535);  // the mean of 0 and 32767, rounded half up
    EXPECT_EQ(physical[1], -100.0);
    std::vector<std::int16_t> stored(4);
    sink = make_array_sink(SampleType::int16, SampleValues::stored, stored.data(), 2, SampleRate::frame, scales);
    ASSERT_TRUE(record->read(0, 2, {0, 1}, *sink, outcome).ok());
    EXPECT_EQ(stored, (std::vector<std::int16_t>{-32768, -32768, 16384, 5}));
}

TEST(EdfPhysicalValues, FollowTheEdfDefinitionInFloat64AndFloat32BesideWfdbColumns) {
    PhysicalScale edf;
    edf.kind = PhysicalKind::edf;
    edf.digital_min = -2048;
    edf.physical_min = -273.15;
    edf.physical_span = 99999 + 273.15;
    edf.digital_span = 4095;
    PhysicalScale wfdb{10, 3};
    std::vector<std::int32_t> values;
    for (int v = -2048; v < 2048; v += 7) values.push_back(v);
    values.push_back(WFDB_INVALID_SAMPLE);
    const std::size_t n = values.size();
    std::vector<double> both(2 * n);
    std::vector<std::int32_t> rows(2 * n);
    for (std::size_t i = 0; i < n; ++i) rows[2 * i] = rows[2 * i + 1] = values[i];
    auto sink = make_array_sink(SampleType::float64, both.data(), 2, SampleRate::frame, {edf, wfdb});
    ColumnBlock blocks[2] = {{rows.data(), 2, 1, false}, {rows.data() + 1, 2, 1, true}};
    sink->put(0, n, blocks);
    std::vector<double> alone(n);
    std::vector<float> narrow(n);
    auto edf_sink = make_array_sink(SampleType::float64, alone.data(), 1, SampleRate::frame, {edf});
    auto float_sink = make_array_sink(SampleType::float32, narrow.data(), 1, SampleRate::frame, {edf});
    ColumnBlock block{values.data(), 1, 1, false};
    edf_sink->put(0, n, &block);
    float_sink->put(0, n, &block);
    for (std::size_t i = 0; i < n; ++i) {
        const double want = -273.15 + (values[i] + 2048.0) * (99999 + 273.15) / 4095;
        EXPECT_EQ(both[2 * i], want);
        EXPECT_EQ(alone[i], want);
        EXPECT_EQ(narrow[i], static_cast<float>(want));
        if (values[i] == WFDB_INVALID_SAMPLE)
            EXPECT_TRUE(std::isnan(both[2 * i + 1]));
        else
            EXPECT_EQ(both[2 * i + 1], (values[i] - 10.0) / 3);
    }
}

// ---- names, hostile headers --------------------------------------------------------------------

TEST_F(EdfTest, ANameThatDoesNotMatchTheContentsIsRefused) {
    EdfFileToWrite bdf = plain_file(1);
    bdf.bdf = true;
    const std::string bdf_bytes = sigtrove::testing::edf_file_bytes(bdf);
    const std::string edf_bytes = sigtrove::testing::edf_file_bytes(plain_file(1));
    struct Case {
        std::string name, bytes, text;
    };
    for (const Case &c : std::vector<Case>{
             {"a.edf", bdf_bytes, "init: EDF file a.edf is a BDF file (24-bit samples): its name must end in .bdf\n"},
             {"a.BDF", edf_bytes, "init: BDF file a.BDF is an EDF file (16-bit samples): its name must end in .edf\n"},
             {"c.edf", "100 2 360\n100.dat 212\n",
              "init: EDF file c.edf is not an EDF file (its first 8 bytes are not \"0\" and 7 spaces)\n"},
             {"d.bdf", "",
              "init: BDF file d.bdf is not a BDF file (its first 8 bytes are not byte 255 and \"BIOSEMI\")\n"},
         }) {
        Status status = open_failure(c.name, c.bytes);
        EXPECT_EQ(status.kind(), ErrorKind::malformed);
        EXPECT_EQ(status.text(), c.text);
    }
    // Any case of the extension names the file; the right kind opens.
    dir.write("e.Bdf", bdf_bytes);
    EXPECT_TRUE(open("e.Bdf"));
    std::unique_ptr<Record> missing;
    EXPECT_EQ(Record::open("nowhere.edf", missing).kind(), ErrorKind::not_found);
}

// A header field of the tests' writer, set by name.
enum class Field {
    signal_count,
    header_bytes,
    records,
    duration,
    start_date,
    start_time,
    patient,
    reserved,
    samples,
    physical_min,
    digital_max
};

void set_field(EdfFileToWrite &f, Field field, const std::string &value) {
    switch (field) {
        case Field::signal_count: f.signal_count = value; break;
        case Field::header_bytes: f.header_bytes = value; break;
        case Field::records: f.records = value; break;
        case Field::duration: f.duration = value; break;
        case Field::start_date: f.start_date = value; break;
        case Field::start_time: f.start_time = value; break;
        case Field::patient: f.patient = value; break;
        case Field::reserved: f.reserved = value; break;
        case Field::samples: f.signals[0].samples_field = value; break;
        case Field::physical_min: f.signals[0].physical_min = value; break;
        case Field::digital_max: f.signals[0].digital_max = value; break;
    }
}

TEST_F(EdfTest, HostileHeadersAreRefusedWithTheFieldNamed) {
    struct Case {
        std::vector<std::pair<Field, std::string>> fields;
        std::string text;
        ErrorKind kind = ErrorKind::malformed;
    };
    const std::vector<Case> cases = {
        {{{Field::signal_count, "x"}}, "has a header whose number of signals (\"x   \") is not a whole number"},
        {{{Field::signal_count, "0"}}, "has a header whose number of signals (\"0   \") is not 1 to 9999"},
        {{{Field::header_bytes, "768"}}, "number of header bytes (\"768     \") is not 256 + 256 per signal (512)"},
        {{{Field::signal_count, "9999"}, {Field::header_bytes, "2560000"}},
         "is too short for the header of its 9999 signals"},
        {{{Field::records, "1e3"}}, "number of data records (\"1e3     \") is not a whole number"},
        {{{Field::records, "-2"}}, "number of data records (\"-2      \") is negative"},
        {{{Field::duration, "abc"}}, "duration of a data record (\"abc     \") is not a number of seconds"},
        {{{Field::duration, "0"}}, "duration of a data record (\"0       \") is 0 in a file with signals"},
        {{{Field::start_date, "31.13.99"}}, "start date (\"31.13.99\") is not a date dd.mm.yy"},
        {{{Field::start_time, "24.00.00"}}, "start time (\"24.00.00\") is not a time hh.mm.ss"},
        {{{Field::patient, std::string("A\0B", 3)}}, "patient field (\"A?B"},
        {{{Field::samples, "0"}}, "samples per data record of signal 0 (\"sig\") (\"0       \") is not 1 or more"},
        {{{Field::samples, "3.5"}},
         "samples per data record of signal 0 (\"sig\") (\"3.5     \") is not a whole number"},
        {{{Field::physical_min, "nan"}}, "physical minimum of signal 0 (\"sig\") (\"nan     \") is not a number"},
        {{{Field::digital_max, "40000"}},
         "digital maximum of signal 0 (\"sig\") (\"40000   \") is not within -32768 to 32767"},
        {{{Field::digital_max, "-32768"}},
         "digital maximum of signal 0 (\"sig\") (\"-32768  \") is not above its digital minimum"},
        {{{Field::reserved, "EDF+D"}}, "is EDF+D but has no annotation signal"},
        {{{Field::samples, "99999999"}},
         "init: EDF file h.edf asks for data records of 199999998 bytes",
         ErrorKind::limit},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EdfFileToWrite file = plain_file(1);
        for (const auto &[field, value] : c.fields) set_field(file, field, value);
        Status status = open_failure("h.edf", sigtrove::testing::edf_file_bytes(file));
        EXPECT_EQ(status.kind(), c.kind);
        EXPECT_NE(status.text().find(c.text), std::string::npos) << status.text();
        if (c.kind == ErrorKind::malformed) {
            EXPECT_EQ(status.text().rfind("init: EDF file h.edf ", 0), 0u);
        }
    }
    // A header cut short, and a missing time stamp in EDF+.
    Status cut = open_failure("t.edf", sigtrove::testing::edf_file_bytes(plain_file(1)).substr(0, 100));
    EXPECT_EQ(cut.text(), "init: EDF file t.edf is too short for an EDF header (100 bytes)\n");
    EdfFileToWrite plus = placed_file({"+0"});
    plus.reserved = "EDF+C";
    plus.annotation_bytes = {annotation_list("+0", std::nullopt, {"not a stamp"})};
    Status stamp = open_failure("p.edf", sigtrove::testing::edf_file_bytes(plus));
    EXPECT_NE(stamp.text().find("has no time stamp in data record 0"), std::string::npos) << stamp.text();
}

TEST(EdfAnnotationLists, ParseOnsetsDurationsAndTextsAndRefuseWhatIsNoList) {
    struct Case {
        std::string bytes;
        std::size_t lists;
        std::string error;  // empty: parsed
    };
    const std::string two =
        annotation_list("+0", std::nullopt, {""}) + annotation_list("-1.25", "0.5", {"a", "b"}) + std::string(6, '\0');
    for (const Case &c : std::vector<Case>{
             {two, 2, ""},
             {"", 0, ""},
             {std::string(8, '\0'), 0, ""},
             {"1\x14x\x14", 0, "at byte 0 has an onset that is not a signed number (\"1\")"},
             {"+1", 0, "at byte 0 is cut off after its onset"},
             {"+1\x15x\x14", 0, "has a duration that is not a number (\"x\")"},
             {"+1\x14text", 0, "has a text that is not ended by 0x14"},
             {"+1\x14t\x14", 0, "has no NUL at its end"},
             {annotation_list("+1", std::nullopt, {"ok"}) + "+2.", 1, "at byte 7 is cut off after its onset"},
             {"+1.2.3\x14\x14", 0, "has an onset that is not a signed number"},
             {"+12345678901\x14\x14", 0, "has an onset that is not a signed number"},
         }) {
        std::vector<EdfAnnotationList> lists;
        std::string error;
        bool ok = parse_annotation_lists(reinterpret_cast<const std::uint8_t *>(c.bytes.data()), c.bytes.size(), lists,
                                         error);
        EXPECT_EQ(ok, c.error.empty()) << error;
        EXPECT_EQ(lists.size(), c.lists);
        if (!c.error.empty()) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    std::vector<EdfAnnotationList> lists;
    std::string error;
    ASSERT_TRUE(parse_annotation_lists(reinterpret_cast<const std::uint8_t *>(two.data()), two.size(), lists, error));
    EXPECT_EQ(lists[1].onset.nanoseconds, -1'250'000'000);
    EXPECT_EQ(lists[1].onset.seconds, -1.25);
    EXPECT_EQ(lists[1].duration->seconds, 0.5);
    EXPECT_EQ(lists[1].texts, (std::vector<std::string_view>{"a", "b"}));
    EXPECT_EQ(lists[0].texts, (std::vector<std::string_view>{""}));
}

TEST_F(EdfTest, AnnotationsFromAMalformedListOnAreAFailureAfterThoseBefore) {
    // Small data records are read many at a time, large ones (80 kB here) by their annotation bytes alone.
    for (int samples : {4, 40000}) {
        SCOPED_TRACE(samples);
        EdfFileToWrite file = placed_file({"+0", "+1", "+2"});
        file.reserved = "EDF+C";
        file.signals[0].samples_per_record = samples;
        file.annotation_bytes = {time_stamp("+0") + annotation_list("+0.5", std::nullopt, {"one"}),
                                 time_stamp("+1") + annotation_list("+1.5", "1", {"two"}), time_stamp("+2") + "+x\x14"};
        dir.write("f.edf", sigtrove::testing::edf_file_bytes(file));
        std::unique_ptr<AnnotationFile> notes;
        ASSERT_TRUE(AnnotationFile::open("f.edf", "edf", WFDB_READ, notes).ok());
        std::vector<AnnotationRow> rows;
        Status status = notes->read(0, std::nullopt, rows);
        EXPECT_EQ(status.kind(), ErrorKind::unreadable);
        EXPECT_NE(status.text().find("in data record 2 of f.edf, the annotation list at byte 5 has an onset"),
                  std::string::npos)
            << status.text();
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[1].time, 3);  // 1.5 s at 2 Hz
        EXPECT_EQ(rows[1].duration, 1.0);
        EXPECT_FALSE(rows[0].duration);
        rows.clear();
        EXPECT_TRUE(notes->read(0, 2, rows).ok());  // a window before the failure reads as usual
        EXPECT_EQ(rows.size(), 1u);
    }
}

TEST_F(EdfTest, TheAnnotationsOfAFileAreHeldToTheRecordMemoryCeiling) {
    EdfFileToWrite file = placed_file(std::vector<std::string>(64, "+0"));
    file.reserved = "EDF+C";
    file.signals[2].samples_per_record = 2048;
    for (std::size_t r = 0; r < 64; ++r) {
        std::string onset = std::to_string(r);
        onset.insert(onset.begin(), '+');
        file.annotation_bytes[r] = time_stamp(onset) + annotation_list(onset, std::nullopt, {std::string(4000, 'x')});
    }
    dir.write("big.edf", sigtrove::testing::edf_file_bytes(file));
    set_max_record_memory(128 << 10);
    std::unique_ptr<AnnotationFile> notes;
    Status status = AnnotationFile::open("big.edf", "edf", WFDB_READ, notes);
    set_max_record_memory(0);
    EXPECT_EQ(status.kind(), ErrorKind::limit);
    EXPECT_NE(status.text().find("the annotations of record big.edf need more than"), std::string::npos)
        << status.text();
}

// ---- over HTTP --------------------------------------------------------------------------------

TEST(EdfOverHttp, AFileOnAWebServerReadsAsTheLocalOne) {
    if (!remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    wfdbquiet();
    sigtrove::testing::WebServer server(kEdfFolder);
    ASSERT_EQ(server.failure(), "");
    EnvironmentVariable cache("SIGTROVE_CACHE", std::nullopt);
    EnvironmentVariable path("WFDB", ".");
    WorkingDirectory cwd(kEdfFolder);
    reset_database_path();
    for (const char *f : {"discontinuous.edf", "rates_annotations.edf", "bdfplus.bdf"}) {
        SCOPED_TRACE(f);
        std::unique_ptr<Record> local, remote;
        Status opened = Record::open(f, local);
        ASSERT_TRUE(opened.ok()) << opened.text();
        Status status = Record::open(server.url(f), remote);
        ASSERT_TRUE(status.ok()) << status.text();
        EXPECT_EQ(remote->frame_count(), local->frame_count());
        for (std::size_t s = 0; s < static_cast<std::size_t>(local->signal_count()); ++s)
            EXPECT_EQ(own_rate<std::int32_t>(*remote, s), own_rate<std::int32_t>(*local, s));
        // A window in the middle, from a fresh record.
        ASSERT_TRUE(Record::open(server.url(f), remote).ok());
        long long middle = local->frame_count() / 2;
        EXPECT_EQ(own_rate<std::int32_t>(*remote, 0, middle, 7), own_rate<std::int32_t>(*local, 0, middle, 7));
        std::vector<AnnotationRow> here = read_annotations(f), there = read_annotations(server.url(f));
        ASSERT_EQ(there.size(), here.size());
        for (std::size_t i = 0; i < here.size(); ++i) EXPECT_EQ(there[i].aux, here[i].aux);
    }
}

}  // namespace
