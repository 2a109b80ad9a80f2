// The shared records and what the reference library returned for them
// (tests/fixtures/expected), for tests that compare the engine with those outputs.
#ifndef SIGTROVE_TESTS_EXPECTED_RECORDS_H
#define SIGTROVE_TESTS_EXPECTED_RECORDS_H

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "wfdb/wfdb.h"

namespace sigtrove::testing {

struct ExpectedRecord {
    std::string json_path;  // relative to tests/fixtures/expected, e.g. "s25047/x.json"
    std::string folder;     // the record's folder: tests/fixtures/records[/subfolder]
    std::string record;     // the record name as it was opened there
};

// GoogleTest shows a parameter by this; without it, by its bytes, which change from build to build.
inline void PrintTo(const ExpectedRecord &record, std::ostream *out) { *out << record.json_path; }

// Every per-record expected file (library.json excluded), in a stable order.
std::vector<ExpectedRecord> expected_records();

nlohmann::json load_expected(const ExpectedRecord &record);

// A name usable as a GoogleTest parameter name ("s25047_3234460_0001").
std::string test_name_of(const ExpectedRecord &record);

// Expects every field of `got` but nsamp to equal the reference's signal `want`
// (callers check nsamp: multi-segment records report their total length there).
void expect_siginfo_matches(const WFDB_Siginfo &got, const nlohmann::json &want);

}  // namespace sigtrove::testing

#endif
