// A signal file read in large blocks: decoders work on the buffered bytes
// directly, so reading costs one system call per block, never one per sample.
// The buffer is allocated at the first read and is never larger than what is
// left of the file (nor than the block size).
#ifndef SIGTROVE_ENGINE_SIGNAL_FILE_H
#define SIGTROVE_ENGINE_SIGNAL_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/signal_file_handle.h"

namespace sigtrove::engine {

class SignalFile {
public:
    static constexpr std::size_t kBlockSize = 128 * 1024;

    // Reads `file` (shared with other groups stored in it) from offset 0;
    // `block_size` is the most the buffer holds, in bytes.
    explicit SignalFile(std::shared_ptr<SignalFileHandle> file, std::size_t block_size = kBlockSize);

    // Makes at least `wanted` unread bytes available (wanted <= block size)
    // unless the file ends first or a read fails; returns how many are available.
    std::size_t fill(std::size_t wanted);
    const std::uint8_t *data() const { return buffer_.data() + begin_; }
    std::size_t available() const { return end_ - begin_; }
    void consume(std::size_t n) { begin_ += n; }

    // The next fills will take about `bytes` bytes from the next unread one: until
    // they are read, reads stop at the end of those (rounded up to whole pages)
    // instead of filling the block. A seek elsewhere forgets it.
    void expect(long long bytes);

    // Positions the next unread byte at `offset` from the start of the file.
    // Returns false when the position can not be reached.
    bool seek(long long offset);

    // The file's size in bytes, or -1 when it can not be determined.
    long long size() const { return file_->size(); }

    // True once a read has failed (the file could not be opened or read; not at end of file).
    bool failed() const { return failed_; }
    // " (reason)" to add to the text of a failure, "" when the source gives none.
    std::string failure_suffix() const {
        std::string reason = file_->failure();
        return reason.empty() ? std::string() : " (" + reason + ")";
    }

private:
    void make_room(std::size_t wanted);

    std::shared_ptr<SignalFileHandle> file_;
    std::size_t block_size_;
    std::vector<std::uint8_t> buffer_;
    std::size_t begin_ = 0, end_ = 0;  // unread bytes are buffer_[begin_, end_)
    long long buffer_start_ = 0;       // file offset of buffer_[0]
    long long read_end_ = -1;          // where the expected bytes end (whole pages), -1 for none
    bool failed_ = false;
};

// The block size of each group's file buffer when `groups` groups are read side
// by side: the usual block for a few groups, less for many, so that a record's
// buffers together stay within a few megabytes.
std::size_t signal_file_block_size(std::size_t groups);

}  // namespace sigtrove::engine

#endif
