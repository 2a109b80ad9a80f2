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

namespace {

thread_local int kept_only_depth = 0;

}  // namespace

KeptAnswersOnly::KeptAnswersOnly() { ++kept_only_depth; }
KeptAnswersOnly::~KeptAnswersOnly() { --kept_only_depth; }
bool kept_answers_only() { return kept_only_depth > 0; }

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
    int opens = 1;        // the opens it serves yet
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

// What an answer is kept under: the name, and where and as whom its request goes now. An answer
// for one endpoint or one key never serves an open after the environment named another.
std::string kept_key(const std::string &url, const RemoteSettings &settings) {
    std::optional<HttpRequest> request = remote_request(url, settings);
    return request ? url + '\n' + request->url + '\n' + request->aws_key : url;
}
std::string kept_key(const std::string &url) { return kept_key(url, remote_settings()); }

// Answers worth keeping: the file, or that it is not there. A refusal or a server's failure is
// asked again by the open itself, which says why (and may find the cause mended).
bool worth_keeping(const FetchedAnswer &answer) {
    const long status = answer.head.status;
    return answer.answered &&
           (status == 200 || status == 206 || status == 404 || status == 410 || (status == 416 && !answer.head_only));
}

void drop_old(std::map<std::string, Kept> &kept, Clock::time_point now) {
    for (auto it = kept.begin(); it != kept.end();) it = now - it->second.at > kLongestKept ? kept.erase(it) : ++it;
    while (kept.size() >= kMostKept) {
        auto oldest = std::min_element(kept.begin(), kept.end(),
                                       [](const auto &a, const auto &b) { return a.second.at < b.second.at; });
        kept.erase(oldest);
    }
}

// One request asked for ahead: what its answer is kept under, and for how many opens.
struct Asked {
    std::string key;
    HttpRequest request;
    int opens = 1;
};

// Sends the requests, at most `at_once` at a time, and keeps the answers worth keeping.
void fetch_and_keep(std::vector<Asked> &asked, std::size_t at_once) {
    if (asked.empty()) return;
    std::vector<HttpRequest> requests;
    requests.reserve(asked.size());
    for (Asked &one : asked) requests.push_back(one.request);
    std::vector<FetchedAnswer> answers = fetch_concurrently(requests, at_once);
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(kept_lock());
    std::map<std::string, Kept> &kept = kept_answers();
    drop_old(kept, now);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        // What did not come (a failure, a redirect not followed) is asked for again by its open, which says why.
        if (!worth_keeping(answers[i])) continue;
        const HttpHead &head = answers[i].head;
        if (head.status == 206 && (!head.has_content_range || head.range_first != requests[i].first)) continue;
        if (kept.size() >= kMostKept) break;
        kept[asked[i].key] = Kept{std::move(answers[i]), now, asked[i].opens, std::max(requests[i].first, 0LL)};
    }
}

bool asked_already(const std::vector<Asked> &asked, const std::string &key) {
    return std::any_of(asked.begin(), asked.end(), [&](const Asked &one) { return one.key == key; });
}

}  // namespace

void prefetch_remote_files(const std::vector<std::string> &urls, PrefetchPart part) {
    std::vector<PrefetchedFile> files;
    files.reserve(urls.size());
    for (const std::string &url : urls) files.push_back(PrefetchedFile{url, part});
    prefetch_remote_files(files);
}

void prefetch_remote_files(const std::vector<PrefetchedFile> &files, std::size_t at_once) {
    if (kept_answers_only() || files.empty()) return;
    const RemoteSettings settings = remote_settings();
    if (!settings.error.empty()) return;  // every open fails alike, with its reason
    std::vector<Asked> asked;
    {
        std::lock_guard<std::mutex> guard(kept_lock());
        for (const auto &[url, part, serves] : files) {
            if (!is_remote_name(url)) continue;
            std::string key = kept_key(url, settings);
            if (kept_answers().count(key) || asked_already(asked, key)) continue;
            // A file the cache holds is read from there (or checked with the server by its own open).
            if (auto entry = CacheEntry::open(settings.cache_directory, url); entry && entry->known()) continue;
            std::optional<HttpRequest> request = remote_request(url, settings);
            if (!request) continue;
            if (part == PrefetchPart::head) {
                request->head_only = true;
            } else {
                request->first = 0;
                request->last = static_cast<long long>(kRemoteBlockSize) - 1;
            }
            asked.push_back(Asked{std::move(key), std::move(*request), std::max(serves, 1)});
        }
    }
    fetch_and_keep(asked, at_once);
}

void prefetch_remote_ranges(const std::vector<WantedRange> &ranges) {
    if (kept_answers_only() || ranges.empty()) return;
    const RemoteSettings settings = remote_settings();
    if (!settings.error.empty()) return;  // every open fails alike, with its reason
    const auto block = static_cast<long long>(kRemoteBlockSize);
    long long batch_blocks = 0;
    const long long batch_limit = std::min(kLongestBatch, std::max(1LL, max_record_memory() / block));
    std::vector<Asked> asked;
    {
        std::lock_guard<std::mutex> guard(kept_lock());
        for (const WantedRange &range : ranges) {
            if (range.first < 0 || range.last < range.first || !is_remote_name(range.url)) continue;
            const long long first_block = range.first / block;
            std::string key = kept_key(range.url, settings);
            // An answer kept for another part of the file is replaced: the open that comes reads this one.
            if (auto kept = kept_answers().find(key);
                kept != kept_answers().end() && kept->second.first == first_block * block)
                continue;
            if (asked_already(asked, key)) continue;
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
            asked.push_back(Asked{std::move(key), std::move(*request), 1});
        }
    }
    fetch_and_keep(asked, kConcurrentRequests);
}

void keep_prefetched_for(const std::string &url, int opens) {
    const std::string key = kept_key(url);
    std::lock_guard<std::mutex> guard(kept_lock());
    auto it = kept_answers().find(key);
    if (it != kept_answers().end()) it->second.opens = std::max(opens, 1);
}

std::optional<FetchedAnswer> take_prefetched(const std::string &url, bool from_start) {
    const std::string key = kept_key(url);
    std::lock_guard<std::mutex> guard(kept_lock());
    std::map<std::string, Kept> &kept = kept_answers();
    auto it = kept.find(key);
    if (it == kept.end()) return std::nullopt;
    if (from_start && it->second.first != 0) return std::nullopt;
    std::optional<FetchedAnswer> answer;
    const bool fresh = Clock::now() - it->second.at <= kLongestKept;
    if (kept_answers_only()) {
        if (fresh) answer = it->second.answer;
        return answer;
    }
    if (fresh && --it->second.opens > 0) return it->second.answer;  // kept for the opens to come
    if (fresh) answer = std::move(it->second.answer);
    kept.erase(it);
    return answer;
}

long prefetched_status(const std::string &url) {
    const std::string key = kept_key(url);
    std::lock_guard<std::mutex> guard(kept_lock());
    auto it = kept_answers().find(key);
    if (it == kept_answers().end() || Clock::now() - it->second.at > kLongestKept) return 0;
    return it->second.answer.head.status;
}

void forget_prefetched_files() {
    std::lock_guard<std::mutex> guard(kept_lock());
    kept_answers().clear();
}

#else

void prefetch_remote_files(const std::vector<std::string> &, PrefetchPart) {}
void prefetch_remote_files(const std::vector<PrefetchedFile> &, std::size_t) {}
void prefetch_remote_ranges(const std::vector<WantedRange> &) {}
void keep_prefetched_for(const std::string &, int) {}
long prefetched_status(const std::string &) { return 0; }
void forget_prefetched_files() {}

#endif

}  // namespace sigtrove::engine
