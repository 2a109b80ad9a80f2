#include "paths/database_path.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "errors/error_state.h"
#include "io/local_file.h"
#include "paths/database_path_choice.h"

namespace sigtrove::engine {
namespace {

// Deeper @file chains are almost certainly a loop.
constexpr int kMaxIndirection = 10;
// Only this much of the record name is kept for %r.
constexpr size_t kMaxRecordNameForPath = 50;

struct PathState {
    std::optional<std::vector<PathComponent>> components;
    std::string record_name;
};

// Opens from several threads look files up along the same path; this guards it.
std::mutex &path_lock() {
    static std::mutex lock;
    return lock;
}

PathState &path_state() {
    static PathState state;
    return state;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A database path file is a line or a few: more than this is no path file.
constexpr std::size_t kMaxPathFile = 1 << 20;

// The whole of a regular file (none for a FIFO or a device, which could block or
// never end, and none past kMaxPathFile).
std::optional<std::string> read_whole_file(const std::string &name) {
    ByteSourcePtr file = open_local_file(name);
    if (!file) return std::nullopt;
    std::string text;
    std::uint8_t chunk[4096];
    for (;;) {
        long long n = file->read(chunk, sizeof chunk);
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > kMaxPathFile) return std::nullopt;
        if (n == 0) return text;
        text.append(reinterpret_cast<const char *>(chunk), static_cast<std::size_t>(n));
    }
}

// Replaces "@file" by the file's contents, as often as the result begins with '@' again.
std::string expand_indirection(std::string value) {
    for (int depth = 0; !value.empty() && value[0] == '@'; ++depth) {
        if (depth == kMaxIndirection) {
            record_error("getwfdb: files nested too deeply\n");
            return "";
        }
        std::string name = value.substr(1);
        std::optional<std::string> contents = read_whole_file(name);
        if (!contents) {
            record_error("getwfdb: can't read database path file %s\n", name.c_str());
            return "";
        }
        while (!contents->empty() && (contents->back() == '\n' || contents->back() == '\r')) contents->pop_back();
        value = std::move(*contents);
    }
    return value;
}

// The first use of the path exports it, and the defaults of the other WFDB
// variables, as the 10.4 series did, so child processes see the same setting.
// WFDBGVMODE is only set when unset, to 0, which is also what an unset variable
// means: whoever reads it afterwards (getvec_mode_from_environment) gets the same
// mode as before the write-back, whatever the order of calls.
void write_back_environment(const std::string &value) {
    setenv("WFDB", value.c_str(), 1);
    setenv("WFDBCAL", "wfdbcal", 0);
    setenv("WFDBANNSORT", "1", 0);
    setenv("WFDBGVMODE", "0", 0);
}

std::vector<PathComponent> components_of(const std::string &value) {
    std::vector<PathComponent> components;
    for (std::string &text : split_database_path(value)) components.push_back({std::move(text), false});
    // An empty path still lets names be used as given (relative to the working directory).
    if (components.empty()) components.push_back({"", false});
    return components;
}

std::vector<PathComponent> load_database_path() {
    std::string value = expand_indirection(database_path_setting());
    write_back_environment(value);
    return components_of(value);
}

// Ends the component starting at `begin`: at a separator that is not part of a URL.
size_t component_end(std::string_view value, size_t begin) {
    bool in_url = false;
    int url_slashes = 0;
    size_t i = begin;
    for (; i < value.size(); ++i) {
        char c = value[i];
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ';') break;
        if (c == '/' && in_url) ++url_slashes;
        if (c == ':') {
            if (value.substr(i + 1, 2) == "//") {
                in_url = true;
                url_slashes = 0;
                continue;
            }
            // The authority part of a URL (host:port) ends at its third '/'.
            if (in_url && url_slashes < 3) continue;
            break;
        }
    }
    return i;
}

// The components, read from WFDB at first use; the caller holds path_lock().
std::vector<PathComponent> &loaded_components() {
    PathState &state = path_state();
    if (!state.components) state.components = load_database_path();
    return *state.components;
}

}  // namespace

std::string database_path_setting() {
    if (std::optional<std::string> chosen = chosen_database_path()) return *chosen;
    const char *env = std::getenv("WFDB");
    return env ? env : kDefaultDatabasePath;
}

std::vector<PathComponent> database_path_of(const std::string &setting) {
    return components_of(expand_indirection(setting));
}

std::vector<std::string> split_database_path(std::string_view value) {
    std::vector<std::string> components;
    size_t p = 0;
    while (true) {
        while (p < value.size() && is_blank(value[p])) ++p;
        if (p >= value.size()) break;
        size_t end = component_end(value, p);
        components.emplace_back(value.substr(p, end - p));
        if (end >= value.size()) break;
        p = end + 1;
    }
    return components;
}

std::vector<PathComponent> database_path() {
    std::lock_guard<std::mutex> guard(path_lock());
    return loaded_components();
}

std::string current_path_record_name() {
    std::lock_guard<std::mutex> guard(path_lock());
    return path_state().record_name;
}

std::string component_prefix(const PathComponent &component) {
    return component_prefix(component, current_path_record_name());
}

std::string component_prefix(const PathComponent &component, std::string_view name) {
    std::string prefix;
    if (component.learned) {
        prefix = component.text;
    } else {
        const std::string &text = component.text;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] != '%') {
                prefix += text[i];
            } else if (i + 1 < text.size() && text[i + 1] == 'r') {
                prefix += name;
                ++i;
            } else if (i + 2 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '9' && text[i + 2] == 'r') {
                prefix += name.substr(0, static_cast<size_t>(text[i + 1] - '0'));
                i += 2;
            } else if (i + 1 < text.size()) {
                prefix += text[i + 1];
                ++i;
            }
        }
    }
    if (!prefix.empty() && prefix.back() != '/') prefix += '/';
    return prefix;
}

std::string path_record_name(std::string_view record) {
    size_t slash = record.find_last_of('/');
    std::string_view last = slash == std::string_view::npos ? record : record.substr(slash + 1);
    return std::string(last.substr(0, kMaxRecordNameForPath));
}

void set_path_record_name(std::string_view record) {
    std::string name = path_record_name(record);
    std::lock_guard<std::mutex> guard(path_lock());
    path_state().record_name = std::move(name);
}

void learn_directory_of(const std::string &found_file) {
    std::lock_guard<std::mutex> guard(path_lock());
    learn_directory(loaded_components(), found_file);
}

void learn_directory(std::vector<PathComponent> &path, const std::string &found_file) {
    size_t slash = found_file.find_last_of('/');
    if (slash == std::string::npos) return;  // found through an empty component: nothing to learn
    std::string dir = slash == 0 ? "/" : found_file.substr(0, slash);
    size_t target = !path.empty() && path[0].text == "." ? 1 : 0;
    if (!path.empty() && path[0].text == dir) return;
    if (target == 1 && path.size() > 1 && path[1].text == dir) return;
    auto same = [&dir](const PathComponent &c) { return c.text == dir; };
    path.erase(std::remove_if(path.begin(), path.end(), same), path.end());
    path.insert(path.begin() + static_cast<long>(std::min(target, path.size())), PathComponent{dir, true});
}

void reset_database_path() {
    std::lock_guard<std::mutex> guard(path_lock());
    path_state() = PathState{};
}

}  // namespace sigtrove::engine
