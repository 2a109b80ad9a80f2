#include "annotations/annotation_stream.h"

#include <cstring>

namespace sigtrove::engine {

AnnotationStream::AnnotationStream(ByteSourcePtr source) : source_(std::move(source)), buffer_(new uint8_t[capacity]) {}

bool AnnotationStream::peek_through(size_t count) {
    if (end_ - next_ >= count) return true;
    if (count > max_step) return false;
    size_t kept = end_ - next_;
    std::memmove(buffer_.get(), buffer_.get() + next_, kept);
    buffer_offset_ += static_cast<long>(next_);
    next_ = 0;
    end_ = kept;
    while (end_ < count) {
        long long got = source_->read(buffer_.get() + end_, capacity - end_);
        if (got < 0) failed_ = true;
        if (got <= 0) return false;
        end_ += static_cast<size_t>(got);
    }
    return true;
}

bool AnnotationStream::read(uint8_t *out, size_t count) {
    if (!peek_through(count)) return false;
    std::memcpy(out, buffer_.get() + next_, count);
    next_ += count;
    return true;
}

bool AnnotationStream::peek(uint8_t *out, size_t count) {
    if (!peek_through(count)) return false;
    std::memcpy(out, buffer_.get() + next_, count);
    return true;
}

bool AnnotationStream::skip(size_t count) {
    if (!peek_through(count)) return false;
    next_ += count;
    return true;
}

bool AnnotationStream::seek(long offset) {
    if (offset < 0) return false;
    // A target inside the buffer needs no file access.
    if (offset >= buffer_offset_ && offset <= buffer_offset_ + static_cast<long>(end_)) {
        next_ = static_cast<size_t>(offset - buffer_offset_);
        return true;
    }
    failed_ = false;
    if (!source_->seek(offset)) return false;
    buffer_offset_ = offset;
    next_ = end_ = 0;
    return true;
}

}  // namespace sigtrove::engine
