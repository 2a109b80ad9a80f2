// The bytes of one file a record is read from, wherever the file is: on a local
// disk or on a web server. Every reader of the engine (headers, signal groups,
// FLAC streams, annotation files) reads through this interface, so each of them
// reads remote files exactly as it reads local ones.
#ifndef SIGTROVE_ENGINE_BYTE_SOURCE_H
#define SIGTROVE_ENGINE_BYTE_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sigtrove::engine {

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Copies up to `size` bytes from the current position into `dest` and moves
    // past them. Returns how many were copied: 0 only at the end of the bytes,
    // fewer than asked when the source hands out what it holds at once (a remote
    // source gives what one block holds before fetching the next). Returns -1 when
    // the bytes could not be read; failure() then says why.
    virtual long long read(std::uint8_t *dest, std::size_t size) = 0;

    // Moves the position to `offset` from the start. A position past the end is
    // allowed (reads there give 0); false when the offset is negative or the
    // position can not be set. A seek clears a read failure.
    virtual bool seek(long long offset) = 0;

    // The position of the next byte read.
    virtual long long position() const = 0;

    // The next reads will take the `bytes` bytes at `offset`: a source that fetches
    // its bytes in requests may ask for all of them at once. Only a hint.
    virtual void expect(long long offset, long long bytes) {
        (void)offset;
        (void)bytes;
    }

    // The number of bytes, or -1 when it can not be known.
    virtual long long size() = 0;

    // Why the last read failed, for texts: "" for a local file (whose texts name
    // no cause), "URL: reason" for a remote one.
    virtual std::string failure() const = 0;
};

using ByteSourcePtr = std::unique_ptr<ByteSource>;

// A reason to add to an engine text: " (REASON)" for a non-empty failure, else "".
inline std::string failure_suffix(const ByteSource &source) {
    std::string reason = source.failure();
    return reason.empty() ? std::string() : " (" + reason + ")";
}

}  // namespace sigtrove::engine

#endif
