// Files (or the parts of them a read needs) asked for ahead, many at once: when a
// reader knows which of them it will open next (the headers a database lists, the
// segment headers a window crosses, an annotation file beside its header, the
// signal file beside a header, the bytes of every segment a window crosses), it prefetches them, and each open of
// one of those URLs then takes the answer kept for it instead of asking the server
// again: the answer says whether the file is there, and its size. An answer is
// kept for one open and for a short while only, so nothing stale is read later.
#ifndef SIGTROVE_ENGINE_PREFETCHED_FILES_H
#define SIGTROVE_ENGINE_PREFETCHED_FILES_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#if SIGTROVE_HAVE_CURL
#include "network/concurrent_fetch.h"
#else
namespace sigtrove::engine {
inline constexpr std::size_t kConcurrentRequests = 16;
}
#endif

namespace sigtrove::engine {

// What a prefetch asks each file for: its first block (what an open fetches
// anyway), or only its head (a HEAD request: whether it is there, its size and
// version) when none of its bytes may be wanted, as for the signal files of
// records opened for their headers.
enum class PrefetchPart { first_block, head };

// Asks for the first block (or the head) of each of `urls` (remote file names;
// others, and those with an answer kept already, are passed over), at most
// kConcurrentRequests at a time, and keeps the answers. Returns once every
// answer has come. Does nothing in a build without libcurl.
void prefetch_remote_files(const std::vector<std::string> &urls, PrefetchPart part = PrefetchPart::first_block);
// The same for files each asked for its own part, all together, at most
// `at_once` at a time. The answer for a file that `opens` opens will take (the
// signal file that several records share) serves that many.
struct PrefetchedFile {
    std::string url;
    PrefetchPart part = PrefetchPart::first_block;
    int opens = 1;
};
void prefetch_remote_files(const std::vector<PrefetchedFile> &files, std::size_t at_once = kConcurrentRequests);

// Makes the answer kept for `url` (if one is) serve `opens` opens in all.
void keep_prefetched_for(const std::string &url, int opens);

// The HTTP status of the answer kept for `url` (200, 206, 404...), which stays
// kept; 0 when none is.
long prefetched_status(const std::string &url);

// While one of these lives on a thread, remote files opened on that thread are
// opened from the answers kept for them only, which stay kept for the open that
// comes later; a file with none kept is not there, and no server is asked (nor
// the cache). What lets a reader look into prefetched headers, to see which
// files they name, without taking them from the open they were fetched for.
class KeptAnswersOnly {
public:
    KeptAnswersOnly();
    ~KeptAnswersOnly();
    KeptAnswersOnly(const KeptAnswersOnly &) = delete;
    KeptAnswersOnly &operator=(const KeptAnswersOnly &) = delete;
};
// True while a KeptAnswersOnly lives on this thread.
bool kept_answers_only();

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
// part of the file to the open that reads there. Under KeptAnswersOnly it is a copy,
// and stays kept.
std::optional<FetchedAnswer> take_prefetched(const std::string &url, bool from_start = true);
#endif

// Forgets every answer kept. For tests.
void forget_prefetched_files();

}  // namespace sigtrove::engine

#endif
