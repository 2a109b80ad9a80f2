// One signal file of an open record, shared by every group stored in it. A
// local file is opened when it is first read and closed when its last reader
// goes; a file on a web server is the remote source its lookup opened. Reads
// name their offset (each group keeps its own position), so groups never
// disturb one another's place in a shared file.
#ifndef SIGTROVE_ENGINE_SIGNAL_FILE_HANDLE_H
#define SIGTROVE_ENGINE_SIGNAL_FILE_HANDLE_H

#include <cstddef>
#include <memory>
#include <string>

#include "io/byte_source.h"

namespace sigtrove::engine {

class SignalFileHandle {
public:
    // A handle for the local file at `path` (absolute, or relative to the working
    // directory of the moment of the first read); nothing is opened yet.
    explicit SignalFileHandle(std::string path) : path_(std::move(path)) {}
    // A handle over a source opened already (a file on a web server).
    explicit SignalFileHandle(ByteSourcePtr source) : source_(std::move(source)) {}
    ~SignalFileHandle();
    SignalFileHandle(const SignalFileHandle &) = delete;
    SignalFileHandle &operator=(const SignalFileHandle &) = delete;

    // Reads up to `size` bytes at `offset`: how many were read (0 at the end of
    // the file), or -1 when the file can not be opened or read.
    long long read_at(void *dest, std::size_t size, long long offset);

    // Reads `size` bytes at `offset` unless the file ends first: how many were
    // read, or -1 when the file can not be opened or read.
    long long read_fully(void *dest, std::size_t size, long long offset);

    // The file's size in bytes, or -1 when it is not a regular file (or can not be opened).
    long long size();

    // The next reads will take the `bytes` bytes at `offset` (a file on a web server asks for them at once).
    void expect(long long offset, long long bytes) {
        if (source_) source_->expect(offset, bytes);
    }

    // Opens the file now, if it is not open yet; false when it can not be.
    bool open();
    const std::string &path() const { return path_; }

    // Why the last read failed, for texts: "" for a local file (whose texts name
    // no cause), "URL: reason" for a remote one.
    std::string failure() const { return source_ ? source_->failure() : std::string(); }

private:
    std::string path_;
    int fd_ = -1;
    ByteSourcePtr source_;
};

}  // namespace sigtrove::engine

#endif
