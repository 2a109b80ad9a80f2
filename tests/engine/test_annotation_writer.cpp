// The annotation writer beyond the field's own cases: mnemonics of a list's own,
// values the format can not hold, annotations the format would otherwise lose,
// and files that are kept.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "annotations/annotation_file.h"
#include "errors/error_state.h"
#include "fixture_files.h"
#include "paths/search_location.h"
#include "wfdb/ecgcodes.h"
#include "wfdb/wfdb.h"
#include "writers/annotation_writer.h"

namespace {

namespace engine = sigtrove::engine;
namespace fixtures = sigtrove::testing;
using engine::AnnotationRow;
using engine::ErrorKind;
using engine::Status;

std::vector<AnnotationRow> read_back(const std::string &folder, const std::string &annotator,
                                     std::vector<std::string> *mnemonics = nullptr) {
    std::unique_ptr<engine::AnnotationFile> file;
    std::vector<AnnotationRow> rows;
    Status status =
        engine::AnnotationFile::open("r", annotator, WFDB_READ, engine::SearchLocation::folder(folder, "r"), file);
    EXPECT_TRUE(status.ok()) << status.text();
    if (!status.ok()) return rows;
    EXPECT_TRUE(file->read(0, std::nullopt, rows).ok());
    if (mnemonics)
        for (const AnnotationRow &row : rows) mnemonics->push_back(file->codes().mnemonic(row.code));
    return rows;
}

bool same(const std::vector<AnnotationRow> &a, const std::vector<AnnotationRow> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].time != b[i].time || a[i].code != b[i].code || a[i].subtype != b[i].subtype ||
            a[i].channel != b[i].channel || a[i].number != b[i].number || a[i].aux != b[i].aux)
            return false;
    return true;
}

TEST(AnnotationWriter, MnemonicsOfTheListsOwnReadBackWithTheirCodes) {
    std::vector<AnnotationRow> rows(5);
    std::vector<std::optional<std::string>> symbols{"N", "CAL", "CAL", "V", "[15]"};
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = {static_cast<WFDB_Time>(10 * i), -1, 0, 0, 0, {}, {}, {}};
    rows[3].code = 5;
    rows[3].time = 30;
    rows.push_back({50, 2, 0, 0, 0, {}, {}, {}});
    symbols.push_back("B?");  // code 2 under a mnemonic of its own
    std::vector<engine::CodeDefinition> definitions;
    Status status = engine::resolve_mnemonics(rows, symbols, definitions);
    ASSERT_TRUE(status.ok()) << status.text();
    EXPECT_EQ(rows[0].code, NORMAL);
    EXPECT_EQ(rows[1].code, 42);  // the first user code
    EXPECT_EQ(rows[2].code, 42);
    EXPECT_EQ(rows[4].code, 15);
    ASSERT_EQ(definitions.size(), 2u);
    EXPECT_EQ(definitions[0].mnemonic, "CAL");
    EXPECT_EQ(definitions[1].code, 2);

    fixtures::TempDir dir;
    engine::AnnotationList list;
    list.rows = rows;
    list.definitions = definitions;
    ASSERT_TRUE(engine::write_annotation_file(dir.path(), "r", "own", list, false).ok());
    std::vector<std::string> mnemonics;
    EXPECT_TRUE(same(read_back(dir.path(), "own", &mnemonics), rows));
    EXPECT_EQ(mnemonics, (std::vector<std::string>{"N", "CAL", "CAL", "V", "[15]", "B?"}));

    // A code the list names by the table's mnemonic ("[42]") is not given to one of its own, even later.
    std::vector<AnnotationRow> taken{{0, -1, 0, 0, 0, {}, {}, {}}, {1, -1, 0, 0, 0, {}, {}, {}}};
    definitions.clear();
    ASSERT_TRUE(engine::resolve_mnemonics(taken, {"zz", "[42]"}, definitions).ok());
    EXPECT_EQ(taken[0].code, 43);
    EXPECT_EQ(taken[1].code, 42);

    // One code can not stand for two mnemonics, its own or the table's.
    std::vector<AnnotationRow> clash{{0, 42, 0, 0, 0, {}, {}, {}}, {1, 42, 0, 0, 0, {}, {}, {}}};
    definitions.clear();
    status = engine::resolve_mnemonics(clash, {"CAL", "ZERO"}, definitions);
    EXPECT_EQ(status.text(), "sigtrove: annotation 1: code 42 has two mnemonics, 'CAL' and 'ZERO'\n");
    std::vector<AnnotationRow> renamed{{0, -1, 0, 0, 0, {}, {}, {}}, {1, 1, 0, 0, 0, {}, {}, {}}};
    status = engine::resolve_mnemonics(renamed, {"N", "B?"}, definitions);
    EXPECT_EQ(status.text(), "sigtrove: annotation 1: code 1 has two mnemonics, 'N' and 'B?'\n");
}

TEST(AnnotationWriter, ValuesTheFormatCanNotHoldAreRefused) {
    struct Case {
        AnnotationRow row;
        const char *text;
    };
    const std::string long_aux(256, 'x');
    for (const Case &c : {
             Case{{-1, 1, 0, 0, 0, {}, {}, {}}, "sigtrove: annotation 0 (time -1): a time can not be negative\n"},
             Case{{0, 59, 0, 0, 0, {}, {}, {}},
                  "sigtrove: annotation 0 (time 0): code 59 is no annotation code (0 to 58)\n"},
             Case{{0, 1, 128, 0, 0, {}, {}, {}},
                  "sigtrove: annotation 0 (time 0): subtype 128 is not within -128 to 127\n"},
             Case{{0, 1, 0, 256, 0, {}, {}, {}},
                  "sigtrove: annotation 0 (time 0): channel 256 is not within -128 to 255\n"},
             Case{{0, 1, 0, 0, -129, {}, {}, {}},
                  "sigtrove: annotation 0 (time 0): number -129 is not within -128 to 127\n"},
             Case{{0, 1, 0, 0, 0, long_aux, {}, {}},
                  "sigtrove: annotation 0 (time 0): an aux text holds at most 255 bytes, not 256\n"},
         }) {
        fixtures::TempDir dir;
        engine::AnnotationList list;
        list.rows = {c.row};
        Status status = engine::write_annotation_file(dir.path(), "r", "bad", list, false);
        EXPECT_EQ(status.kind(), ErrorKind::bad_request);
        EXPECT_EQ(status.text(), c.text);
        EXPECT_TRUE(fixtures::read_file(dir / "r.bad").empty());
    }
}

TEST(AnnotationWriter, AnnotationsTheFormatWouldLoseAreKept) {
    fixtures::TempDir dir;
    engine::AnnotationList list;
    // A NOTE at time 0 opening a file without a note of its own would be taken for a label; empty
    // annotations (code 0) at the time of the one before would be an end mark; channel -1 is 255.
    list.rows = {{0, NOTE, 0, 0, 0, std::string("a comment"), {}, {}},
                 {0, NOTQRS, 0, 0, 0, {}, {}, {}},
                 {5, NORMAL, 0, -1, 0, {}, {}, {}},
                 {5, NOTQRS, 0, 255, 0, {}, {}, {}},
                 {6000000007LL, NORMAL, 0, 255, 0, {}, {}, {}}};
    ASSERT_TRUE(engine::write_annotation_file(dir.path(), "r", "kept", list, false).ok());
    std::vector<AnnotationRow> want = list.rows;
    want[2].channel = 255;
    EXPECT_TRUE(same(read_back(dir.path(), "kept"), want));
}

TEST(AnnotationWriter, AnExistingFileIsReplacedOnlyWhenAsked) {
    fixtures::TempDir dir;
    engine::AnnotationList first, second;
    first.rows = {{1, NORMAL, 0, 0, 0, {}, {}, {}}};
    second.rows = {{2, PVC, 0, 0, 0, {}, {}, {}}};
    ASSERT_TRUE(engine::write_annotation_file(dir.path(), "r", "atr", first, false).ok());
    EXPECT_EQ(engine::write_annotation_file(dir.path(), "r", "atr", second, false).kind(), ErrorKind::exists);
    EXPECT_TRUE(same(read_back(dir.path(), "atr"), first.rows));
    ASSERT_TRUE(engine::write_annotation_file(dir.path(), "r", "atr", second, true).ok());
    EXPECT_TRUE(same(read_back(dir.path(), "atr"), second.rows));
    for (const char *annotator : {"", "../x", "a/b"})
        EXPECT_EQ(engine::write_annotation_file(dir.path(), "r", annotator, first, true).kind(),
                  ErrorKind::bad_request);
}

}  // namespace
