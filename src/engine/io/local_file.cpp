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

}  // namespace

ByteSourcePtr open_local_file(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<LocalFile>(fd);
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
