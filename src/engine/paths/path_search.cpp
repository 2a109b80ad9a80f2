#include "paths/path_search.h"

#include <cstring>

#include "io/local_file.h"

namespace sigtrove::engine {
namespace {

// The file opener refuses any name with "..", so no lookup can climb out of the database.
bool is_refused_name(const std::string &name) { return name.find("..") != std::string::npos; }

// Opens a candidate that is a readable file and not a directory.
ByteSourcePtr open_readable_file(const std::string &name) {
    if (is_refused_name(name)) return nullptr;
    return open_local_file(name);
}

// The prefix made absolute: relative ones are taken from `base`, as the working
// directory of the moment `base` was taken would have read them.
std::string anchored(const std::string &prefix, const std::string &name, const std::string &base) {
    if (base.empty() || (!prefix.empty() && prefix[0] == '/') || (prefix.empty() && !name.empty() && name[0] == '/'))
        return prefix;
    return base + "/" + prefix;
}

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

bool is_url(std::string_view name) { return name.rfind("http://", 0) == 0 || name.rfind("https://", 0) == 0; }

std::vector<std::string> record_file_names(const std::string &lookup_name, const std::string &type) {
    std::string full = lookup_name + "." + type;
    std::string truncated = lookup_name + "." + type.substr(0, 3);
    if (truncated == full) return {full};
    return {full, truncated};
}

std::vector<std::string> signal_file_names(const std::string &fname) { return {fname, fname + "."}; }

FoundFile search_path(std::vector<PathComponent> &path, std::string_view record_name, const std::string &base,
                      const std::vector<std::string> &names, bool learn) {
    for (const PathComponent &component : path) {
        if (is_remote_component(component)) continue;
        std::string prefix = component_prefix(component, record_name);
        for (const std::string &name : names) {
            if (name.empty()) continue;
            std::string candidate = anchored(prefix, name, base) + name;
            ByteSourcePtr source = open_readable_file(candidate);
            if (!source) continue;
            if (learn) learn_directory(path, candidate);
            return FoundFile{std::move(candidate), std::move(source), {}};
        }
    }
    return FoundFile{};
}

FoundFile open_record_file(const std::string &record, const std::string &type) {
    std::string name = record_lookup_name(record);
    set_path_record_name(name);
    if (name.empty() || is_url(name)) return FoundFile{};  // remote records are not read here
    std::vector<PathComponent> path = database_path();
    FoundFile found = search_path(path, path_record_name(name), "", record_file_names(name, type), false);
    if (found) learn_directory_of(found.path);
    return found;
}

std::string find_record_file(const std::string &record, const std::string &type) {
    return open_record_file(record, type).path;
}

FoundFile open_signal_file(const std::string &fname) {
    if (fname.empty() || is_url(fname)) return FoundFile{};
    std::vector<PathComponent> path = database_path();
    // %r stands for the record looked up last, as the header's lookup left it.
    FoundFile found = search_path(path, current_path_record_name(), "", signal_file_names(fname), false);
    if (found) learn_directory_of(found.path);
    return found;
}

std::string find_signal_file(const std::string &fname) { return open_signal_file(fname).path; }

std::vector<std::string> database_path_components() {
    std::vector<std::string> texts;
    for (const PathComponent &component : database_path()) texts.push_back(component.text);
    return texts;
}

}  // namespace sigtrove::engine
