// The body of a long transfer received on a thread of its own: while the reader
// decodes the bytes that have arrived, the next ones are taken off the socket, so
// a file streamed over a fast link costs about as much as decoding it.
#ifndef SIGTROVE_ENGINE_BACKGROUND_TRANSFER_H
#define SIGTROVE_ENGINE_BACKGROUND_TRANSFER_H

#if SIGTROVE_HAVE_CURL

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "network/connection_pool.h"

namespace sigtrove::engine {

class BackgroundTransfer {
public:
    // Takes over a connection whose transfer has started (its head has been read)
    // and receives the rest of the body. Throws std::system_error when no thread can be had.
    explicit BackgroundTransfer(ConnectionLease lease);
    // Stops receiving; the connection goes back to the pool (closed when the body was not over).
    ~BackgroundTransfer();
    BackgroundTransfer(const BackgroundTransfer &) = delete;
    BackgroundTransfer &operator=(const BackgroundTransfer &) = delete;

    // Appends every byte received so far to `out`, first waiting until at least
    // `wanted` bytes are there or the transfer is over.
    void take(std::vector<std::uint8_t> &out, std::size_t wanted);
    // The same into an empty `out`, by handing over the buffer itself: no byte is copied.
    void take_all(std::vector<std::uint8_t> &out, std::size_t wanted);

    // Once take() has handed over the last byte: the transfer is over.
    bool finished() const;
    bool succeeded() const;
    bool failure_may_pass() const;
    std::string error() const;
    long long received() const;

private:
    void run();

    ConnectionLease lease_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::uint8_t> pending_;  // received, not yet taken
    bool over_ = false;                  // the connection has nothing more to give
    bool stopping_ = false;
    bool succeeded_ = false, may_pass_ = false;
    std::string error_;
    long long received_ = 0;
    std::thread thread_;  // last: it starts once everything above exists
};

}  // namespace sigtrove::engine

#endif

#endif
