#include "paths/search_location.h"

#include <filesystem>
#include <system_error>

#include "network/url_text.h"
#include "paths/path_search.h"

namespace sigtrove::engine {
namespace {

std::string working_directory() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::current_path(error);
    return error ? std::string() : path.string();
}

}  // namespace

SearchLocation SearchLocation::capture(const std::string &record) {
    SearchLocation location;
    location.path_ = database_path();
    location.base_ = working_directory();
    location.record_name_ = path_record_name(record_lookup_name(record));
    return location;
}

SearchLocation SearchLocation::at(std::vector<PathComponent> path, std::string base, const std::string &record) {
    SearchLocation location;
    location.path_ = std::move(path);
    location.base_ = std::move(base);
    location.record_name_ = path_record_name(record_lookup_name(record));
    return location;
}

SearchLocation SearchLocation::remote(const std::string &directory_url, const std::string &record) {
    SearchLocation location;
    location.path_.push_back(PathComponent{directory_url, true});
    location.remote_directory_ = directory_url;
    location.record_name_ = path_record_name(record_lookup_name(record));
    return location;
}

FoundFile SearchLocation::refused_outside_directory(const std::string &name) const {
    FoundFile refused;
    if (remote_directory_.empty()) return refused;
    // Where the lookup would fetch it: a URL as it stands, any other name in the directory.
    const std::string url = is_url(name) ? name : remote_directory_ + "/" + name;
    if (!url_within_directory(url, remote_directory_)) {
        // Where it would have been fetched from: a refusal of a remote name is a remote failure.
        refused.path = url;
        refused.failure = name + ": not in the record's own directory " + remote_directory_ +
                          " on its server, where a remote record's files must be";
    }
    return refused;
}

SearchLocation SearchLocation::folder(const std::string &directory, const std::string &record) {
    SearchLocation location;
    location.path_.push_back(PathComponent{directory.empty() ? std::string(".") : directory, true});
    location.base_ = working_directory();
    location.record_name_ = path_record_name(record_lookup_name(record));
    return location;
}

FoundFile SearchLocation::open_record_file(const std::string &record, const std::string &type) {
    std::string name = record_lookup_name(record);
    record_name_ = path_record_name(name);
    if (name.empty()) return FoundFile{};
    if (FoundFile refused = refused_outside_directory(name); !refused.failure.empty()) return refused;
    if (is_url(name)) return open_url_file(record_file_names(name, type), RemoteAccess::from_start);
    return search_path(path_, record_name_, base_, record_file_names(name, type), true, RemoteAccess::from_start);
}

FoundFile SearchLocation::open_signal_file(const std::string &fname) {
    if (fname.empty()) return FoundFile{};
    if (FoundFile refused = refused_outside_directory(fname); !refused.failure.empty()) return refused;
    if (is_url(fname)) return open_url_file(signal_file_names(fname), RemoteAccess::blockwise);
    return search_path(path_, record_name_, base_, signal_file_names(fname), true, RemoteAccess::blockwise);
}

std::string SearchLocation::remote_record_file(const std::string &record, const std::string &type) const {
    const std::string name = record_lookup_name(record);
    if (name.empty() || !refused_outside_directory(name).failure.empty()) return "";
    // A URL is fetched where it stands, whatever the location.
    if (is_url(name)) return name + "." + type;
    return remote_directory_.empty() ? "" : remote_directory_ + "/" + name + "." + type;
}

std::string SearchLocation::remote_signal_file(const std::string &fname) const {
    if (fname.empty() || !refused_outside_directory(fname).failure.empty()) return "";
    if (is_url(fname)) return fname;
    return remote_directory_.empty() ? "" : remote_directory_ + "/" + fname;
}

std::string SearchLocation::absolute(const std::string &found) const {
    if (found.empty() || found[0] == '/' || base_.empty() || is_url(found)) return found;
    return base_ + "/" + found;
}

}  // namespace sigtrove::engine
