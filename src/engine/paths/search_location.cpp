#include "paths/search_location.h"

#include <filesystem>
#include <system_error>

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

SearchLocation SearchLocation::remote(const std::string &directory_url, const std::string &record) {
    SearchLocation location;
    location.path_.push_back(PathComponent{directory_url, true});
    location.record_name_ = path_record_name(record_lookup_name(record));
    return location;
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
    if (is_url(name)) return open_url_file(record_file_names(name, type), RemoteAccess::from_start);
    return search_path(path_, record_name_, base_, record_file_names(name, type), true, RemoteAccess::from_start);
}

FoundFile SearchLocation::open_signal_file(const std::string &fname) {
    if (fname.empty()) return FoundFile{};
    if (is_url(fname)) return open_url_file(signal_file_names(fname), RemoteAccess::anywhere);
    return search_path(path_, record_name_, base_, signal_file_names(fname), true, RemoteAccess::anywhere);
}

std::string SearchLocation::absolute(const std::string &found) const {
    if (found.empty() || found[0] == '/' || base_.empty() || is_url(found)) return found;
    return base_ + "/" + found;
}

}  // namespace sigtrove::engine
