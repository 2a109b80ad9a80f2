#include "paths/path_search.h"

#include <sys/stat.h>

#include <cstring>
#include <initializer_list>

#include "paths/database_path.h"

namespace sigtrove::engine {
namespace {

// The file opener refuses any name with "..", so no lookup can climb out of the database.
bool is_refused_name(const std::string &name) { return name.find("..") != std::string::npos; }

// A candidate counts as found when it is a readable file that is not a directory.
bool is_readable_file(const std::string &name) {
    if (is_refused_name(name)) return false;
    std::FILE *file = std::fopen(name.c_str(), "rb");
    if (!file) return false;
    struct stat info {};
    bool regular = fstat(fileno(file), &info) == 0 && !S_ISDIR(info.st_mode);
    std::fclose(file);
    return regular;
}

// Tries each name after each prefix of the path, in path order; the first found wins
// and its directory is learned.
template <typename Names>
std::string search_path(const Names &names) {
    std::vector<PathComponent> path = database_path();
    for (const PathComponent &component : path) {
        if (is_remote_component(component)) continue;
        std::string prefix = component_prefix(component);
        for (const std::string &name : names) {
            if (name.empty()) continue;
            std::string candidate = prefix + name;
            if (is_readable_file(candidate)) {
                learn_directory_of(candidate);
                return candidate;
            }
        }
    }
    return "";
}

bool is_url(const std::string &name) { return name.rfind("http://", 0) == 0 || name.rfind("https://", 0) == 0; }

}  // namespace

std::string record_name_for_open(const char *name, bool *keep_open) {
    if (!name) return "";
    std::string own(name);
    if (keep_open) {
        *keep_open = !own.empty() && own[0] == '+';
        if (*keep_open) own.erase(0, 1);
    }
    if (own.size() > 4 && own.compare(own.size() - 4, 4, ".hea") == 0) own.resize(own.size() - 4);
    return own;
}

std::string record_lookup_name(const std::string &record) {
    if (record.empty() || record.back() != '/') return record;
    std::string dirs = record.substr(0, record.size() - 1);
    size_t slash = dirs.find_last_of('/');
    return record + (slash == std::string::npos ? dirs : dirs.substr(slash + 1));
}

std::string find_record_file(const std::string &record, const std::string &type) {
    std::string name = record_lookup_name(record);
    set_path_record_name(name);
    if (name.empty() || is_url(name)) return "";  // remote records are not read
    std::string full = name + "." + type;
    std::string truncated = name + "." + type.substr(0, 3);
    if (truncated == full) truncated.clear();
    return search_path(std::initializer_list<std::string>{full, truncated});
}

std::string find_signal_file(const std::string &fname) {
    if (fname.empty() || is_url(fname)) return "";
    return search_path(std::initializer_list<std::string>{fname, fname + "."});
}

std::FILE *open_for_reading(const std::string &path) {
    if (path.empty() || is_refused_name(path)) return nullptr;
    return std::fopen(path.c_str(), "rb");
}

std::vector<std::string> database_path_components() {
    std::vector<std::string> texts;
    for (const PathComponent &component : database_path()) texts.push_back(component.text);
    return texts;
}

}  // namespace sigtrove::engine
