#include "expected_records.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace sigtrove::testing {

namespace fs = std::filesystem;

std::vector<ExpectedRecord> expected_records() {
    const fs::path expected = fs::path(SIGTROVE_FIXTURES) / "expected";
    std::vector<ExpectedRecord> records;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(expected)) {
        if (entry.path().extension() != ".json" || entry.path().filename() == "library.json") continue;
        fs::path relative = fs::relative(entry.path(), expected);
        // The EDF files are read by their own tests (test_edf_records.cpp).
        if (*relative.begin() == "edf") continue;
        ExpectedRecord record;
        record.json_path = relative.string();
        record.folder = (fs::path(SIGTROVE_FIXTURES) / "records" / relative.parent_path()).string();
        record.record = relative.stem().string();
        records.push_back(std::move(record));
    }
    std::sort(records.begin(), records.end(),
              [](const ExpectedRecord &a, const ExpectedRecord &b) { return a.json_path < b.json_path; });
    return records;
}

nlohmann::json load_expected(const ExpectedRecord &record) {
    std::ifstream in(fs::path(SIGTROVE_FIXTURES) / "expected" / record.json_path);
    return nlohmann::json::parse(in);
}

std::string test_name_of(const ExpectedRecord &record) {
    std::string name = fs::path(record.json_path).replace_extension().string();
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

void expect_siginfo_matches(const WFDB_Siginfo &got, const nlohmann::json &want) {
    EXPECT_EQ(got.fname, want["fname"].get<std::string>());
    EXPECT_EQ(got.desc, want["desc"].get<std::string>());
    EXPECT_EQ(got.units ? nlohmann::json(got.units) : nlohmann::json(nullptr), want["units"]);
    EXPECT_EQ(got.gain, want["gain"].get<double>());
    EXPECT_EQ(got.initval, want["initval"].get<int>());
    EXPECT_EQ(got.group, want["group"].get<unsigned>());
    EXPECT_EQ(got.fmt, want["fmt"].get<int>());
    EXPECT_EQ(got.spf, want["spf"].get<int>());
    EXPECT_EQ(got.bsize, want["bsize"].get<int>());
    EXPECT_EQ(got.adcres, want["adcres"].get<int>());
    EXPECT_EQ(got.adczero, want["adczero"].get<int>());
    EXPECT_EQ(got.baseline, want["baseline"].get<int>());
    EXPECT_EQ(got.cksum, want["cksum"].get<int>());
}

}  // namespace sigtrove::testing
