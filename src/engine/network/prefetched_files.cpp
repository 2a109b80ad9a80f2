#include "network/prefetched_files.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>

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
// Answers kept at most (each holds at most a block): older ones make room.
constexpr std::size_t kMostKept = 256;

struct Kept {
    FetchedAnswer answer;
    Clock::time_point at;
    int opens = 1;  // the opens it serves yet
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
    std::vector<std::string> wanted;      // kept keys
    std::vector<int> opens;
    std::vector<HttpRequest> requests;
    {
        std::lock_guard<std::mutex> guard(kept_lock());
        for (const auto &[url, part, serves] : files) {
            if (!is_remote_name(url)) continue;
            std::string key = kept_key(url, settings);
            if (kept_answers().count(key) || std::find(wanted.begin(), wanted.end(), key) != wanted.end()) continue;
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
            wanted.push_back(std::move(key));
            opens.push_back(std::max(serves, 1));
            requests.push_back(std::move(*request));
        }
    }
    if (requests.empty()) return;
    std::vector<FetchedAnswer> answers = fetch_concurrently(requests, at_once);
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> guard(kept_lock());
    std::map<std::string, Kept> &kept = kept_answers();
    drop_old(kept, now);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        // What did not come (a failure, a redirect not followed) is asked for again by its open, which says why.
        if (!worth_keeping(answers[i])) continue;
        if (kept.size() >= kMostKept) break;
        kept[wanted[i]] = Kept{std::move(answers[i]), now, opens[i]};
    }
}

void keep_prefetched_for(const std::string &url, int opens) {
    const std::string key = kept_key(url);
    std::lock_guard<std::mutex> guard(kept_lock());
    auto it = kept_answers().find(key);
    if (it != kept_answers().end()) it->second.opens = std::max(opens, 1);
}

std::optional<FetchedAnswer> take_prefetched(const std::string &url) {
    const std::string key = kept_key(url);
    std::lock_guard<std::mutex> guard(kept_lock());
    std::map<std::string, Kept> &kept = kept_answers();
    auto it = kept.find(key);
    if (it == kept.end()) return std::nullopt;
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
void keep_prefetched_for(const std::string &, int) {}
long prefetched_status(const std::string &) { return 0; }
void forget_prefetched_files() {}

#endif

}  // namespace sigtrove::engine
