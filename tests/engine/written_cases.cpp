#include "written_cases.h"

#include <fstream>
#include <sstream>

#include "fixture_files.h"

namespace sigtrove::testing {
namespace {

nlohmann::json cases() {
    std::ifstream in(written_path("", "cases.json"));
    return nlohmann::json::parse(in);
}

}  // namespace

std::string written_path(const std::string &folder, const std::string &file) {
    std::string base = std::string(SIGTROVE_FIXTURES) + "/written/";
    return folder.empty() ? base + file : base + folder + "/" + file;
}

std::vector<WrittenCase> written_record_cases(const std::string &folder) {
    std::vector<WrittenCase> out;
    const nlohmann::json all = cases();
    for (const auto &entry : all["records"])
        if (entry["folder"] == folder) out.push_back({entry["name"], folder, entry});
    return out;
}

std::vector<WrittenCase> written_annotation_cases() {
    std::vector<WrittenCase> out;
    const nlohmann::json all = cases();
    for (const auto &entry : all["annotations"]) {
        std::string name = entry["name"];
        for (char &c : name)
            if (c == '.') c = '_';
        out.push_back({name, "annotations", entry});
    }
    return out;
}

std::vector<std::vector<std::string>> split_lines(const std::string &text, char separator) {
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        if (separator == ' ') {
            std::istringstream words(line);
            std::string word;
            while (words >> word) fields.push_back(word);
        } else {
            std::size_t at = 0;
            for (;;) {
                std::size_t next = line.find(separator, at);
                fields.push_back(line.substr(at, next - at));
                if (next == std::string::npos) break;
                at = next + 1;
            }
        }
        if (!fields.empty()) lines.push_back(fields);
    }
    return lines;
}

std::vector<ListedAnnotation> parse_annotation_listing(const std::string &text) {
    std::vector<ListedAnnotation> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        ListedAnnotation a;
        std::size_t tab = line.find('\t');
        if (tab != std::string::npos) {
            a.aux = line.substr(tab + 1);
            line.resize(tab);
        }
        std::size_t from = 0;
        if (line[0] == '[') from = line.find(']') + 1;
        std::istringstream words(line.substr(from));
        std::string time;
        if (from == 0) words >> time;
        words >> a.sample >> a.mnemonic >> a.subtype >> a.chan >> a.num;
        out.push_back(a);
    }
    return out;
}

}  // namespace sigtrove::testing
