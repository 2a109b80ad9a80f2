// A file being written: created under a temporary name in its destination
// folder, buffered, written out whole, and only then given its own name, so
// that no reader ever finds a file of that name half written. A file that is
// not put in place (a failure, an interruption) is removed when the object goes.
// Files are not synced to the disk (no fsync), as no other writer of these
// formats syncs them: a rename stands for a complete file, not a durable one.
#ifndef SIGTROVE_ENGINE_OUTPUT_FILE_H
#define SIGTROVE_ENGINE_OUTPUT_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "errors/status.h"

namespace sigtrove::engine {

// Which file a name stands for, as the file system tells it: two names of one
// file (a link, another spelling of the path) have the same identity.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileIdentity &other) const { return device == other.device && inode == other.inode; }
};

// The identity of an existing file; false when nothing is there.
bool file_identity(const std::string &path, FileIdentity &out);

class OutputFile {
public:
    // Creates DIRECTORY/.NAME.XXXXXX (hidden, and unique) for writing; the file
    // becomes DIRECTORY/NAME at put_in_place().
    static Status create(const std::string &directory, const std::string &name, std::unique_ptr<OutputFile> &out);

    // Removes the temporary file unless it was put in place.
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    Status write(const void *data, std::size_t size);
    Status write(const std::vector<std::uint8_t> &bytes) { return write(bytes.data(), bytes.size()); }
    // Moves the write position (what is buffered goes out first); for encoders
    // that fill in a stream's header when they finish.
    Status seek(long long offset);
    long long position() const { return position_; }

    // Writes out what is buffered and closes the file.
    Status finish();

    // Gives the finished file its name. Without `replace`, a file of that name
    // that appeared meanwhile is kept and the call fails.
    Status put_in_place(bool replace);

    const std::string &path() const { return path_; }  // the final name, with its folder
    const std::string &name() const { return name_; }

private:
    OutputFile(std::string directory, std::string name, std::string temporary, int fd);
    Status write_all(const std::uint8_t *bytes, std::size_t size);
    Status flush();
    Status failure(const char *doing) const;

    std::string directory_, name_, path_, temporary_;
    int fd_;
    bool placed_ = false;
    long long position_ = 0;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace sigtrove::engine

#endif
