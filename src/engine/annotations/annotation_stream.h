// Buffered, seekable reading of the bytes of one open annotation file.
#ifndef SIGTROVE_ENGINE_ANNOTATION_STREAM_H
#define SIGTROVE_ENGINE_ANNOTATION_STREAM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "io/byte_source.h"

namespace sigtrove::engine {

class AnnotationStream {
public:
    // Reads `source`. Throws std::bad_alloc.
    explicit AnnotationStream(ByteSourcePtr source);
    AnnotationStream(const AnnotationStream &) = delete;
    AnnotationStream &operator=(const AnnotationStream &) = delete;

    // Each of these fails (returns false, consuming nothing) when fewer than
    // COUNT bytes remain in the file. COUNT is at most max_step: annotation
    // records and their texts are never longer.
    bool read(uint8_t *out, size_t count);
    bool peek(uint8_t *out, size_t count);
    bool skip(size_t count);

    // Offset of the next byte to be read, from the start of the file.
    long offset() const { return buffer_offset_ + static_cast<long>(next_); }
    bool seek(long offset);
    // True when the last shortfall was a read error rather than the end of the file.
    bool failed() const { return failed_; }
    // " (reason)" to add to the text of a read error, "" when the source gives none.
    std::string failure_suffix() const { return engine::failure_suffix(*source_); }

    static constexpr size_t max_step = 1024;

private:
    // Makes COUNT unread bytes available in the buffer; false at the end of the file.
    bool peek_through(size_t count);

    static constexpr size_t capacity = 64 * 1024;
    ByteSourcePtr source_;
    std::unique_ptr<uint8_t[]> buffer_;
    bool failed_ = false;
    size_t next_ = 0;         // index of the next unread byte in buffer_
    size_t end_ = 0;          // number of valid bytes in buffer_
    long buffer_offset_ = 0;  // file offset of buffer_[0]
};

}  // namespace sigtrove::engine

#endif
