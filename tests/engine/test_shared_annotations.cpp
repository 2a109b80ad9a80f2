// Every annotation file of the shared records, read through the C calls in the
// order the reference run used, against what the reference library returned —
// except where the engine deliberately differs (NOTES.md, differences 5, 7, 8, 9
// and 13). One test per record: each runs in its own process, so the code
// tables start fresh as they did for the reference.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "annotation_capture.h"
#include "errors/error_state.h"
#include "expected_records.h"
#include "fixture_files.h"
#include "paths/database_path.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/input_annotators.h"
#include "wfdb_interface/record_state.h"

namespace {

using nlohmann::json;
using sigtrove::testing::Delivered;
using sigtrove::testing::ExpectedRecord;

// The expected files that list annotators.
const std::vector<std::string> records_with_annotators = {"100.json",       "1003.json", "12726.json",
                                                          "237s/237s.json", "huge.json", "xform.json"};

ExpectedRecord expected_record(const std::string &json_path) {
    for (const ExpectedRecord &record : sigtrove::testing::expected_records()) {
        if (record.json_path == json_path) return record;
    }
    throw std::runtime_error("no expected file " + json_path);
}

std::string hex_of(const std::string &bytes) {
    std::string hex;
    char pair[3];
    for (unsigned char c : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", c);
        hex += pair;
    }
    return hex;
}

json as_json(const Delivered &d) {
    json aux = d.aux ? json(hex_of(*d.aux)) : json(nullptr);
    return json::array({d.time, d.anntyp, d.subtyp, d.chan, d.num, aux});
}

json next_results(int count) {
    json results = json::array();
    WFDB_Annotation annotation{};
    for (int i = 0; i < count; ++i) {
        int ret = getann(0, &annotation);
        json result = {{"ret", ret}};
        if (ret == 0) result["ann"] = as_json(sigtrove::testing::capture(annotation));
        results.push_back(result);
    }
    return results;
}

// Difference 8: descriptions defined in a file are kept without their trailing line break.
json without_trailing_line_breaks(json codes) {
    for (json &entry : codes) {
        if (!entry["anndesc"].is_string()) continue;
        std::string text = entry["anndesc"];
        if (!text.empty() && text.back() == '\n') entry["anndesc"] = text.substr(0, text.size() - 1);
    }
    return codes;
}

json current_codes(size_t count) {
    json codes = json::array();
    for (int code = 0; code < static_cast<int>(count); ++code) {
        char *description = anndesc(code);
        codes.push_back({{"code", code},
                         {"annstr", annstr(code)},
                         {"anndesc", description ? json(description) : json(nullptr)},
                         {"strann_of_annstr", strann(annstr(code))}});
    }
    return codes;
}

void expect_codes(const json &expected, const char *when) {
    EXPECT_EQ(current_codes(expected.size()), without_trailing_line_breaks(expected)) << "code tables " << when;
}

constexpr const char *warning_last_line = " ... continuing under that assumption\n";

// Difference 9: the reference's three-part warning is one text here.
std::string one_text_warning(const std::string &annotator, const std::string &record, int stat) {
    return "warning (annopen, annotator " + annotator + ", record " + record + "):\n file appears to be in " +
           (stat == WFDB_READ ? "AHA" : "MIT") + " format\n" + warning_last_line;
}

json sums_of(const std::vector<Delivered> &annotations) {
    int64_t time = 0, anntyp = 0, subtyp = 0, chan = 0, num = 0, with_aux = 0, aux_length = 0;
    for (const Delivered &d : annotations) {
        time += d.time;
        anntyp += d.anntyp;
        subtyp += d.subtyp;
        chan += d.chan;
        num += d.num;
        with_aux += d.aux ? 1 : 0;
        aux_length += d.aux ? static_cast<int64_t>(d.aux->size()) : 0;
    }
    return {{"time", time}, {"anntyp", anntyp},       {"subtyp", subtyp},     {"chan", chan},
            {"num", num},   {"n_with_aux", with_aux}, {"aux_len", aux_length}};
}

json as_json(const std::vector<Delivered> &annotations, size_t from, size_t to) {
    json list = json::array();
    for (size_t i = from; i < to && i < annotations.size(); ++i) list.push_back(as_json(annotations[i]));
    return list;
}

class SharedAnnotations : public ::testing::TestWithParam<std::string> {
protected:
    SharedAnnotations() : record_(expected_record(GetParam())) {
        sigtrove::engine::reset_database_path();
        sigtrove::engine::reset_record_state();
        wfdbquiet();
    }
    ~SharedAnnotations() override {
        sigtrove::engine::close_annotation_files();
        sigtrove::engine::reset_database_path();
    }

    int open(const std::string &annotator, int stat, const std::string &prefix = "") {
        std::string record = prefix + record_.record;
        std::string name = annotator;
        WFDB_Anninfo info{name.data(), stat};
        return annopen(record.data(), &info, 1);
    }

    // Difference 7: after a seek to 0 the first annotations are those the open gave.
    static json expected_after_rewind(const json &annotations, size_t count) {
        json results = json::array();
        for (size_t i = 0; i < 3; ++i) {
            results.push_back(i < count ? json{{"ret", 0}, {"ann", annotations[i]}} : json{{"ret", -1}});
        }
        return results;
    }

    void check_seeks(const json &seeks, const json &annotations, size_t count) {
        std::string text_before = wfdberror();
        for (const json &seek : seeks) {
            WFDB_Time t = seek["t"];
            SCOPED_TRACE("iannsettime(" + std::to_string(t) + ")");
            int ret = iannsettime(t);
            EXPECT_EQ(ret, seek["ret"].get<int>());
            if (ret == -1) {
                // Difference 5: the failure has a text of its own.
                EXPECT_EQ(std::string(wfdberror()),
                          "iannsettime: no annotation at or after time " + std::to_string(t) + "\n");
            } else {
                EXPECT_EQ(std::string(wfdberror()), text_before);
            }
            json expected_next = t == 0 ? expected_after_rewind(annotations, count) : seek["next"];
            EXPECT_EQ(next_results(3), expected_next);
            text_before = wfdberror();
        }
    }

    void check_annotator(const json &expected, const std::string &reference_text_before) {
        std::string name = expected["name"];
        int stat = expected["stat"];
        SCOPED_TRACE("annotator " + name + " stat " + std::to_string(stat));

        sigtrove::engine::record_error("marker\n");
        ASSERT_EQ(open(name, stat), expected["annopen"]["ret"].get<int>());
        std::string reference_text = expected["annopen"]["wfdberror"];
        if (reference_text == warning_last_line && reference_text != reference_text_before) {
            EXPECT_EQ(std::string(wfdberror()), one_text_warning(name, record_.record, stat));
        } else {
            EXPECT_EQ(std::string(wfdberror()), "marker\n") << "annopen recorded a text the reference did not";
        }
        std::string text_after_open = wfdberror();
        expect_codes(expected["codes_after_open"], "after the open");

        sigtrove::testing::ReadOutcome read = sigtrove::testing::read_all(0);
        size_t count = expected["count"];
        EXPECT_EQ(read.annotations.size(), count);
        EXPECT_EQ(read.stop, expected["end_ret"].get<int>());
        EXPECT_EQ(std::string(wfdberror()), text_after_open) << "reading recorded a text";
        const json &annotations = expected["annotations"];
        EXPECT_EQ(as_json(read.annotations, 0, annotations.size()), annotations);
        if (!expected["complete"].get<bool>()) {
            const json &tail = expected["tail"];
            EXPECT_EQ(as_json(read.annotations, count - tail.size(), count), tail);
        }
        EXPECT_EQ(sums_of(read.annotations), expected["sums"]);
        expect_codes(expected["codes_after_read"], "after reading");

        check_seeks(expected["iannsettime"], annotations, count);
    }

    const ExpectedRecord record_;
};

TEST_P(SharedAnnotations, MatchTheReferenceWithinTheDeliberateDifferences) {
    const ExpectedRecord &record = record_;
    json expected = sigtrove::testing::load_expected(record);
    sigtrove::testing::WorkingDirectory cwd(record.folder);
    sigtrove::testing::EnvironmentVariable wfdb("WFDB", ".");

    expect_codes(expected["codes_before_annopen"], "before any open");
    std::string reference_text_before;
    for (const json &annotator : expected["annotators"]) {
        check_annotator(annotator, reference_text_before);
        reference_text_before = annotator["iannsettime"].back()["wfdberror"];
    }
    expect_codes(expected["codes_after_all_annotators"], "after every annotator");

    const json &errors = expected["errors"];
    for (const char *key : {"annopen_nonexistent", "annopen_nonexistent_aha"}) {
        SCOPED_TRACE(key);
        int stat = std::string(key).ends_with("_aha") ? WFDB_AHA_READ : WFDB_READ;
        EXPECT_EQ(open("nosuchann", stat), errors[key]["ret"].get<int>());
        EXPECT_EQ(std::string(wfdberror()), errors[key]["wfdberror"].get<std::string>());
        WFDB_Annotation annotation{};
        EXPECT_EQ(getann(0, &annotation), -2);  // the failed open closed what was open
    }
    EXPECT_EQ(open("nosuchann", WFDB_READ, "+"), errors["annopen_plus_nonexistent"]["ret"].get<int>());
    EXPECT_EQ(std::string(wfdberror()), errors["annopen_plus_nonexistent"]["wfdberror"].get<std::string>());
}

INSTANTIATE_TEST_SUITE_P(Records, SharedAnnotations, ::testing::ValuesIn(records_with_annotators),
                         [](const auto &info) { return sigtrove::testing::test_name_of(expected_record(info.param)); });

TEST(SharedAnnotationRecords, EveryRecordWithAnnotatorsIsChecked) {
    std::vector<std::string> with_annotators;
    for (const ExpectedRecord &record : sigtrove::testing::expected_records()) {
        json expected = sigtrove::testing::load_expected(record);
        if (expected.contains("annotators") && !expected["annotators"].empty()) {
            with_annotators.push_back(record.json_path);
        }
    }
    EXPECT_EQ(records_with_annotators, with_annotators);
}

}  // namespace
