// A signal file read in large blocks: decoders work on the buffered bytes
// directly, so reading costs one read of the source per block, never one per sample.
#ifndef SIGTROVE_ENGINE_SIGNAL_FILE_H
#define SIGTROVE_ENGINE_SIGNAL_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/byte_source.h"

namespace sigtrove::engine {

class SignalFile {
public:
    static constexpr std::size_t kBlockSize = 128 * 1024;

    // Reads `source`; `block_size` is the buffer size in bytes.
    explicit SignalFile(ByteSourcePtr source, std::size_t block_size = kBlockSize);

    // Makes at least `wanted` unread bytes available (wanted <= block size)
    // unless the file ends first or a read fails; returns how many are available.
    std::size_t fill(std::size_t wanted);
    const std::uint8_t *data() const { return buffer_.data() + begin_; }
    std::size_t available() const { return end_ - begin_; }
    void consume(std::size_t n) { begin_ += n; }

    // Positions the next unread byte at `offset` from the start of the file.
    // Returns false when the position can not be reached by a seek.
    bool seek(long long offset);

    // The file's size in bytes, or -1 when it can not be determined.
    long long size() const { return source_->size(); }

    // True once a read has failed (not at end of file), until the next seek.
    bool failed() const { return failed_; }
    // " (reason)" to add to the text of a failure, "" when the source gives none.
    std::string failure_suffix() const { return engine::failure_suffix(*source_); }

private:
    ByteSourcePtr source_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0, end_ = 0;  // unread bytes are buffer_[begin_, end_)
    long long buffer_start_ = 0;       // file offset of buffer_[0]
    bool failed_ = false;
};

}  // namespace sigtrove::engine

#endif
