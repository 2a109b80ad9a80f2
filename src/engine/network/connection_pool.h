// The connections not in use, kept open so that the next request to the same
// server (the next block, the next file of a record) needs no new connection
// and no new TLS handshake. Safe from any thread.
#ifndef SIGTROVE_ENGINE_CONNECTION_POOL_H
#define SIGTROVE_ENGINE_CONNECTION_POOL_H

#if SIGTROVE_HAVE_CURL

#include <memory>
#include <string>

#include "network/http_connection.h"

namespace sigtrove::engine {

// A connection lent to one user; it goes back to the pool when the lease ends
// (a transfer still in flight is read to its end when little of it is left, else
// stopped, which closes the connection).
class ConnectionLease {
public:
    ConnectionLease() = default;
    ConnectionLease(std::unique_ptr<HttpConnection> connection, std::string origin)
        : connection_(std::move(connection)), origin_(std::move(origin)) {}
    ~ConnectionLease() { give_back(); }
    ConnectionLease(ConnectionLease &&other) noexcept = default;
    ConnectionLease &operator=(ConnectionLease &&other) noexcept {
        if (this != &other) {
            give_back();
            connection_ = std::move(other.connection_);
            origin_ = std::move(other.origin_);
        }
        return *this;
    }

    explicit operator bool() const { return connection_ != nullptr; }
    HttpConnection *operator->() const { return connection_.get(); }
    HttpConnection &operator*() const { return *connection_; }
    // Ends the lease now.
    void give_back();

private:
    std::unique_ptr<HttpConnection> connection_;
    std::string origin_;  // scheme and authority: the server its connection is open to
};

// A connection for a request to `url`: one left open to the same server when
// there is one. An empty lease when libcurl can give none.
ConnectionLease lease_connection(const std::string &url);

// Closes the connections not in use. For tests.
void close_idle_connections();

}  // namespace sigtrove::engine

#endif

#endif
