#include "fixture_files.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sigtrove::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "sigtrove-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string &relative, const std::string &contents) const {
    std::string full = *this / relative;
    fs::create_directories(fs::path(full).parent_path());
    write_file(full, contents);
    return full;
}

std::string TempDir::make_dir(const std::string &relative) const {
    std::string full = *this / relative;
    fs::create_directories(full);
    return full;
}

void write_file(const std::string &path, const std::string &contents) {
    // A new file rather than a truncated one: truncating is slow on some file systems.
    std::error_code ignored;
    fs::remove(path, ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

WorkingDirectory::WorkingDirectory(const std::string &path) : previous_(fs::current_path().string()) {
    fs::current_path(path);
}

WorkingDirectory::~WorkingDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

EnvironmentVariable::EnvironmentVariable(std::string name, const std::optional<std::string> &value)
    : name_(std::move(name)) {
    if (const char *old = std::getenv(name_.c_str())) previous_ = old;
    if (value)
        setenv(name_.c_str(), value->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

EnvironmentVariable::~EnvironmentVariable() {
    if (previous_)
        setenv(name_.c_str(), previous_->c_str(), 1);
    else
        unsetenv(name_.c_str());
}

}  // namespace sigtrove::testing
