#include "network/connection_pool.h"

#if SIGTROVE_HAVE_CURL

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace sigtrove::engine {
namespace {

// Idle connections kept: enough for the files of a few records read side by side, and for a
// batch of requests sent at once (ConcurrentFetch) to find its connections open next time.
constexpr std::size_t kMaxIdle = 64;

struct Idle {
    std::string origin;
    std::unique_ptr<HttpConnection> connection;
};

// Never destroyed: records held by static objects (the C interface's open record)
// close their remote files while the process exits, after the function statics
// constructed later than them are gone, and their connections come back here.
std::mutex &pool_lock() {
    static auto *lock = new std::mutex;
    return *lock;
}

std::vector<Idle> &idle_connections() {
    static auto *idle = new std::vector<Idle>;
    return *idle;
}

std::string origin_of(const std::string &url) {
    std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    std::size_t path = url.find('/', scheme + 3);
    return url.substr(0, path);
}

}  // namespace

void ConnectionLease::give_back() {
    if (!connection_) return;
    connection_->settle();
    std::unique_ptr<HttpConnection> connection = std::move(connection_);
    std::lock_guard<std::mutex> guard(pool_lock());
    std::vector<Idle> &idle = idle_connections();
    // The oldest idle connection makes room: the newest is likeliest to be wanted again.
    if (idle.size() >= kMaxIdle) idle.erase(idle.begin());
    try {
        idle.push_back({std::move(origin_), std::move(connection)});
    } catch (...) {
        // Without memory to keep it, the connection is simply closed.
    }
}

ConnectionLease lease_connection(const std::string &url) {
    std::string origin = origin_of(url);
    {
        std::lock_guard<std::mutex> guard(pool_lock());
        std::vector<Idle> &idle = idle_connections();
        auto same = std::find_if(idle.rbegin(), idle.rend(), [&](const Idle &i) { return i.origin == origin; });
        if (same != idle.rend()) {
            std::unique_ptr<HttpConnection> connection = std::move(same->connection);
            idle.erase(std::next(same).base());
            return ConnectionLease(std::move(connection), std::move(origin));
        }
    }
    std::unique_ptr<HttpConnection> connection = HttpConnection::make();
    if (!connection) return ConnectionLease();
    return ConnectionLease(std::move(connection), std::move(origin));
}

void close_idle_connections() {
    std::vector<Idle> closing;
    {
        std::lock_guard<std::mutex> guard(pool_lock());
        closing.swap(idle_connections());
    }
}

}  // namespace sigtrove::engine

#endif
