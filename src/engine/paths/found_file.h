// A file found along a search path, open for reading: looking a file up opens it
// once, and the same handle is then read, so a lookup never opens a file twice.
#ifndef SIGTROVE_ENGINE_FOUND_FILE_H
#define SIGTROVE_ENGINE_FOUND_FILE_H

#include <cstdio>
#include <memory>
#include <string>

namespace sigtrove::engine {

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct FoundFile {
    std::string path;  // as found: the prefix that matched followed by the name
    FileHandle file;   // open for reading in binary mode; null when nothing was found

    explicit operator bool() const { return file != nullptr; }
};

}  // namespace sigtrove::engine

#endif
