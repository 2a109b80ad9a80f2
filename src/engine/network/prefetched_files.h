// Files (or the parts of them a read needs) asked for ahead, many at once: when a
// reader knows which of them it will open next (the headers a database lists, the
// segment headers a window crosses, an annotation file beside its header, the
// bytes of every segment a window crosses), it prefetches them, and each open of
// one of those URLs then takes the answer kept for it instead of asking the server
// again: the answer says whether the file is there, and its size. An answer is
// kept for one open and for a short while only, so nothing stale is read later.
#ifndef SIGTROVE_ENGINE_PREFETCHED_FILES_H
#define SIGTROVE_ENGINE_PREFETCHED_FILES_H

#include <optional>
#include <string>
#include <vector>

#if SIGTROVE_HAVE_CURL
#include "network/concurrent_fetch.h"
#endif

namespace sigtrove::engine {

// Asks for the first block of each of `urls` (remote file names; others are
// passed over), at most kConcurrentRequests at a time, and keeps the answers.
// Returns once every answer has come. Does nothing in a build without libcurl.
void prefetch_remote_files(const std::vector<std::string> &urls);

// Bytes [first, last] of the remote file `url`, wanted by a read that opens it next.
struct WantedRange {
    std::string url;
    long long first = 0, last = 0;
};

// Asks for each range (of remote file names; others are passed over), at most
// kConcurrentRequests at a time, and keeps the answers for the opens that read
// them; a range is asked for in whole blocks, at most 16 of them (a read goes on
// past those as usual).
// Returns once every answer has come. Does nothing in a build without libcurl.
void prefetch_remote_ranges(const std::vector<WantedRange> &ranges);

#if SIGTROVE_HAVE_CURL
// The answer kept for `url`, which is no longer kept then; none when there is none
// (or it is too old). With `from_start`, only an answer to a request from the file's
// first byte is taken: an open that reads from the start leaves one for a later
// part of the file to the open that reads there.
std::optional<FetchedAnswer> take_prefetched(const std::string &url, bool from_start = true);
#endif

// Forgets every answer kept. For tests.
void forget_prefetched_files();

}  // namespace sigtrove::engine

#endif
