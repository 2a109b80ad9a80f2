#include "io/output_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace sigtrove::engine {
namespace {

constexpr std::size_t kBufferSize = 1 << 16;

std::string joined(const std::string &directory, const std::string &name) {
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

std::string system_text(int error) { return std::strerror(error); }

// rename() that never replaces DESTINATION: renameat2's RENAME_NOREPLACE where the
// file system has it, else a hard link (which fails on an existing name) and unlink.
int rename_without_replacing(const char *source, const char *destination) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, source, AT_FDCWD, destination, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return -1;
#endif
    if (::link(source, destination) != 0) return -1;
    ::unlink(source);
    return 0;
}

}  // namespace

bool file_identity(const std::string &path, FileIdentity &out) {
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0) return false;
    out = FileIdentity{info.st_dev, info.st_ino};
    return true;
}

OutputFile::OutputFile(std::string directory, std::string name, std::string temporary, int fd)
    : directory_(std::move(directory)),
      name_(std::move(name)),
      path_(joined(directory_, name_)),
      temporary_(std::move(temporary)),
      fd_(fd) {}

Status OutputFile::create(const std::string &directory, const std::string &name, std::unique_ptr<OutputFile> &out) {
    std::string pattern = joined(directory, "." + name + ".XXXXXX");
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    int fd = ::mkostemp(text.data(), O_CLOEXEC);
    if (fd < 0) {
        int error = errno;
        return Status::failure(ErrorKind::unwritable,
                               "sigtrove: can't create " + joined(directory, name) + " (" + system_text(error) + ")\n");
    }
    // What a file written by hand would get: read and write for everyone the umask allows.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    try {
        out.reset(new OutputFile(directory, name, std::string(text.data()), fd));
    } catch (const std::bad_alloc &) {
        ::close(fd);
        ::unlink(text.data());
        throw;
    }
    out->buffer_.reserve(kBufferSize);
    return Status();
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!placed_) ::unlink(temporary_.c_str());
}

Status OutputFile::failure(const char *doing) const {
    return Status::failure(ErrorKind::unwritable,
                           std::string("sigtrove: can't ") + doing + " " + path_ + " (" + system_text(errno) + ")\n");
}

Status OutputFile::write_all(const std::uint8_t *bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t wrote = ::write(fd_, bytes + done, size - done);
        if (wrote < 0) {
            if (errno == EINTR) continue;
            return failure("write");
        }
        done += static_cast<std::size_t>(wrote);
    }
    return Status();
}

Status OutputFile::flush() {
    Status status = write_all(buffer_.data(), buffer_.size());
    buffer_.clear();
    return status;
}

Status OutputFile::write(const void *data, std::size_t size) {
    if (fd_ < 0) return Status::failure(ErrorKind::unwritable, "sigtrove: " + path_ + " is already finished\n");
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    position_ += static_cast<long long>(size);
    if (buffer_.size() + size > kBufferSize) {
        if (Status status = flush(); !status.ok()) return status;
        if (size >= kBufferSize) return write_all(bytes, size);
    }
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return Status();
}

Status OutputFile::seek(long long offset) {
    if (Status status = flush(); !status.ok()) return status;
    if (offset < 0 || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return failure("seek in");
    position_ = offset;
    return Status();
}

Status OutputFile::finish() {
    if (fd_ < 0) return Status();
    if (Status status = flush(); !status.ok()) return status;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return failure("write");
    return Status();
}

Status OutputFile::put_in_place(bool replace) {
    if (Status status = finish(); !status.ok()) return status;
    int rc = replace ? ::rename(temporary_.c_str(), path_.c_str())
                     : rename_without_replacing(temporary_.c_str(), path_.c_str());
    if (rc != 0) {
        if (errno == EEXIST)
            return Status::failure(ErrorKind::exists, "sigtrove: " + path_ + " exists (it is not replaced)\n");
        return failure("write");
    }
    placed_ = true;
    return Status();
}

}  // namespace sigtrove::engine
