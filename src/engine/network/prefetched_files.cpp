#include "network/prefetched_files.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>

#include "limits/memory_ceiling.h"
#include "network/remote_cache.h"
#include "network/remote_location.h"
#include "network/remote_settings.h"

namespace sigtrove::engine {

#if SIGTROVE_HAVE_CURL

namespace {

using Clock = std::chrono::steady_clock;

// An answer older than this was not for the open that now comes: it is asked for again.
constexpr auto kLongestKept = std::chrono::seconds(60);
// Answers kept at most: older ones make room.
constexpr std::size_t kMostKept = 256;
// The most a range asked for ahead may hold (in blocks); a read goes on past it as usual.
constexpr long long kLongestRange = 16;
// The most one batch of ranges may hold (in blocks, and never past the record memory ceiling):
// the ranges past it get one block each, enough to say that their files are there and how long.
constexpr long long kLongestBatch = 512;

struct Kept {
    FetchedAnswer answer;
    Clock::time_point at;
    long long first = 0;  // the first byte asked for
};

// Never destroyed, like the connection pool: a static record may open files while the process exits.
std::mutex &kept_lock() {
    static auto *lock = new std::mutex;
    return *lock;
}
std::map<std::string, Kept> &kept_answers() {
    static auto *kept = new std::map<std::string, Kept>;
    return *kept;
}

void drop_old(std::map<std::string, Kept> &kept, Clock::time_point now) {
    for (auto it = kept.begin(); it != kept.end();) it = now - it->second.at > kLongestKept ? kept.erase(it) : ++it;
    while (kept.size() >= kMostKept) {
        auto oldest = std::min_element(kept.begin(), kept.end(),
                                       [](const auto &a, const auto &b) { return a.second.at < b.second.at; });
        kept.erase(oldest);
    }
}

}  // namespace

void prefetch_remote_ranges(const std::vector<WantedRange> &ranges) {
    const RemoteSettings settings = remote_settings();
    if (!settings.error.empty()) return;  // every open fails alike, with its reason
    const auto block = static_cast<long long>(kRemoteBlockSize);
    std::vector<std::string> wanted;
    std::vector<HttpRequest> requests;
    long long batch_blocks = 0;
    const long long batch_limit = std::min(kLongestBatch, std::max(1LL, max_record_memory() / block));
    {
        std::lock_guard<std::mutex> guard(kept_lock());
        for (const WantedRange &range : ranges) {
            if (range.first < 0 || range.last < range.first || !is_remote_name(range.url)) continue;
            const long long first_block = range.first / block;
            // An answer kept for another part of the file is replaced: the open that comes reads this one.
            if (auto kept = kept_answers().find(range.url);
                kept != kept_answers().end() && kept->second.first == first_block * block)
                continue;
            if (std::find(wanted.begin(), wanted.end(), range.url) != wanted.end()) continue;
            // A file the cache holds is read from there (or checked with the server by its own open).
            if (auto entry = CacheEntry::open(settings.cache_directory, range.url); entry && entry->known()) continue;
            std::optional<HttpRequest> request = remote_request(range.url, settings);
            if (!request) continue;
            // Whole blocks, as the file's own reads ask for them (and a cache keeps them).
            long long blocks = std::min(range.last / block - first_block + 1, kLongestRange);
            if (batch_blocks + blocks > batch_limit) blocks = 1;
            batch_blocks += blocks;
            request->first = first_block * block;
            request->last = (first_block + blocks) * block - 1;
            wanted.push_back(range.url);
            requests.push_back(std::move(*request));
        }
    }
    if (requests.empty()) return;
    std::vector<FetchedAnswer> answers = fetch_concurrently(requests);
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(kept_lock());
    std::map<std::string, Kept> &kept = kept_answers();
    drop_old(kept, now);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        // What did not come (a failure, a redirect not followed) is asked for again by its open, which says why.
        if (!answers[i].answered) continue;
        const HttpHead &head = answers[i].head;
        if (head.status == 206 && (!head.has_content_range || head.range_first != requests[i].first)) continue;
        if (kept.size() >= kMostKept) break;
        kept[wanted[i]] = Kept{std::move(answers[i]), now, requests[i].first};
    }
}

void prefetch_remote_files(const std::vector<std::string> &urls) {
    std::vector<WantedRange> ranges;
    ranges.reserve(urls.size());
    for (const std::string &url : urls)
        ranges.push_back(WantedRange{url, 0, static_cast<long long>(kRemoteBlockSize) - 1});
    prefetch_remote_ranges(ranges);
}

std::optional<FetchedAnswer> take_prefetched(const std::string &url, bool from_start) {
    std::lock_guard<std::mutex> guard(kept_lock());
    std::map<std::string, Kept> &kept = kept_answers();
    auto it = kept.find(url);
    if (it == kept.end()) return std::nullopt;
    if (from_start && it->second.first != 0) return std::nullopt;
    std::optional<FetchedAnswer> answer;
    if (Clock::now() - it->second.at <= kLongestKept) answer = std::move(it->second.answer);
    kept.erase(it);
    return answer;
}

void forget_prefetched_files() {
    std::lock_guard<std::mutex> guard(kept_lock());
    kept_answers().clear();
}

#else

void prefetch_remote_ranges(const std::vector<WantedRange> &) {}
void prefetch_remote_files(const std::vector<std::string> &) {}
void forget_prefetched_files() {}

#endif

}  // namespace sigtrove::engine
