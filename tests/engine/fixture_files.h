// Helpers for tests that need files on disk and a controlled process environment:
// a temporary directory, small files written into it, a working-directory switch
// and environment variables restored when the test ends.
#ifndef SIGTROVE_TESTS_FIXTURE_FILES_H
#define SIGTROVE_TESTS_FIXTURE_FILES_H

#include <optional>
#include <string>

namespace sigtrove::testing {

// A fresh directory under the system's temporary directory, removed with everything
// in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string &relative) const { return path_ + "/" + relative; }

    // Writes a file (relative to the directory), creating its parent directories.
    std::string write(const std::string &relative, const std::string &contents) const;
    // Creates a directory (and its parents) relative to this one.
    std::string make_dir(const std::string &relative) const;

private:
    std::string path_;
};

// Writes `contents` to `path` byte for byte, as a new file (replacing any old one).
void write_file(const std::string &path, const std::string &contents);

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string &path);

// Changes the working directory for the lifetime of the object.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string &path);
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory &) = delete;
    WorkingDirectory &operator=(const WorkingDirectory &) = delete;

private:
    std::string previous_;
};

// Sets (or, with nullopt, unsets) an environment variable for the lifetime of the object.
class EnvironmentVariable {
public:
    EnvironmentVariable(std::string name, const std::optional<std::string> &value);
    ~EnvironmentVariable();
    EnvironmentVariable(const EnvironmentVariable &) = delete;
    EnvironmentVariable &operator=(const EnvironmentVariable &) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};

}  // namespace sigtrove::testing

#endif
