// Records written by the engine against what the field's writers wrote for the
// same inputs (tests/fixtures/written): headers and signal files byte
// for byte, records made from values (wrsamp's cases) and windows of shared
// records copied in other formats (xform's cases).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "errors/error_state.h"
#include "every_sample.h"
#include "fixture_files.h"
#include "paths/database_path.h"
#include "record/record.h"
#include "signals/frame_sink.h"
#include "time/julian_date.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"
#include "writers/new_record.h"
#include "writers/record_copy.h"
#include "writers/writable_formats.h"
#include "written_cases.h"

namespace {

namespace engine = sigtrove::engine;
namespace fixtures = sigtrove::testing;
using engine::Status;
using fixtures::read_file;
using fixtures::TempDir;
using fixtures::written_path;
using fixtures::WrittenCase;

// The samples of RECORD in FOLDER (looked up there alone); empty when it can not be read.
std::vector<std::vector<std::int32_t>> record_samples(const std::string &folder, const std::string &record) {
    fixtures::EnvironmentVariable wfdb("WFDB", folder);
    engine::reset_database_path();
    std::unique_ptr<engine::Record> opened;
    std::vector<std::vector<std::int32_t>> samples;
    if (!engine::Record::open(record, opened).ok()) return samples;
    engine::BulkOutcome outcome;
    if (!fixtures::read_every_sample(*opened, 1LL << 40, samples, outcome).ok()) samples.clear();
    engine::reset_database_path();
    return samples;
}

bool is_flac_case(const nlohmann::json &record) {
    const engine::WritableFormat *format = engine::writable_format(record["formats"][0].get<int>());
    return format != nullptr && format->flac_bits > 0;
}

// The signal file's bytes are the expected ones; FLAC streams match only from the same libFLAC with
// the same settings, so where they differ the samples they decode to must be the same.
void expect_same_signal_file(const std::string &dir, const std::string &folder, const std::string &name, bool flac) {
    const std::string got = read_file(dir + "/" + name + ".dat");
    const std::string want = read_file(written_path(folder, name + ".dat"));
    ASSERT_FALSE(want.empty()) << "no expected " << name << ".dat";
    if (!flac || got == want) {
        EXPECT_TRUE(got == want) << name << ".dat differs from the field's writer's bytes";
        return;
    }
    if (!engine::flac_writing_supported()) return;
    ADD_FAILURE() << name << ".dat: the FLAC bytes differ from those of libFLAC 1.4.2 (this build has another)";
    EXPECT_EQ(record_samples(dir, name), record_samples(written_path(folder, ""), name));
}

// "2021-06-05T10:20:30.250" or "10:20:30.250": milliseconds after midnight and a Julian day (0 for none).
void parse_base_datetime(const std::string &text, engine::NewRecord &record) {
    std::string clock = text;
    if (text.size() > 10 && text[10] == 'T') {
        engine::CalendarDate date{std::stoi(text.substr(8, 2)), std::stoi(text.substr(5, 2)),
                                  std::stol(text.substr(0, 4))};
        record.base_date = engine::julian_day_number(date);
        clock = text.substr(11);
    }
    const double seconds = std::stod(clock.substr(6));
    record.base_ms = (std::stol(clock.substr(0, 2)) * 3600 + std::stol(clock.substr(3, 2)) * 60) * 1000 +
                     std::lround(seconds * 1000);
    record.has_base = true;
}

class WrittenSamples : public ::testing::TestWithParam<WrittenCase> {};

TEST_P(WrittenSamples, HeaderAndSignalFileAreTheFieldsWritersBytes) {
    const nlohmann::json &entry = GetParam().entry;
    const nlohmann::json &r = entry["record"];
    const std::string command = entry["command"];
    if (is_flac_case(r) && !engine::flac_writing_supported()) GTEST_SKIP() << "this build writes no FLAC";
    const char separator = command.find("$'\\t'") != std::string::npos ? '\t' : ' ';
    const bool time_column = command.find(" -z ") != std::string::npos;
    auto lines = fixtures::split_lines(read_file(written_path("samples", entry["input"])), separator);
    ASSERT_GT(lines.size(), 2u);

    engine::NewRecord record;
    record.name = GetParam().name;
    record.frequency = r["frequency"];
    if (!r["base_datetime"].is_null()) parse_base_datetime(r["base_datetime"], record);
    const bool physical = r["physical"];
    const std::size_t nsig = r["names"].size();
    std::vector<std::vector<double>> physical_values(nsig);
    std::vector<std::vector<std::int64_t>> stored_values(nsig);
    for (std::size_t row = 2; row < lines.size(); ++row) {
        for (std::size_t s = 0; s < nsig; ++s) {
            const std::string &v = lines[row][s + (time_column ? 1 : 0)];
            physical_values[s].push_back(v == "-" ? NAN : std::stod(v));
            stored_values[s].push_back(v == "-" ? WFDB_INVALID_SAMPLE : std::stoll(v));
        }
    }
    record.frames = static_cast<long long>(lines.size() - 2);
    for (std::size_t s = 0; s < nsig; ++s) {
        engine::NewSignal signal;
        signal.name = r["names"][s];
        signal.units = r["units"][s].get<std::string>();
        signal.format = r["formats"][s].get<int>();
        signal.gain = r["gains"][s].get<double>();
        signal.baseline = r["baselines"][s].get<int>();
        signal.adc_resolution = r["adc_resolutions"][s].get<int>();
        signal.samples = physical
                             ? engine::SampleColumn{engine::SampleColumn::Kind::physical, physical_values[s].data(), 1}
                             : engine::SampleColumn{engine::SampleColumn::Kind::stored64, stored_values[s].data(), 1};
        record.signals.push_back(signal);
    }
    engine::Header layout;
    ASSERT_TRUE(engine::plan_new_record(record, layout).ok());
    TempDir dir;
    std::unique_ptr<engine::RecordWriter> writer;
    Status status = engine::RecordWriter::create(dir.path(), layout, {}, writer);
    ASSERT_TRUE(status.ok()) << status.text();
    std::vector<engine::SampleColumn> columns = engine::new_record_block(record, 0);
    status = writer->put(static_cast<std::size_t>(record.frames), columns.data());
    ASSERT_TRUE(status.ok()) << status.text();
    status = writer->finish();
    ASSERT_TRUE(status.ok()) << status.text();

    const std::string header = read_file(written_path("samples", record.name + ".hea"));
    ASSERT_FALSE(header.empty());
    EXPECT_EQ(read_file(dir / (record.name + ".hea")), header);
    expect_same_signal_file(dir.path(), "samples", record.name, is_flac_case(r));
}

INSTANTIATE_TEST_SUITE_P(Cases, WrittenSamples, ::testing::ValuesIn(fixtures::written_record_cases("samples")),
                         [](const auto &info) { return info.param.name; });

class WrittenWindows : public ::testing::TestWithParam<WrittenCase> {
protected:
    void SetUp() override {
        engine::reset_database_path();
        engine::reset_record_state();
        wfdbquiet();
    }
    void TearDown() override { engine::reset_database_path(); }
};

// The header the copy writes is xform's but for what xform adds of its own: the comment line naming
// itself, and (mf212) the ADC resolution its output header was edited to.
std::string without_xform_changes(std::string text, const std::string &name) {
    std::size_t produced = text.find("#Produced by xform");
    if (produced != std::string::npos) text.erase(produced, text.find('\n', produced) + 1 - produced);
    if (name == "mf212")
        for (std::size_t at; (at = text.find("100/mV 12 0")) != std::string::npos;) text.replace(at, 11, "100/mV 16 0");
    return text;
}

TEST_P(WrittenWindows, SignalFileIsTheFieldsWritersBytesAndTheHeaderKeepsEveryField) {
    const nlohmann::json &entry = GetParam().entry;
    const nlohmann::json &r = entry["record"];
    if (is_flac_case(r) && !engine::flac_writing_supported()) GTEST_SKIP() << "this build writes no FLAC";
    fixtures::EnvironmentVariable wfdb("WFDB", std::string(SIGTROVE_FIXTURES) + "/records");
    std::unique_ptr<engine::Record> source;
    Status status = engine::Record::open(r["source"]["record"], source);
    ASSERT_TRUE(status.ok()) << status.text();

    TempDir dir;
    engine::CopyRequest request;
    request.name = GetParam().name;
    request.start = r["source"]["start"];
    request.stop = r["source"]["stop"];
    for (const auto &format : r["formats"]) request.formats.push_back(format);
    std::unique_ptr<engine::RecordCopy> copy;
    status = engine::RecordCopy::begin(*source, dir.path(), request, false, copy);
    ASSERT_TRUE(status.ok()) << status.text();
    // Small steps, so that blocks end inside the packing units of formats 212, 310 and 311.
    for (bool done = false; !done;) {
        status = copy->step(77, done);
        ASSERT_TRUE(status.ok()) << status.text();
    }
    status = copy->finish();
    ASSERT_TRUE(status.ok()) << status.text();

    EXPECT_EQ(read_file(dir / (request.name + ".hea")),
              without_xform_changes(read_file(written_path("xform", request.name + ".hea")), request.name));
    expect_same_signal_file(dir.path(), "xform", request.name, is_flac_case(r));
}

INSTANTIATE_TEST_SUITE_P(Cases, WrittenWindows, ::testing::ValuesIn(fixtures::written_record_cases("xform")),
                         [](const auto &info) { return info.param.name; });

}  // namespace
