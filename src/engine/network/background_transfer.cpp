#include "network/background_transfer.h"

#if SIGTROVE_HAVE_CURL

namespace sigtrove::engine {
namespace {

// Bytes received ahead of the reader before receiving waits for it: the rest
// waits in the socket, and the server is held back by the connection's own flow control.
constexpr std::size_t kAheadLimit = 8 * 1024 * 1024;

}  // namespace

BackgroundTransfer::BackgroundTransfer(ConnectionLease lease) : lease_(std::move(lease)), thread_([this] { run(); }) {}

BackgroundTransfer::~BackgroundTransfer() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    lease_->interrupt();
    thread_.join();
}

void BackgroundTransfer::run() {
    HttpConnection &connection = *lease_;
    try {
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock_);
                changed_.wait(guard, [this] { return stopping_ || pending_.size() < kAheadLimit; });
                if (stopping_) return;
                pending_.insert(pending_.end(), connection.data(), connection.data() + connection.available());
                received_ = connection.received();
                if (connection.finished()) {
                    over_ = true;
                    succeeded_ = connection.succeeded();
                    may_pass_ = connection.failure_may_pass();
                    error_ = connection.error();
                }
            }
            connection.consume(connection.available());
            changed_.notify_all();
            if (over_) return;
            connection.receive(1);
        }
    } catch (...) {
        std::lock_guard<std::mutex> guard(lock_);
        over_ = true;
        succeeded_ = false;
        error_ = "out of memory while receiving";
        changed_.notify_all();
    }
}

void BackgroundTransfer::take(std::vector<std::uint8_t> &out, std::size_t wanted) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return over_ || pending_.size() >= wanted; });
    out.insert(out.end(), pending_.begin(), pending_.end());
    pending_.clear();
    guard.unlock();
    changed_.notify_all();
}

void BackgroundTransfer::take_all(std::vector<std::uint8_t> &out, std::size_t wanted) {
    out.clear();
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard, [&] { return over_ || pending_.size() >= wanted; });
    // The emptied buffer goes to the receiving side, which keeps filling it without a new allocation.
    out.swap(pending_);
    guard.unlock();
    changed_.notify_all();
}

bool BackgroundTransfer::finished() const {
    std::lock_guard<std::mutex> guard(lock_);
    return over_ && pending_.empty();
}

bool BackgroundTransfer::succeeded() const {
    std::lock_guard<std::mutex> guard(lock_);
    return succeeded_;
}

bool BackgroundTransfer::failure_may_pass() const {
    std::lock_guard<std::mutex> guard(lock_);
    return may_pass_;
}

std::string BackgroundTransfer::error() const {
    std::lock_guard<std::mutex> guard(lock_);
    return error_;
}

long long BackgroundTransfer::received() const {
    std::lock_guard<std::mutex> guard(lock_);
    return received_;
}

}  // namespace sigtrove::engine

#endif
