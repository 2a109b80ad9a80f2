#include "network/concurrent_fetch.h"

#if SIGTROVE_HAVE_CURL

#include <poll.h>

#include <algorithm>

#include "network/connection_pool.h"
#include "network/remote_cache.h"

namespace sigtrove::engine {
namespace {

// The longest a wait for the sockets lasts before every transfer is looked at again.
constexpr long kLongestWaitMs = 200;
// An answer is for a bounded range: one longer than this (or than the range asked for, when that
// is longer) is stopped, and asked for again by its open.
constexpr long long kLongestBody = 2 * static_cast<long long>(kRemoteBlockSize);

long long longest_body(const HttpRequest &request) {
    if (request.first < 0 || request.last < request.first) return kLongestBody;
    return std::max(kLongestBody, request.last - request.first + 1);
}

struct InFlight {
    std::size_t index;
    ConnectionLease lease;
};

void finish(InFlight &flight, std::vector<FetchedAnswer> &answers) {
    FetchedAnswer &answer = answers[flight.index];
    HttpConnection &connection = *flight.lease;
    if (answer.failure.empty() && connection.succeeded() && connection.head_received()) {
        answer.answered = true;
        answer.head = connection.head();
        answer.effective_url = connection.effective_url();
        answer.body.assign(connection.data(), connection.data() + connection.available());
    } else {
        answer.failure = connection.error().empty() ? "no response" : connection.error();
    }
    flight.lease.give_back();
}

}  // namespace

std::vector<FetchedAnswer> fetch_concurrently(const std::vector<HttpRequest> &requests, std::size_t at_once) {
    at_once = std::max<std::size_t>(at_once, 1);
    std::vector<FetchedAnswer> answers(requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) answers[i].head_only = requests[i].head_only;
    std::vector<InFlight> flying;
    std::size_t next = 0;
    std::vector<curl_waitfd> sockets;
    std::vector<pollfd> polled;
    while (next < requests.size() || !flying.empty()) {
        // Start as many as the bound allows.
        while (next < requests.size() && flying.size() < at_once) {
            InFlight flight{next, lease_connection(requests[next].url)};
            ++next;
            if (!flight.lease) {
                answers[flight.index].failure = "no connection could be made (libcurl failed)";
                continue;
            }
            if (!flight.lease->begin(requests[flight.index])) {
                finish(flight, answers);
                continue;
            }
            flying.push_back(std::move(flight));
        }
        for (InFlight &flight : flying) {
            flight.lease->step();
            // A server that ignores the range sends the whole file: not worth keeping in memory here.
            if (!flight.lease->finished() && flight.lease->received() > longest_body(requests[flight.index])) {
                flight.lease->stop();
                answers[flight.index].failure = "the answer is longer than a range";
            }
        }
        for (InFlight &flight : flying)
            if (flight.lease->finished()) finish(flight, answers);
        flying.erase(std::remove_if(flying.begin(), flying.end(), [](const InFlight &f) { return !f.lease; }),
                     flying.end());
        if (flying.empty()) continue;
        sockets.clear();
        long timeout_ms = kLongestWaitMs;
        for (InFlight &flight : flying) flight.lease->wait_for(sockets, timeout_ms);
        if (timeout_ms <= 0) continue;
        polled.clear();
        for (const curl_waitfd &socket : sockets) {
            short events = 0;
            if (socket.events & CURL_WAIT_POLLIN) events |= POLLIN;
            if (socket.events & CURL_WAIT_POLLOUT) events |= POLLOUT;
            if (socket.events & CURL_WAIT_POLLPRI) events |= POLLPRI;
            polled.push_back(pollfd{socket.fd, events, 0});
        }
        ::poll(polled.data(), polled.size(), static_cast<int>(timeout_ms));
    }
    return answers;
}

}  // namespace sigtrove::engine

#endif
