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

FoundFile SearchLocation::open_record_file(const std::string &record, const std::string &type) {
    std::string name = record_lookup_name(record);
    record_name_ = path_record_name(name);
    if (name.empty() || is_url(name)) return FoundFile{};
    return search_path(path_, record_name_, base_, record_file_names(name, type), true);
}

FoundFile SearchLocation::open_signal_file(const std::string &fname) {
    if (fname.empty() || is_url(fname)) return FoundFile{};
    return search_path(path_, record_name_, base_, signal_file_names(fname), true);
}

std::string SearchLocation::absolute(const std::string &found) const {
    if (found.empty() || found[0] == '/' || base_.empty()) return found;
    return base_ + "/" + found;
}

}  // namespace sigtrove::engine
