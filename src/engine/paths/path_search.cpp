#include "paths/path_search.h"

#include <cstring>

#include "io/local_file.h"
#include "network/remote_location.h"
#include "network/url_text.h"

namespace sigtrove::engine {
namespace {

// The file opener refuses any name with "..", so no lookup can climb out of the database.
bool is_refused_name(const std::string &name) { return name.find("..") != std::string::npos; }

// Opens a candidate that is a readable regular file, on disk or on a web server.
// A remote candidate that can not be fetched, and a local one that is there but
// is no regular file, leave their reason in the result (with no source).
FoundFile open_candidate(std::string candidate, RemoteAccess access) {
    FoundFile found;
    if (is_refused_name(candidate)) return found;
    if (is_url(candidate)) {
        RemoteOpening opening = open_remote_file(candidate, access);
        found.source = std::move(opening.source);
        found.failure = std::move(opening.failure);
    } else {
        // Something there that is no regular file (a FIFO, a device) ends the search with its reason.
        found.source = open_local_file(candidate, &found.failure);
    }
    if (found.source || !found.failure.empty()) found.path = std::move(candidate);
    return found;
}

// The prefix made absolute: relative ones are taken from `base`, as the working
// directory of the moment `base` was taken would have read them. URLs stand as they are.
std::string anchored(const std::string &prefix, const std::string &name, const std::string &base) {
    if (base.empty() || (!prefix.empty() && prefix[0] == '/') || (prefix.empty() && !name.empty() && name[0] == '/') ||
        is_url(prefix))
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

bool is_url(std::string_view name) { return is_remote_name(name); }

bool FoundFile::remote_failure() const { return !failure.empty() && is_url(path); }

std::vector<std::string> record_file_names(const std::string &lookup_name, const std::string &type) {
    std::string full = lookup_name + "." + type;
    std::string truncated = lookup_name + "." + type.substr(0, 3);
    if (truncated == full) return {full};
    return {full, truncated};
}

std::vector<std::string> signal_file_names(const std::string &fname) { return {fname, fname + "."}; }

FoundFile search_path(std::vector<PathComponent> &path, std::string_view record_name, const std::string &base,
                      const std::vector<std::string> &names, bool learn, RemoteAccess access) {
    for (const PathComponent &component : path) {
        std::string prefix = component_prefix(component, record_name);
        for (const std::string &name : names) {
            if (name.empty()) continue;
            FoundFile found = open_candidate(anchored(prefix, name, base) + name, access);
            // A location that can not be reached ends the search: a later one must not stand in for it.
            if (!found.failure.empty()) return found;
            if (!found) continue;
            if (learn) learn_directory(path, found.path);
            return found;
        }
    }
    return FoundFile{};
}

FoundFile open_url_file(const std::vector<std::string> &names, RemoteAccess access) {
    for (const std::string &name : names) {
        FoundFile found = open_candidate(name, access);
        if (found || !found.failure.empty()) return found;
    }
    return FoundFile{};
}

FoundFile open_record_file(const std::string &record, const std::string &type) {
    std::string name = record_lookup_name(record);
    set_path_record_name(name);
    if (name.empty()) return FoundFile{};
    // A record named by its URL is read from there, never along the path.
    if (is_url(name)) return open_url_file(record_file_names(name, type), RemoteAccess::from_start);
    std::vector<PathComponent> path = database_path();
    FoundFile found =
        search_path(path, path_record_name(name), "", record_file_names(name, type), false, RemoteAccess::from_start);
    if (found) learn_directory_of(found.path);
    return found;
}

std::string find_record_file(const std::string &record, const std::string &type) {
    FoundFile found = open_record_file(record, type);
    return found ? found.path : std::string();
}

FoundFile open_signal_file(const std::string &fname) {
    if (fname.empty()) return FoundFile{};
    if (is_url(fname)) return open_url_file(signal_file_names(fname), RemoteAccess::blockwise);
    std::vector<PathComponent> path = database_path();
    // %r stands for the record looked up last, as the header's lookup left it.
    FoundFile found =
        search_path(path, current_path_record_name(), "", signal_file_names(fname), false, RemoteAccess::blockwise);
    if (found) learn_directory_of(found.path);
    return found;
}

std::string find_signal_file(const std::string &fname) {
    FoundFile found = open_signal_file(fname);
    return found ? found.path : std::string();
}

std::vector<std::string> database_path_components() {
    std::vector<std::string> texts;
    for (const PathComponent &component : database_path()) texts.push_back(component.text);
    return texts;
}

}  // namespace sigtrove::engine
