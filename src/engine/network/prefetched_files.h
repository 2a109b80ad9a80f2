// Files read from their start (headers, annotation files) asked for ahead, many
// at once: when a reader knows which of them it will open next (the headers a
// database lists, the segment headers a window crosses, an annotation file beside
// its header), it prefetches them, and each open of one of those URLs then takes
// the answer kept for it instead of asking the server again. An answer is kept
// for one open and for a short while only, so nothing stale is read later.
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

#if SIGTROVE_HAVE_CURL
// The answer kept for `url`, which is no longer kept then; none when there is none (or it is too old).
std::optional<FetchedAnswer> take_prefetched(const std::string &url);
#endif

// Forgets every answer kept. For tests.
void forget_prefetched_files();

}  // namespace sigtrove::engine

#endif
