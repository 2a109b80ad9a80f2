#include "io/local_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace sigtrove::engine {
namespace {

// Reads with one system call per request: callers read in large blocks of their own.
class LocalFile final : public ByteSource {
public:
    explicit LocalFile(int fd) : fd_(fd) {}
    ~LocalFile() override { ::close(fd_); }
    LocalFile(const LocalFile &) = delete;
    LocalFile &operator=(const LocalFile &) = delete;

    long long read(std::uint8_t *dest, std::size_t size) override {
        if (size > static_cast<std::size_t>(SSIZE_MAX)) size = static_cast<std::size_t>(SSIZE_MAX);
        for (;;) {
            ssize_t got = ::read(fd_, dest, size);
            if (got >= 0) {
                position_ += got;
                return got;
            }
            if (errno != EINTR) return -1;
        }
    }

    bool seek(long long offset) override {
        if (offset < 0 || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return false;
        position_ = offset;
        return true;
    }

    long long position() const override { return position_; }

    long long size() override {
        struct stat info{};
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
        return static_cast<long long>(info.st_size);
    }

    std::string failure() const override { return {}; }

private:
    int fd_;
    long long position_ = 0;
};

// "PATH is a FIFO, not a regular file", for what is there but is no regular file.
std::string refusal_text(const std::string &path, mode_t mode) {
    const char *kind = S_ISDIR(mode)    ? "a directory"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                                        : "something else";
    return path + " is " + kind + ", not a regular file";
}

}  // namespace

LocalOpening open_regular_file(const std::string &path) {
    LocalOpening opening;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        // A socket can not be opened at all: say what it is rather than nothing.
        struct stat info{};
        if ((errno == ENXIO || errno == EOPNOTSUPP) && ::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
            opening.refusal = refusal_text(path, info.st_mode);
        return opening;
    }
    struct stat info{};
    if (::fstat(fd, &info) != 0) {
        ::close(fd);
        return opening;
    }
    if (!S_ISREG(info.st_mode)) {
        opening.refusal = refusal_text(path, info.st_mode);
        ::close(fd);
        return opening;
    }
    // Reads of a regular file wait for the disk as they should.
    int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        ::close(fd);
        return opening;
    }
    opening.fd = fd;
    return opening;
}

ByteSourcePtr open_local_file(const std::string &path, std::string *refusal) {
    LocalOpening opening = open_regular_file(path);
    if (refusal) *refusal = std::move(opening.refusal);
    if (opening.fd < 0) return nullptr;
    return std::make_unique<LocalFile>(opening.fd);
}

ByteSourcePtr adopt_file_descriptor(int fd) {
    if (fd < 0) return nullptr;
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<LocalFile>(fd);
}

}  // namespace sigtrove::engine
