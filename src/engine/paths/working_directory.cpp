#include "paths/working_directory.h"

#include <filesystem>
#include <system_error>

namespace sigtrove::engine {

std::string current_working_directory() {
    std::error_code error;
    std::filesystem::path path = std::filesystem::current_path(error);
    return error ? std::string() : path.string();
}

WorkingDirectoryVisit::WorkingDirectoryVisit(const std::string &directory) {
    if (directory.empty()) return;
    std::string current = current_working_directory();
    if (current == directory) return;
    // Without knowing where it stands, a visit could not return: it is not made.
    if (current.empty()) {
        entered_ = false;
        return;
    }
    std::error_code error;
    std::filesystem::current_path(directory, error);
    entered_ = !error;
    if (entered_) previous_ = current;
}

WorkingDirectoryVisit::~WorkingDirectoryVisit() {
    if (previous_.empty()) return;
    std::error_code error;
    std::filesystem::current_path(previous_, error);
}

}  // namespace sigtrove::engine
