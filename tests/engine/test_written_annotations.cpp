// Annotation files written by the engine against what the field's wrann and
// sortann wrote for the same lists (tests/fixtures/written/annotations),
// byte for byte, and read back by the engine's reader as they were listed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "annotations/annotation_file.h"
#include "errors/error_state.h"
#include "fixture_files.h"
#include "paths/search_location.h"
#include "wfdb/wfdb.h"
#include "writers/annotation_writer.h"
#include "written_cases.h"

namespace {

namespace engine = sigtrove::engine;
namespace fixtures = sigtrove::testing;
using engine::Status;
using fixtures::read_file;
using fixtures::TempDir;
using fixtures::written_path;
using fixtures::WrittenCase;

std::string records_folder(const std::string &sub) {
    std::string base = std::string(SIGTROVE_FIXTURES) + "/records";
    return sub == "." ? base : base + "/" + sub;
}

// Where wrann wrote what the list names by a mnemonic of its own as a NOTE with the mnemonic as its
// text, the engine writes a table of code definitions, so the file reads back with the same mnemonics.
bool mends_a_mnemonic(const std::string &name) { return name == "12726.wabp" || name == "100.codes"; }

std::vector<engine::AnnotationRow> read_back(const std::string &folder, const std::string &record,
                                             const std::string &annotator, std::vector<std::string> &mnemonics) {
    std::unique_ptr<engine::AnnotationFile> file;
    std::vector<engine::AnnotationRow> rows;
    Status status = engine::AnnotationFile::open(record, annotator, WFDB_READ,
                                                 engine::SearchLocation::folder(folder, record), file);
    EXPECT_TRUE(status.ok()) << status.text();
    if (!status.ok()) return rows;
    status = file->read(0, std::nullopt, rows);
    EXPECT_TRUE(status.ok()) << status.text();
    for (const engine::AnnotationRow &row : rows) mnemonics.push_back(file->codes().mnemonic(row.code));
    return rows;
}

class WrittenAnnotations : public ::testing::TestWithParam<WrittenCase> {
protected:
    void SetUp() override { wfdbquiet(); }
};

TEST_P(WrittenAnnotations, FileIsTheFieldsWritersBytesAndReadsBackAsListed) {
    const nlohmann::json &entry = GetParam().entry;
    const std::string name = entry["name"];
    const std::string record = entry["record"];
    const std::string annotator = name.substr(name.find('.') + 1);
    TempDir dir;
    // The note of the time resolution comes from the record's header: the real one, or the one the case names.
    std::string header_folder = records_folder(entry["record_folder"]);
    if (entry.contains("header") && entry["header"].is_string()) {
        dir.make_dir("header");
        dir.write("header/" + record + ".hea", entry["header"].get<std::string>());
        header_folder = dir / "header";
    }
    engine::AnnotationList list;
    ASSERT_TRUE(engine::header_frequency(header_folder, record, list.time_resolution).ok());

    const auto listed = fixtures::parse_annotation_listing(read_file(written_path("annotations", name + ".txt")));
    ASSERT_FALSE(listed.empty());
    std::vector<std::optional<std::string>> symbols;
    for (const auto &a : listed) {
        list.rows.push_back({a.sample, -1, a.subtype, a.chan, a.num, a.aux, {}, {}});
        symbols.push_back(a.mnemonic);
    }
    Status status = engine::resolve_mnemonics(list.rows, symbols, list.definitions);
    ASSERT_TRUE(status.ok()) << status.text();
    EXPECT_EQ(!list.definitions.empty(), mends_a_mnemonic(name));
    status = engine::write_annotation_file(dir.path(), record, annotator, list, false);
    ASSERT_TRUE(status.ok()) << status.text();

    const std::string got = read_file(dir / (record + "." + annotator));
    const std::string want = read_file(written_path("annotations", name));
    ASSERT_FALSE(want.empty());
    if (mends_a_mnemonic(name))
        EXPECT_NE(got, want);
    else
        EXPECT_TRUE(got == want) << name << " differs from what wrann wrote";
    if (entry.value("identical_to_original", false)) {
        EXPECT_TRUE(got == read_file(records_folder(entry["record_folder"]) + "/" + name));
    }

    // Read back without a header (no rescaling), the file holds the list as it was listed, sorted.
    if (name == "100.hires") return;
    std::vector<std::string> mnemonics;
    const auto rows = read_back(dir.path(), record, annotator, mnemonics);
    ASSERT_EQ(rows.size(), listed.size());
    std::vector<std::size_t> order(listed.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const auto &x = listed[a], &y = listed[b];
        if (x.sample != y.sample) return x.sample < y.sample;
        if (x.num != y.num) return x.num < y.num;
        return x.chan < y.chan;
    });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto &want_row = listed[order[i]];
        SCOPED_TRACE("annotation " + std::to_string(i));
        EXPECT_EQ(rows[i].time, want_row.sample);
        EXPECT_EQ(mnemonics[i], want_row.mnemonic);
        EXPECT_EQ(static_cast<signed char>(rows[i].subtype), want_row.subtype);
        EXPECT_EQ(rows[i].channel, want_row.chan);
        EXPECT_EQ(static_cast<signed char>(rows[i].number), want_row.num);
        EXPECT_EQ(rows[i].aux.value_or(""), want_row.aux.value_or(""));
    }
}

// The lists wrann wrote (the copy sortann made is the next test's).
std::vector<WrittenCase> wrann_cases() {
    std::vector<WrittenCase> cases;
    for (const WrittenCase &c : fixtures::written_annotation_cases())
        if (c.entry["commands"].back().get<std::string>().rfind("wrann", 0) == 0) cases.push_back(c);
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, WrittenAnnotations, ::testing::ValuesIn(wrann_cases()),
                         [](const auto &info) { return info.param.name; });

TEST(WrittenAnnotationCopy, CopyWritesTheFilesOwnDefinitionsAsSortannDoes) {
    wfdbquiet();
    const std::string folder = records_folder(".");
    std::unique_ptr<engine::AnnotationFile> source;
    ASSERT_TRUE(engine::AnnotationFile::open("12726", "wabp", WFDB_READ,
                                             engine::SearchLocation::folder(folder, "12726"), source)
                    .ok());
    TempDir dir;
    // sortann keeps the file's own time resolution, which 12726.wabp does not state: no note.
    Status status = engine::copy_annotations(*source, 0, std::nullopt, dir.path(), "12726", "wabps", 0, false);
    ASSERT_TRUE(status.ok()) << status.text();
    EXPECT_TRUE(read_file(dir / "12726.wabps") == read_file(written_path("annotations", "12726.wabps")));
}

}  // namespace
