// A web server of the tests' own, on a free loopback port, that answers as the
// test says: each request (its method, path and headers) goes to the test's
// function, which writes whatever it likes to the connection: a head no real
// server would send, a body that trickles or never ends, a redirect elsewhere.
#ifndef SIGTROVE_TESTS_FAULT_SERVER_H
#define SIGTROVE_TESTS_FAULT_SERVER_H

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace sigtrove::testing {

struct FaultRequest {
    std::string method, path;
    std::string range;  // the Range header's value, "" for none
    std::string host;   // the Host header's value
};

// The connection a request came on, for the answer.
class FaultConnection {
public:
    FaultConnection(int fd, const std::atomic<bool> &stopping) : fd_(fd), stopping_(stopping) {}
    // Writes `bytes`; false once the client has gone or the server stops.
    bool send(std::string_view bytes);
    // Writes `bytes` two at a time, half a second apart: four bytes a second.
    bool trickle(std::string_view bytes);
    bool stopping() const { return stopping_; }

private:
    int fd_;
    const std::atomic<bool> &stopping_;
};

// "HTTP/1.1 STATUS Reason\r\nName: value\r\n...\r\n"
std::string response_head(int status, const std::vector<std::pair<std::string, std::string>> &fields);

class FaultServer {
public:
    // Answers each request with `respond`; it returns true to keep the connection for another request.
    using Responder = std::function<bool(const FaultRequest &, FaultConnection &)>;
    explicit FaultServer(Responder respond);
    ~FaultServer();
    FaultServer(const FaultServer &) = delete;
    FaultServer &operator=(const FaultServer &) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:PORT/" + path
    std::string url(const std::string &path = "") const;
    // The requests that came so far.
    std::vector<FaultRequest> requests() const;

private:
    void accept_connections();
    void serve(int fd);

    Responder respond_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex lock_;
    std::vector<int> connections_;
    std::vector<std::thread> threads_;
    std::vector<FaultRequest> requests_;
    std::thread acceptor_;
};

}  // namespace sigtrove::testing

#endif
