// Many short requests side by side: each on a connection leased from the pool,
// at most kConcurrentRequests in flight, all waited on together, so that a batch
// of independent files (the headers of a database, the segment headers of a
// record) costs about one round trip instead of one per file.
#ifndef SIGTROVE_ENGINE_CONCURRENT_FETCH_H
#define SIGTROVE_ENGINE_CONCURRENT_FETCH_H

#if SIGTROVE_HAVE_CURL

#include <cstdint>
#include <string>
#include <vector>

#include "network/http_connection.h"

namespace sigtrove::engine {

inline constexpr std::size_t kConcurrentRequests = 16;

// What came back for one request: the final response's head and its body, or
// why no response came.
struct FetchedAnswer {
    bool answered = false;   // a whole response (head and the body it promised) came
    bool head_only = false;  // the answer to a HEAD request: no body was asked for
    HttpHead head;
    std::string effective_url;
    std::vector<std::uint8_t> body;
    std::string failure;  // when not answered
};

// Sends every request (each should ask for a bounded range: an answer longer than
// the range, or than two blocks for a shorter one, is stopped and fails), at most
// `at_once` in flight, and waits for all of them; the answers come in the order of
// `requests`.
std::vector<FetchedAnswer> fetch_concurrently(const std::vector<HttpRequest> &requests,
                                              std::size_t at_once = kConcurrentRequests);

}  // namespace sigtrove::engine

#endif

#endif
