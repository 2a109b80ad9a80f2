#include "signals/signal_file.h"

#include <sys/stat.h>

#include <cstring>

namespace sigtrove::engine {

SignalFile::SignalFile(std::FILE *stream, std::size_t block_size) : stream_(stream), buffer_(block_size) {
    // Our own buffer already holds whole blocks; a second copy inside stdio would only cost time.
    std::setvbuf(stream_, nullptr, _IONBF, 0);
}

SignalFile::~SignalFile() {
    if (stream_) std::fclose(stream_);
}

std::size_t SignalFile::fill(std::size_t wanted) {
    if (available() >= wanted || failed_) return available();
    // Keep the unread tail (less than one packing unit in practice) and read after it.
    std::size_t tail = available();
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, tail);
        buffer_start_ += static_cast<long long>(begin_);
        begin_ = 0;
        end_ = tail;
    }
    while (end_ < wanted) {
        std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, stream_);
        end_ += got;
        if (got == 0) {
            if (std::ferror(stream_)) failed_ = true;
            break;
        }
    }
    return available();
}

bool SignalFile::seek(long long offset) {
    if (offset < 0) return false;
    // A target inside the bytes already buffered needs no system call (short seeks back and forth).
    if (!failed_ && offset >= buffer_start_ && offset <= buffer_start_ + static_cast<long long>(end_)) {
        begin_ = static_cast<std::size_t>(offset - buffer_start_);
        return true;
    }
    std::clearerr(stream_);
    if (fseeko(stream_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    buffer_start_ = offset;
    begin_ = end_ = 0;
    failed_ = false;
    return true;
}

long long SignalFile::size() const {
    struct stat info;
    if (fstat(fileno(stream_), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long long>(info.st_size);
}

}  // namespace sigtrove::engine
