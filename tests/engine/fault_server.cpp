#include "fault_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>

namespace sigtrove::testing {
namespace {

const char *reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 206: return "Partial Content";
        case 302: return "Found";
        case 404: return "Not Found";
        default: return "Whatever";
    }
}

// The value of header `name` in a request head, "" when it has none.
std::string header_value(const std::string &head, const std::string &name) {
    std::size_t at = 0;
    while ((at = head.find("\r\n", at)) != std::string::npos) {
        at += 2;
        if (head.size() - at < name.size() + 1) break;
        bool same = true;
        for (std::size_t i = 0; i < name.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(head[at + i])) ==
                   std::tolower(static_cast<unsigned char>(name[i]));
        if (!same || head[at + name.size()] != ':') continue;
        std::size_t begin = head.find_first_not_of(' ', at + name.size() + 1);
        std::size_t end = head.find("\r\n", at);
        return begin == std::string::npos || begin >= end ? "" : head.substr(begin, end - begin);
    }
    return "";
}

}  // namespace

bool FaultConnection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        if (stopping_) return false;
        ssize_t put = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (put <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(put));
    }
    return true;
}

bool FaultConnection::trickle(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (!send(bytes.substr(i, 2))) return false;
        for (int k = 0; k < 5 && !stopping_; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return !stopping_;
}

std::string response_head(int status, const std::vector<std::pair<std::string, std::string>> &fields) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason(status) + "\r\n";
    for (const auto &[name, value] : fields) head += name + ": " + value + "\r\n";
    return head + "\r\n";
}

FaultServer::FaultServer(Responder respond) : respond_(std::move(respond)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return;
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { accept_connections(); });
}

FaultServer::~FaultServer() {
    stopping_ = true;
    if (listener_ >= 0) ::shutdown(listener_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (int fd : connections_) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread &t : threads_) t.join();
    if (listener_ >= 0) ::close(listener_);
}

std::string FaultServer::url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

std::vector<FaultRequest> FaultServer::requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

void FaultServer::accept_connections() {
    while (!stopping_) {
        pollfd ready{listener_, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) continue;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_) {
            ::close(fd);
            break;
        }
        connections_.push_back(fd);
        threads_.emplace_back([this, fd] { serve(fd); });
    }
}

void FaultServer::serve(int fd) {
    std::string buffer;
    bool keep = true;
    while (keep && !stopping_) {
        std::size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            char chunk[4096];
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 100) == 0) {
                if (stopping_) break;
                continue;
            }
            ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0 || buffer.size() > (64 << 10)) break;
            buffer.append(chunk, static_cast<std::size_t>(got));
        }
        if (end == std::string::npos) break;
        std::string head = buffer.substr(0, end + 2);
        buffer.erase(0, end + 4);
        FaultRequest request;
        std::size_t space = head.find(' '), second = head.find(' ', space + 1);
        if (space == std::string::npos || second == std::string::npos) break;
        request.method = head.substr(0, space);
        request.path = head.substr(space + 1, second - space - 1);
        request.range = header_value(head, "Range");
        request.host = header_value(head, "Host");
        {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.push_back(request);
        }
        FaultConnection connection(fd, stopping_);
        keep = respond_(request, connection);
    }
    ::shutdown(fd, SHUT_RDWR);
    std::lock_guard<std::mutex> guard(lock_);
    for (int &open : connections_)
        if (open == fd) open = -1;
    ::close(fd);
}

}  // namespace sigtrove::testing
