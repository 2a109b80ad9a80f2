// The cases of tests/fixtures/written: what the field's writers wrote
// from given inputs (cases.json lists them), and the inputs' text forms.
#ifndef SIGTROVE_TESTS_WRITTEN_CASES_H
#define SIGTROVE_TESTS_WRITTEN_CASES_H

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace sigtrove::testing {

struct WrittenCase {
    std::string name;
    std::string folder;  // tests/fixtures/written/FOLDER
    nlohmann::json entry;
};
inline void PrintTo(const WrittenCase &c, std::ostream *out) { *out << c.name; }

// The record cases of one folder ("samples", "xform"), and the annotation cases.
std::vector<WrittenCase> written_record_cases(const std::string &folder);
std::vector<WrittenCase> written_annotation_cases();

// tests/fixtures/written/FOLDER/FILE
std::string written_path(const std::string &folder, const std::string &file);

// The lines of a text, split at SEPARATOR (blank runs when it is ' ').
std::vector<std::vector<std::string>> split_lines(const std::string &text, char separator);

// One annotation as rdann lists it: "TIME SAMPLE MNEMONIC SUB CHAN NUM[\tAUX]"
// (a time of day in brackets may hold a space).
struct ListedAnnotation {
    long long sample = 0;
    std::string mnemonic;
    int subtype = 0, chan = 0, num = 0;
    std::optional<std::string> aux;
};
std::vector<ListedAnnotation> parse_annotation_listing(const std::string &text);

}  // namespace sigtrove::testing

#endif
