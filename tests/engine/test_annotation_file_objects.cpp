// Annotation files opened as engine objects: for every annotation file of the
// shared records, the rows an object reads equal what annopen and getann
// deliver, windows included; an object has its file's own code table, leaves
// the process's tables and error text alone, and reads beside other objects on
// other threads.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "annotation_capture.h"
#include "annotations/annotation_file.h"
#include "expected_records.h"
#include "fixture_files.h"
#include "wfdb/wfdb.h"

namespace {

using sigtrove::engine::AnnotationFile;
using sigtrove::engine::AnnotationRow;
using sigtrove::engine::Status;
using sigtrove::testing::Delivered;

struct AnnotatorCase {
    std::string folder;
    std::string record;
    std::string annotator;
    int stat;
};

void PrintTo(const AnnotatorCase &c, std::ostream *out) { *out << c.record << "." << c.annotator << ":" << c.stat; }

// Every annotation file of the shared records (listed rather than read from the
// expected files at start-up, which every test process would pay for; the last
// test below checks the list against them).
std::vector<AnnotatorCase> shared_annotators() {
    const std::string records = std::string(SIGTROVE_FIXTURES) + "/records";
    return {{records, "100", "atr", WFDB_READ},
            {records, "100", "qrs", WFDB_READ},
            {records, "100", "aha", WFDB_READ},
            {records, "100", "aha", WFDB_AHA_READ},
            {records, "1003", "atr", WFDB_READ},
            {records, "1003", "aha", WFDB_READ},
            {records, "1003", "aha", WFDB_AHA_READ},
            {records, "12726", "anI", WFDB_READ},
            {records, "12726", "wabp", WFDB_READ},
            {records, "12726", "wqrs", WFDB_READ},
            {records + "/237s", "237s", "all", WFDB_READ},
            {records, "huge", "qrs", WFDB_READ},
            {records, "xform", "all", WFDB_READ},
            {records, "xform", "wabp", WFDB_READ}};
}

// The rows as getann's annotations, aux text up to its first NUL.
Delivered as_delivered(const AnnotationRow &row) {
    return Delivered{row.time, row.code, row.subtype, row.channel, row.number, row.aux};
}

std::optional<std::string> text_of(const std::optional<std::string> &aux_bytes) {
    if (!aux_bytes) return std::nullopt;
    return std::string(aux_bytes->c_str(), strnlen(aux_bytes->c_str(), aux_bytes->size()));
}

class AnnotationFileObject : public ::testing::TestWithParam<AnnotatorCase> {
protected:
    AnnotationFileObject() : cwd(GetParam().folder) { wfdbquiet(); }

    // Everything getann delivers from the start, aux as text.
    std::vector<Delivered> through_getann() {
        std::string record = GetParam().record, name = GetParam().annotator;
        WFDB_Anninfo info{name.data(), GetParam().stat};
        EXPECT_EQ(annopen(record.data(), &info, 1), 0);
        std::vector<Delivered> all = sigtrove::testing::read_all(0).annotations;
        for (Delivered &d : all) d.aux = text_of(d.aux);
        return all;
    }

    std::unique_ptr<AnnotationFile> open_object() {
        std::unique_ptr<AnnotationFile> file;
        Status status = AnnotationFile::open(GetParam().record, GetParam().annotator, GetParam().stat, file);
        EXPECT_TRUE(status.ok()) << status.text();
        return file;
    }

    sigtrove::testing::WorkingDirectory cwd;
    sigtrove::testing::EnvironmentVariable wfdb{"WFDB", "."};
};

TEST_P(AnnotationFileObject, RowsEqualWhatGetannDelivers) {
    std::vector<Delivered> want = through_getann();
    std::unique_ptr<AnnotationFile> file = open_object();
    ASSERT_TRUE(file);
    std::vector<AnnotationRow> rows;
    Status status = file->read(0, std::nullopt, rows);
    // A file that ends badly still gives the rows before the damage.
    std::vector<Delivered> got;
    for (const AnnotationRow &row : rows) got.push_back(as_delivered(row));
    EXPECT_EQ(got, want) << status.text();

    // Windows [start, stop): a fresh read each, in any order.
    ASSERT_FALSE(want.empty());
    WFDB_Time last = want.back().time;
    for (auto [start, stop] : std::vector<std::pair<WFDB_Time, WFDB_Time>>{{last / 2, last / 2 + 1000},
                                                                           {0, 1},
                                                                           {want.front().time, want.front().time + 1},
                                                                           {last, last + 1},
                                                                           {last + 1, last + 100}}) {
        std::vector<AnnotationRow> window;
        file->read(start, stop, window);
        std::vector<Delivered> expected;
        for (const Delivered &d : want)
            if (d.time >= start && d.time < stop) expected.push_back(d);
        std::vector<Delivered> window_got;
        for (const AnnotationRow &row : window) window_got.push_back(as_delivered(row));
        EXPECT_EQ(window_got, expected) << "window " << start << " to " << stop;
    }
}

TEST_P(AnnotationFileObject, HasItsOwnCodeTableAndLeavesTheProcessAlone) {
    std::string text_before = wfdberror();
    std::vector<std::string> initial;
    for (int code = 0; code <= ACMAX; ++code) initial.push_back(annstr(code));
    std::unique_ptr<AnnotationFile> file = open_object();
    ASSERT_TRUE(file);
    std::vector<AnnotationRow> rows;
    file->read(0, std::nullopt, rows);
    // The process's table is the initial one still, and its text unchanged.
    for (int code = 0; code <= ACMAX; ++code) EXPECT_EQ(annstr(code), initial[code]) << code;
    EXPECT_EQ(wfdberror(), text_before);
    // The object's table is what annopen of this file alone makes of the process's.
    through_getann();
    for (int code = 0; code <= ACMAX; ++code) {
        EXPECT_EQ(file->codes().mnemonic(code), annstr(code)) << code;
        const char *mine = file->codes().description(code);
        const char *process = anndesc(code);
        EXPECT_EQ(mine ? std::string(mine) : "(none)", process ? std::string(process) : "(none)") << code;
    }
}

INSTANTIATE_TEST_SUITE_P(Records, AnnotationFileObject, ::testing::ValuesIn(shared_annotators()), [](const auto &info) {
    std::string name = info.param.record + "_" + info.param.annotator + "_" + std::to_string(info.param.stat);
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
});

TEST(AnnotationFileObjects, ReadOnSeveralThreadsAsTheyReadAlone) {
    sigtrove::testing::WorkingDirectory cwd(std::string(SIGTROVE_FIXTURES) + "/records");
    sigtrove::testing::EnvironmentVariable wfdb("WFDB", ".");
    const std::vector<std::pair<std::string, std::string>> files = {
        {"100", "atr"}, {"100", "qrs"}, {"1003", "atr"}, {"12726", "wqrs"}};
    std::vector<std::vector<AnnotationRow>> alone(files.size()), threaded(files.size());
    std::vector<std::unique_ptr<AnnotationFile>> objects(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        ASSERT_TRUE(AnnotationFile::open(files[i].first, files[i].second, WFDB_READ, objects[i]).ok());
        ASSERT_TRUE(objects[i]->read(0, std::nullopt, alone[i]).ok());
    }
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < files.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int pass = 0; pass < 20; ++pass) {
                threaded[i].clear();
                objects[i]->read(0, std::nullopt, threaded[i]);
            }
        });
    }
    for (std::thread &t : threads) t.join();
    for (std::size_t i = 0; i < files.size(); ++i) {
        ASSERT_EQ(threaded[i].size(), alone[i].size()) << files[i].first << "." << files[i].second;
        for (std::size_t k = 0; k < alone[i].size(); ++k)
            EXPECT_EQ(as_delivered(threaded[i][k]), as_delivered(alone[i][k]));
    }
}

TEST(AnnotationFileObjects, TimeTextsFollowTheirRecord) {
    sigtrove::testing::WorkingDirectory cwd(std::string(SIGTROVE_FIXTURES) + "/records");
    sigtrove::testing::EnvironmentVariable wfdb("WFDB", ".");
    std::unique_ptr<AnnotationFile> with_header, without_header;
    ASSERT_TRUE(AnnotationFile::open("xform", "all", WFDB_READ, with_header).ok());
    EXPECT_EQ(with_header->time_basis().freq, 125);
    EXPECT_NE(with_header->time_basis().base_date, 0);
    ASSERT_TRUE(AnnotationFile::open("huge", "qrs", WFDB_READ, without_header).ok());
    EXPECT_EQ(without_header->time_basis().freq, WFDB_DEFFREQ);
}

TEST(AnnotationFileObjects, AMissingFileIsAFailureWithTheEngineText) {
    sigtrove::testing::TempDir empty;
    sigtrove::testing::WorkingDirectory cwd(empty.path());
    sigtrove::testing::EnvironmentVariable wfdb("WFDB", ".");
    std::unique_ptr<AnnotationFile> file;
    Status status = AnnotationFile::open("100", "atr", WFDB_READ, file);
    EXPECT_EQ(status.kind(), sigtrove::engine::ErrorKind::not_found);
    EXPECT_EQ(status.text(), "annopen: can't read annotator atr for record 100\n");
}

TEST(AnnotationFileObjects, TheTableHoldsEveryAnnotationFileOfTheSharedRecords) {
    std::vector<std::string> listed, expected;
    for (const AnnotatorCase &c : shared_annotators())
        listed.push_back(c.record + "." + c.annotator + ":" + std::to_string(c.stat));
    for (const auto &record : sigtrove::testing::expected_records()) {
        nlohmann::json reference = sigtrove::testing::load_expected(record);
        for (const auto &a : reference.value("annotators", nlohmann::json::array()))
            if (a["annopen"]["ret"].get<int>() >= 0)
                expected.push_back(record.record + "." + a["name"].get<std::string>() + ":" +
                                   std::to_string(a["stat"].get<int>()));
    }
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
}

}  // namespace
