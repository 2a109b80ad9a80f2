#include "signals/signal_file.h"

#include <cstring>

namespace sigtrove::engine {

SignalFile::SignalFile(ByteSourcePtr source, std::size_t block_size)
    : source_(std::move(source)), buffer_(block_size) {}

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
        long long got = source_->read(buffer_.data() + end_, buffer_.size() - end_);
        if (got < 0) failed_ = true;
        if (got <= 0) break;
        end_ += static_cast<std::size_t>(got);
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
    if (!source_->seek(offset)) return false;
    buffer_start_ = offset;
    begin_ = end_ = 0;
    failed_ = false;
    return true;
}

}  // namespace sigtrove::engine
