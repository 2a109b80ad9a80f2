// The annotation code tables (annstr, strann, anndesc, isqrs) and the labels in
// annotation files that change them. Each TEST runs in a fresh process (ctest),
// so tests that redefine codes do not see one another.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

#include "annotations/annotation_codes.h"
#include "annotations/annotation_labels.h"
#include "wfdb/ecgmap.h"
#include "wfdb/wfdb.h"

namespace {

using nlohmann::json;
using sigtrove::engine::define_annotation_code;
using sigtrove::engine::ModificationLabel;
using sigtrove::engine::parse_modification_label;

json library_expectations() {
    std::ifstream in(std::string(SIGTROVE_FIXTURES) + "/expected/library.json");
    return json::parse(in);
}

int strann_of(std::string text) { return strann(text.data()); }

// One entry of a "codes_*" list of the expected files against the current tables.
void expect_code_entry(const json &entry) {
    int code = entry["code"];
    SCOPED_TRACE("code " + std::to_string(code));
    EXPECT_EQ(std::string(annstr(code)), entry["annstr"].get<std::string>());
    if (entry["anndesc"].is_null()) {
        EXPECT_EQ(anndesc(code), nullptr);
    } else {
        ASSERT_NE(anndesc(code), nullptr);
        EXPECT_EQ(std::string(anndesc(code)), entry["anndesc"].get<std::string>());
    }
    EXPECT_EQ(strann_of(annstr(code)), entry["strann_of_annstr"].get<int>());
}

TEST(AnnotationCodes, InitialTablesEqualTheLibrarys) {
    json expected = library_expectations();
    ASSERT_EQ(expected["codes_before_annopen"].size(), 56u);
    for (const json &entry : expected["codes_before_annopen"]) expect_code_entry(entry);
}

TEST(AnnotationCodes, QrsTableMarksBeatCodes) {
    json table = library_expectations()["isqrs_table"];
    for (int code = 0; code < static_cast<int>(table.size()); ++code) {
        EXPECT_EQ(isqrs(code), table[code].get<int>()) << "code " << code;
    }
    EXPECT_EQ(isqrs(-1), 0);
    EXPECT_EQ(isqrs(1000), 0);
}

TEST(AnnotationCodes, CodesOutsideTheTableAndTextsMatchingNoMnemonic) {
    json expected = library_expectations();
    for (const json &entry : expected["annstr_misc"]) {
        int code = entry["code"];
        EXPECT_EQ(std::string(annstr(code)), entry["annstr"].get<std::string>());
        EXPECT_EQ(std::string(anndesc(code)), entry["anndesc"].get<std::string>());
    }
    for (const json &entry : expected["strann_misc"]) {
        EXPECT_EQ(strann_of(entry["text"]), entry["strann"].get<int>()) << entry["text"];
    }
    EXPECT_EQ(strann(nullptr), NOTQRS);
    // Bracketed texts of codes outside the table share one buffer.
    char *first = annstr(50);
    char *second = annstr(-2147483647 - 1);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, "[-2147483648]");
}

TEST(AnnotationCodes, DefinitionsReplaceMnemonicAndDescriptionForTheProcess) {
    define_annotation_code(15, "c", "calibration pulse\n");
    define_annotation_code(20, "x", "signal source change\r\n");
    define_annotation_code(43, "YY", "");
    define_annotation_code(50, "Z", "out of the table");
    define_annotation_code(-1, "Z", "out of the table");

    EXPECT_STREQ(annstr(15), "c");
    EXPECT_STREQ(anndesc(15), "calibration pulse");  // stored without its line break
    EXPECT_STREQ(anndesc(20), "signal source change");
    EXPECT_EQ(strann_of("c"), 15);
    // Two codes now share "x": strann gives the lower one, the other keeps its description.
    EXPECT_EQ(strann_of("x"), 20);
    EXPECT_STREQ(annstr(37), "x");
    EXPECT_STREQ(anndesc(37), "Non-conducted P-wave (blocked APC)");
    EXPECT_STREQ(annstr(43), "YY");
    ASSERT_NE(anndesc(43), nullptr);
    EXPECT_STREQ(anndesc(43), "");
    EXPECT_EQ(strann_of("Z"), 0);
    EXPECT_STREQ(annstr(50), "[50]");
    EXPECT_STREQ(anndesc(50), "illegal annotation code");
    // The QRS table is not part of what a file can change.
    EXPECT_EQ(isqrs(15), 0);
}

struct LabelCase {
    const char *text;
    ModificationLabel::Kind kind;
    int code;
    const char *mnemonic;
    const char *description;
    double resolution;
};

// Test names show the label text, with control characters escaped.
void PrintTo(const LabelCase &c, std::ostream *out) {
    *out << '"';
    for (const char *p = c.text; *p; ++p) {
        if (*p == '\n') {
            *out << "\\n";
        } else if (*p == '\t') {
            *out << "\\t";
        } else {
            *out << *p;
        }
    }
    *out << '"';
}

class ModificationLabelText : public ::testing::TestWithParam<LabelCase> {};

TEST_P(ModificationLabelText, IsInterpretedAsTheLibraryDoes) {
    const LabelCase &c = GetParam();
    ModificationLabel label = parse_modification_label(c.text);
    ASSERT_EQ(label.kind, c.kind) << c.text;
    if (c.kind == ModificationLabel::Kind::code_definition) {
        EXPECT_EQ(label.code, c.code);
        EXPECT_EQ(label.mnemonic, c.mnemonic);
        EXPECT_EQ(label.description, c.description);
    }
    if (c.kind == ModificationLabel::Kind::time_resolution) {
        EXPECT_DOUBLE_EQ(label.resolution, c.resolution);
    }
}

using Kind = ModificationLabel::Kind;
INSTANTIATE_TEST_SUITE_P(
    Cases, ModificationLabelText,
    ::testing::Values(LabelCase{"15 c calibration pulse\n", Kind::code_definition, 15, "c", "calibration pulse\n", 0},
                      LabelCase{" \t7 ab  cd", Kind::code_definition, 7, "ab", " cd", 0},
                      LabelCase{"43 YY ", Kind::code_definition, 43, "YY", "", 0},
                      LabelCase{"43 YY", Kind::code_definition, 43, "YY", "", 0},
                      LabelCase{"0 Z zero", Kind::code_definition, 0, "Z", "zero", 0},
                      LabelCase{"12x Q rest", Kind::code_definition, 12, "Q", "rest", 0},  // junk after the digits
                      LabelCase{"49 a\nb", Kind::code_definition, 49, "a", "b", 0},
                      LabelCase{"50 Y too high", Kind::other, 0, "", "", 0},
                      LabelCase{"-1 Y negative", Kind::other, 0, "", "", 0},
                      LabelCase{"99999999999999999999 Y", Kind::other, 0, "", "", 0},
                      LabelCase{"12", Kind::other, 0, "", "", 0}, LabelCase{"12   ", Kind::other, 0, "", "", 0},
                      LabelCase{"gqrs -r 100", Kind::other, 0, "", "", 0}, LabelCase{"", Kind::other, 0, "", "", 0},
                      LabelCase{"## annotation type definitions", Kind::other, 0, "", "", 0},
                      LabelCase{"## time resolution: 500", Kind::time_resolution, 0, "", "", 500},
                      LabelCase{"## time resolution: 1000.5", Kind::time_resolution, 0, "", "", 1000.5},
                      LabelCase{"## time resolution:  720", Kind::time_resolution, 0, "", "", 720},
                      LabelCase{"## time resolution: 0", Kind::other, 0, "", "", 0},
                      LabelCase{"## time resolution: -5", Kind::other, 0, "", "", 0},
                      LabelCase{"## time resolution: fast", Kind::other, 0, "", "", 0},
                      LabelCase{"## time resolution:500", Kind::other, 0, "", "", 0},
                      LabelCase{"# time resolution: 500", Kind::other, 0, "", "", 0}));

}  // namespace
