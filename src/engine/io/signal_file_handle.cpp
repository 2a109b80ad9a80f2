#include "io/signal_file_handle.h"

#include "io/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace sigtrove::engine {

SignalFileHandle::~SignalFileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

bool SignalFileHandle::open() {
    if (source_ || fd_ >= 0) return true;
    // Opened as the lookup opened it: without waiting, and only a regular file
    // (the name may have been replaced by a FIFO since the lookup).
    fd_ = open_regular_file(path_).fd;
    return fd_ >= 0;
}

long long SignalFileHandle::read_at(void *dest, std::size_t size, long long offset) {
    if (!open() || offset < 0) return -1;
    if (source_) {
        if (source_->position() != offset && !source_->seek(offset)) return -1;
        return source_->read(static_cast<std::uint8_t *>(dest), size);
    }
    for (;;) {
        ssize_t got = ::pread(fd_, dest, size, static_cast<off_t>(offset));
        if (got >= 0) return static_cast<long long>(got);
        if (errno != EINTR) return -1;
    }
}

long long SignalFileHandle::read_fully(void *dest, std::size_t size, long long offset) {
    auto *bytes = static_cast<std::uint8_t *>(dest);
    std::size_t got = 0;
    while (got < size) {
        long long n = read_at(bytes + got, size - got, offset + static_cast<long long>(got));
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(got);
}

long long SignalFileHandle::size() {
    if (source_) return source_->size();
    struct stat info;
    if (!open() || fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long long>(info.st_size);
}

}  // namespace sigtrove::engine
