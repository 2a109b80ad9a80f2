#include "io/signal_file.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace sigtrove::engine {
namespace {

// What the file buffers of one record may take together, and the least one buffer holds.
constexpr std::size_t kRecordBufferBudget = 4u << 20;
constexpr std::size_t kSmallestBlock = 512;
constexpr long long kPage = 4096;

}  // namespace

std::size_t signal_file_block_size(std::size_t groups) {
    return std::clamp(kRecordBufferBudget / std::max<std::size_t>(groups, 1), kSmallestBlock, SignalFile::kBlockSize);
}

SignalFile::SignalFile(std::shared_ptr<SignalFileHandle> file, std::size_t block_size)
    : file_(std::move(file)), block_size_(std::max<std::size_t>(block_size, 16)) {}

void SignalFile::make_room(std::size_t wanted) {
    if (buffer_.size() >= block_size_) return;
    // No larger than what is left of the file from here, yet room for what is wanted.
    long long file_size = file_->size();
    long long next = buffer_start_ + static_cast<long long>(begin_);
    long long left = file_size < 0 ? static_cast<long long>(block_size_) : std::max(0LL, file_size - next);
    if (read_end_ >= 0) left = std::min(left, std::max(0LL, read_end_ - next));
    std::size_t size = std::clamp<std::size_t>(static_cast<std::size_t>(std::min<long long>(left, block_size_)),
                                               std::min(wanted, block_size_), block_size_);
    if (size > buffer_.size()) buffer_.resize(size);
}

std::size_t SignalFile::fill(std::size_t wanted) {
    if (available() >= wanted || failed_) return available();
    make_room(wanted);
    // Keep the unread tail (less than one packing unit in practice) and read after it.
    std::size_t tail = available();
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, tail);
        buffer_start_ += static_cast<long long>(begin_);
        begin_ = 0;
        end_ = tail;
    }
    // While expected bytes are announced, read up to their end and no further.
    std::size_t limit = buffer_.size();
    if (read_end_ >= 0 && read_end_ - buffer_start_ < static_cast<long long>(limit))
        limit = std::max(wanted, static_cast<std::size_t>(std::max(0LL, read_end_ - buffer_start_)));
    limit = std::min(limit, buffer_.size());
    while (end_ < wanted && end_ < limit) {
        long long got =
            file_->read_at(buffer_.data() + end_, limit - end_, buffer_start_ + static_cast<long long>(end_));
        if (got < 0) failed_ = true;
        if (got <= 0) break;
        end_ += static_cast<std::size_t>(got);
    }
    if (read_end_ >= 0 && buffer_start_ + static_cast<long long>(end_) >= read_end_) read_end_ = -1;
    return available();
}

void SignalFile::expect(long long bytes) {
    long long next = buffer_start_ + static_cast<long long>(begin_);
    if (bytes <= 0 || bytes > LLONG_MAX - next - kPage) {
        read_end_ = -1;
        return;
    }
    read_end_ = (next + bytes + kPage - 1) / kPage * kPage;
    // What is buffered already may cover it.
    const long long fetched = buffer_start_ + static_cast<long long>(end_);
    if (read_end_ <= fetched) {
        read_end_ = -1;
        return;
    }
    file_->expect(fetched, read_end_ - fetched);
}

bool SignalFile::seek(long long offset) {
    if (offset < 0) return false;
    // A target inside the bytes already buffered keeps them (short seeks back and forth).
    if (!failed_ && offset >= buffer_start_ && offset <= buffer_start_ + static_cast<long long>(end_)) {
        begin_ = static_cast<std::size_t>(offset - buffer_start_);
        return true;
    }
    buffer_start_ = offset;
    begin_ = end_ = 0;
    read_end_ = -1;
    failed_ = false;
    return true;
}

}  // namespace sigtrove::engine
