#include "network/remote_file.h"

#include <mutex>
#include <set>

#include "network/prefetched_files.h"
#include "network/remote_cache.h"
#include "network/remote_settings.h"

#if SIGTROVE_HAVE_CURL
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "io/local_file.h"
#include "limits/memory_ceiling.h"
#include "network/background_transfer.h"
#include "network/connection_pool.h"
#include "network/remote_location.h"
#endif

namespace sigtrove::engine {
namespace {

// The cache entries checked with their server in this process: each is checked
// once, at its first use; later reads trust it without a request. Never destroyed,
// as remote files may still be closed by static objects while the process exits.
std::mutex &validated_lock() {
    static auto *lock = new std::mutex;
    return *lock;
}
std::set<std::string> &validated_urls() {
    static auto *urls = new std::set<std::string>;
    return *urls;
}

}  // namespace

#if SIGTROVE_HAVE_CURL

namespace {

bool was_validated(const std::string &url) {
    std::lock_guard<std::mutex> guard(validated_lock());
    return validated_urls().count(url) > 0;
}
void note_validated(const std::string &url) {
    std::lock_guard<std::mutex> guard(validated_lock());
    validated_urls().insert(url);
}

constexpr long long kBlock = static_cast<long long>(kRemoteBlockSize);
// A file read on block after block is streamed in requests of this many blocks.
constexpr long long kStreamBlocks = 256;
// The most blocks one request asks for (a terabyte): far beyond any file, and no offset overflows.
constexpr long long kLongestRequestBlocks = 1LL << 24;
// Cached blocks taken into memory at once.
constexpr long long kCachedRun = 16;
// A transfer in flight is read on (rather than replaced) for a read at most this far ahead of it.
constexpr long long kSkipAhead = kBlock;
// A failure that a fresh connection may not have is tried once more.
constexpr int kAttempts = 2;

long long block_of(long long offset) { return offset / kBlock; }

std::string status_text(const HttpHead &head) {
    std::string text = "HTTP " + std::to_string(head.status);
    if (!head.reason.empty()) text += " " + head.reason;
    return text;
}

class RemoteFile final : public ByteSource {
public:
    RemoteFile(std::string url, RemoteSettings settings, std::unique_ptr<CacheEntry> cache)
        : url_(std::move(url)), settings_(std::move(settings)), cache_(std::move(cache)) {
        if (std::optional<HttpRequest> request = remote_request(url_, settings_)) base_request_ = std::move(*request);
        fetch_url_ = base_request_.url;
    }
    ~RemoteFile() override { keep_the_rest(); }
    RemoteFile(const RemoteFile &) = delete;
    RemoteFile &operator=(const RemoteFile &) = delete;

    // Asks the server for the file. True when it is there; else `failure_` says
    // why, or is empty when the server says the file is not there.
    bool open(RemoteAccess access);

    long long read(std::uint8_t *dest, std::size_t size) override;
    bool seek(long long offset) override {
        if (offset < 0) return false;
        position_ = offset;
        return true;
    }
    long long position() const override { return position_; }
    void expect(long long offset, long long bytes) override {
        if (copy_) return;
        expected_from_ = offset;
        expected_end_ = offset >= 0 && bytes > 0 && bytes <= LLONG_MAX - offset ? offset + bytes : -1;
    }
    long long size() override { return copy_ ? copy_->size() : version_.size; }
    std::string failure() const override { return failure_.empty() ? std::string() : url_ + ": " + failure_; }

    const std::string &failure_reason() const { return failure_; }

private:
    long long window_end() const { return window_start_ + static_cast<long long>(window_.size()); }
    bool covers(long long offset) const { return offset >= window_start_ && offset < window_end(); }

    bool fill_at(long long offset);
    bool take_cached(long long block);
    bool request_blocks(long long block, long long count);
    bool pump(long long offset);
    bool pump_stream(long long offset);
    // The transfer under way (or its lease) is one that a fresh connection may get through.
    bool may_retry() const {
        return stream_ ? stream_->failure_may_pass() : transfer_ && transfer_->failure_may_pass();
    }
    void end_transfers() {
        stream_.reset();
        transfer_.give_back();
    }
    // Opens the file from an answer prefetched for it.
    bool open_prefetched(FetchedAnswer &answer, RemoteAccess access);
    bool take_whole_body();
    void store_whole_blocks();
    void keep_the_rest();
    void trim_window(long long offset);
    std::vector<std::string> conditions(bool for_range) const;
    bool fail(std::string reason) {
        failure_ = std::move(reason);
        return false;
    }

    const std::string url_;
    HttpRequest base_request_;  // what every request for the file carries (its URL, timeout, signature)
    std::string fetch_url_;     // after redirects: later requests go straight there
    const RemoteSettings settings_;
    std::unique_ptr<CacheEntry> cache_;
    RemoteVersion version_;  // size -1 while unknown
    long long position_ = 0;
    std::vector<std::uint8_t> window_;  // bytes [window_start_, window_end()) at hand
    long long window_start_ = 0;
    ConnectionLease transfer_;                         // appends to window_ while busy
    long long transfer_end_ = 0;                       // the offset after the last byte the transfer brings
    long long stored_through_ = 0;                     // cache: the window's whole blocks before this are stored
    long long streak_end_ = -1;                        // where the last request ended: a read there runs on
    int streak_ = 0;                                   // requests in a row that ran on from the one before
    long long expected_from_ = 0, expected_end_ = -1;  // what the reader said it will read next
    ByteSourcePtr copy_;                               // the whole file, when the server ignores ranges
    std::string failure_;
    // A streamed transfer, received on a thread of its own; declared last, so it
    // stops before anything it could touch goes.
    std::unique_ptr<BackgroundTransfer> stream_;
};

bool RemoteFile::open(RemoteAccess access) {
    if (!settings_.error.empty()) return fail(settings_.error);
    if (fetch_url_.empty()) return fail("not the name of a file on a server");
    if (cache_ && cache_->known() && was_validated(url_)) {
        version_ = cache_->version();
        return true;
    }
    // Asked for already, beside other files: the answer kept for it serves this open (and, for a
    // signal file, the first read when it is for the part that was asked for).
    if (access != RemoteAccess::anywhere && !(cache_ && cache_->known()))
        if (std::optional<FetchedAnswer> answer = take_prefetched(url_, access == RemoteAccess::from_start))
            return open_prefetched(*answer, access);
    if (kept_answers_only()) return false;  // no answer kept: as if not there, and no server asked
    HttpRequest request = base_request_;
    request.head_only = access == RemoteAccess::anywhere;
    if (!request.head_only) {
        request.first = 0;
        request.last = kBlock - 1;
    }
    for (std::string &line : conditions(false)) request.headers.push_back(std::move(line));
    for (int attempt = 1;; ++attempt) {
        transfer_ = lease_connection(fetch_url_);
        if (!transfer_) return fail("no connection could be made (libcurl failed)");
        if (transfer_->start(request)) break;
        if (attempt >= kAttempts || !transfer_->failure_may_pass()) return fail(transfer_->error());
    }
    fetch_url_ = transfer_->effective_url().empty() ? base_request_.url : transfer_->effective_url();
    const HttpHead &head = transfer_->head();
    switch (head.status) {
        case 304:
            if (!cache_ || !cache_->known()) return fail("the server answered 304 Not Modified to a plain request");
            version_ = cache_->version();
            note_validated(url_);
            transfer_.give_back();
            return true;
        case 200:
        case 206: break;
        case 416:
            // Asked for the first block of an empty file.
            if (!head.has_content_range || head.range_total != 0) return fail(status_text(head));
            version_.size = 0;
            transfer_.give_back();
            return true;
        case 404:
        case 410: transfer_.give_back(); return false;
        default: return fail(status_text(head));
    }
    version_.etag = head.etag;
    version_.last_modified = head.last_modified;
    version_.size = head.status == 206 ? head.range_total : head.content_length;
    if (head.status == 206 && (!head.has_content_range || head.range_first != 0))
        return fail("the server answered with bytes that were not asked for");
    if (cache_ && version_.size >= 0) {
        cache_->adopt(version_);
        note_validated(url_);
    } else {
        cache_.reset();  // a file of unknown size is not cached
    }
    if (request.head_only) {
        transfer_.give_back();
        return true;
    }
    if (head.status == 200 && access == RemoteAccess::blockwise &&
        !(head.content_length >= 0 && head.content_length <= kBlock)) {
        // The whole file is coming, longer than a block (or of no length said): what the head says
        // is kept, and the body waits for a read. A file of a block or less is taken now, once.
        transfer_.give_back();
        return true;
    }
    if (head.status == 200) return take_whole_body();
    window_.clear();
    window_start_ = 0;
    stored_through_ = 0;
    transfer_end_ = head.range_last + 1;
    streak_end_ = transfer_end_;
    return true;
}

bool RemoteFile::open_prefetched(FetchedAnswer &answer, RemoteAccess access) {
    const HttpHead &head = answer.head;
    if (!answer.effective_url.empty()) fetch_url_ = answer.effective_url;
    if (answer.head_only) {
        // Whether it is there, its size and version: the bytes are asked for when read.
        if (head.status == 404 || head.status == 410) return false;
        if (head.status != 200) return fail(status_text(head));
        version_ = RemoteVersion{head.content_length, head.etag, head.last_modified};
        if (cache_ && version_.size >= 0) {
            cache_->adopt(version_);
            note_validated(url_);
        } else {
            cache_.reset();
        }
        return true;
    }
    switch (head.status) {
        case 200:
        case 206: break;
        case 416:
            // Asked for bytes past the end: the file is shorter (for a file read from its start, empty).
            if (!head.has_content_range || head.range_total < 0 ||
                (access == RemoteAccess::from_start && head.range_total != 0))
                return fail(status_text(head));
            version_.size = head.range_total;
            if (version_.size != 0) cache_.reset();  // its version is unknown: nothing is kept of it
            return true;
        case 404:
        case 410: return false;
        default: return fail(status_text(head));
    }
    if (head.status == 206 &&
        (!head.has_content_range || head.range_first < 0 ||
         (access == RemoteAccess::from_start && head.range_first != 0) || head.range_first % kBlock != 0))
        return fail("the server answered with bytes that were not asked for");
    const long long start = head.status == 206 ? head.range_first : 0;
    const auto got = static_cast<long long>(answer.body.size());
    const long long promised = head.status == 206 ? head.range_last + 1 - start : head.content_length;
    if (promised >= 0 && got != promised)
        return fail("short body: the server sent " + std::to_string(got) + " of " + std::to_string(promised) +
                    " bytes");
    version_.etag = head.etag;
    version_.last_modified = head.last_modified;
    version_.size = head.status == 206 ? head.range_total : got;
    if (cache_ && version_.size >= 0) {
        cache_->adopt(version_);
        note_validated(url_);
    } else {
        cache_.reset();
    }
    window_ = std::move(answer.body);
    window_start_ = start;
    stored_through_ = start;
    transfer_end_ = start + got;
    streak_end_ = transfer_end_;
    store_whole_blocks();
    if (cache_) cache_->save();
    return true;
}

std::vector<std::string> RemoteFile::conditions(bool for_range) const {
    std::vector<std::string> lines;
    if (for_range) {
        // Bytes of another version of the file must never be mixed with those read so far.
        if (!version_.etag.empty() && version_.etag.rfind("W/", 0) != 0)
            lines.push_back("If-Range: " + version_.etag);
        else if (!version_.last_modified.empty())
            lines.push_back("If-Range: " + version_.last_modified);
        return lines;
    }
    if (!cache_ || !cache_->known()) return lines;
    const RemoteVersion &cached = cache_->version();
    if (!cached.etag.empty()) lines.push_back("If-None-Match: " + cached.etag);
    if (!cached.last_modified.empty()) lines.push_back("If-Modified-Since: " + cached.last_modified);
    return lines;
}

long long RemoteFile::read(std::uint8_t *dest, std::size_t size) {
    if (size == 0) return 0;
    if (copy_) {
        if (!copy_->seek(position_)) return 0;
        long long got = copy_->read(dest, size);
        if (got > 0) position_ += got;
        if (got < 0) fail("the local copy of the file could not be read");
        return got;
    }
    if (version_.size >= 0 && position_ >= version_.size) return 0;
    if (!covers(position_)) {
        if (!fill_at(position_)) return -1;
        if (copy_) return read(dest, size);
        if (!covers(position_)) return 0;  // the file ends before
    }
    const auto n =
        static_cast<std::size_t>(std::min<long long>(static_cast<long long>(size), window_end() - position_));
    std::memcpy(dest, window_.data() + (position_ - window_start_), n);
    position_ += static_cast<long long>(n);
    return static_cast<long long>(n);
}

bool RemoteFile::fill_at(long long offset) {
    // The transfer under way brings it (or has brought it, still unread): read on.
    if ((transfer_ || stream_) && offset >= window_end() && offset < transfer_end_ &&
        offset - window_end() <= kSkipAhead) {
        if (pump(offset)) return true;
        if (!may_retry()) return false;
    }
    const long long block = block_of(offset);
    if (cache_ && cache_->has_block(block) && take_cached(block)) return true;
    // A read where the last request ended runs on: after two of those, the rest is streamed.
    streak_ = offset == streak_end_ ? streak_ + 1 : 0;
    long long count = streak_ < 2 ? 1 : kStreamBlocks;
    // Bytes the reader said it will read are asked for in one request, however many: it streams
    // ahead of the reads (the server held back by the connection's flow control once enough
    // waits unread), so a long read waits for no round trip after its first.
    if (offset >= expected_from_ && offset < expected_end_)
        count = std::max(count, std::min(kLongestRequestBlocks, block_of(expected_end_ - 1) - block + 1));
    for (int attempt = 1;; ++attempt) {
        if (!request_blocks(block, count)) {
            if (copy_) return true;
            if (failure_.empty()) return true;  // past the end
            if (attempt >= kAttempts || !may_retry()) return false;
            continue;
        }
        if (copy_) return true;
        if (pump(offset)) return true;
        if (attempt >= kAttempts || !may_retry()) return false;
    }
}

bool RemoteFile::take_cached(long long block) {
    end_transfers();
    const long long blocks = version_.size >= 0 ? (version_.size + kBlock - 1) / kBlock : 0;
    long long end = block;
    while (end < blocks && end - block < kCachedRun && cache_->has_block(end)) ++end;
    const long long first = block * kBlock, last = std::min(end * kBlock, version_.size);
    if (last <= first) return false;
    window_.resize(static_cast<std::size_t>(last - first));
    for (long long k = block; k < end; ++k) {
        const long long at = k * kBlock - first;
        const auto length = static_cast<std::size_t>(std::min(kBlock, version_.size - k * kBlock));
        if (!cache_->read_block(k, window_.data() + at, length)) {
            window_.clear();
            return false;
        }
    }
    window_start_ = first;
    stored_through_ = last;
    streak_end_ = -1;
    return true;
}

bool RemoteFile::request_blocks(long long block, long long count) {
    failure_.clear();
    const long long total_blocks = version_.size >= 0 ? (version_.size + kBlock - 1) / kBlock : -1;
    if (total_blocks >= 0) count = std::min(count, total_blocks - block);
    // Blocks already in the cache are not fetched again.
    if (cache_)
        for (long long k = block + 1; k < block + count; ++k)
            if (cache_->has_block(k)) {
                count = k - block;
                break;
            }
    if (count <= 0) return false;  // at or past the end: nothing to fetch
    HttpRequest request = base_request_;
    request.url = fetch_url_;
    request.first = block * kBlock;
    request.last = (block + count) * kBlock - 1;
    if (version_.size >= 0) request.last = std::min(request.last, version_.size - 1);
    for (std::string &line : conditions(true)) request.headers.push_back(std::move(line));
    stream_.reset();
    // The rest of a short transfer (the first block an open asked for) is read off rather than cut:
    // cutting it would close the connection, and the next request would wait for a new one.
    if (transfer_ && transfer_->busy()) transfer_->settle();
    if (!transfer_) transfer_ = lease_connection(fetch_url_);
    if (!transfer_) return fail("no connection could be made (libcurl failed)");
    if (!transfer_->start(request)) return fail(transfer_->error());
    const HttpHead &head = transfer_->head();
    if (head.status == 206) {
        if (!head.has_content_range || head.range_first != request.first || head.range_last > request.last)
            return fail("the server answered with bytes that were not asked for");
        if (version_.size >= 0 && head.range_total >= 0 && head.range_total != version_.size)
            return fail("the file changed on the server while it was read (its size is now " +
                        std::to_string(head.range_total) + " bytes)");
        if (!version_.etag.empty() && !head.etag.empty() && head.etag != version_.etag)
            return fail("the file changed on the server while it was read");
        if (version_.size < 0) version_.size = head.range_total;
        window_.clear();
        window_start_ = request.first;
        stored_through_ = request.first;
        transfer_end_ = head.range_last + 1;
        streak_end_ = transfer_end_;
        // A long transfer is received beside the decoding; a short one is not worth a thread.
        if (count > 2) {
            try {
                stream_ = std::make_unique<BackgroundTransfer>(std::move(transfer_));
            } catch (const std::system_error &) {
                // No thread to be had: the transfer is received as it is read.
            }
        }
        return true;
    }
    if (head.status == 200) {
        RemoteVersion answered{head.content_length, head.etag, head.last_modified};
        // With If-Range, a whole answer means another version; without ranges at all, the same one.
        if (version_.size >= 0 && !answered.same_as(version_)) {
            if (cache_) cache_.reset();
            return fail("the file changed on the server while it was read");
        }
        return take_whole_body();
    }
    if (head.status == 416) {
        if (head.has_content_range && head.range_total >= 0) version_.size = head.range_total;
        transfer_.give_back();
        return false;  // past the end, no failure
    }
    if (head.status == 404 || head.status == 410)
        return fail("the file is no longer on the server (" + status_text(head) + ")");
    return fail(status_text(head));
}

bool RemoteFile::pump_stream(long long offset) {
    while (!covers(offset)) {
        const auto wanted = static_cast<std::size_t>(offset - window_end() + 1);
        if (!cache_ && offset == window_end()) {
            // Everything at hand has been read and nothing is kept for a cache: the
            // received buffer becomes the window as it is.
            window_start_ = window_end();
            stored_through_ = window_start_;
            stream_->take_all(window_, wanted);
        } else {
            stream_->take(window_, wanted);
        }
        if (window_end() > transfer_end_) return fail("the server sent more bytes than asked for");
        store_whole_blocks();
        if (covers(offset)) break;
        if (stream_->finished()) {
            if (!stream_->succeeded()) return fail(stream_->error());
            if (window_end() < transfer_end_)
                return fail("short body: the server sent " + std::to_string(stream_->received()) + " of " +
                            std::to_string(transfer_end_ - window_start_) + " bytes");
            break;
        }
    }
    if (stream_->finished()) {
        if (cache_) cache_->save();
        stream_.reset();
    }
    return true;
}

bool RemoteFile::pump(long long offset) {
    trim_window(offset);
    if (stream_) return pump_stream(offset);
    HttpConnection &connection = *transfer_;
    // The body is appended to the window as it arrives, with no copy in between.
    if (window_.capacity() < static_cast<std::size_t>(transfer_end_ - window_start_))
        window_.reserve(static_cast<std::size_t>(std::min(transfer_end_ - window_start_, kStreamBlocks * kBlock)));
    connection.deliver_to(&window_, window_.size());
    connection.consume(connection.available());
    store_whole_blocks();
    while (!covers(offset)) {
        connection.receive(static_cast<std::size_t>(offset - window_end() + 1));
        connection.consume(connection.available());
        if (window_end() > transfer_end_) return fail("the server sent more bytes than asked for");
        store_whole_blocks();
        if (covers(offset)) break;
        if (connection.finished()) {
            if (!connection.succeeded()) return fail(connection.error());
            if (window_end() < transfer_end_)
                return fail("short body: the server sent " + std::to_string(connection.received()) + " of " +
                            std::to_string(transfer_end_ - window_start_) + " bytes");
            break;  // the range ended before `offset`
        }
    }
    // A transfer that has brought all it promised goes back to the pool at once.
    if (transfer_ && transfer_->finished()) {
        if (cache_) cache_->save();
        transfer_.give_back();
    }
    return true;
}

void RemoteFile::store_whole_blocks() {
    if (!cache_ || version_.size < 0) {
        stored_through_ = window_end();  // nothing to keep: every byte may be dropped once read
        return;
    }
    while (stored_through_ < window_end()) {
        const long long length = std::min(kBlock, version_.size - stored_through_);
        if (length <= 0 || stored_through_ + length > window_end()) break;
        if (stored_through_ >= window_start_)
            cache_->store_block(block_of(stored_through_), window_.data() + (stored_through_ - window_start_),
                                static_cast<std::size_t>(length));
        stored_through_ += length;
    }
}

void RemoteFile::keep_the_rest() {
    // A request of a few blocks that the reads left unfinished (a window ends inside
    // its last block) is received to its end when a cache keeps what comes: those
    // bytes are on their way already, and the block they end is then cached whole
    // instead of being asked for again by the next read. A long stream is left.
    if (!cache_ || !transfer_ || stream_ || !failure_.empty()) return;
    const long long rest = transfer_end_ - window_end();
    if (rest <= 0 || rest > kBlock) return;
    try {
        pump(transfer_end_ - 1);
    } catch (...) {
        // Closing never fails: what could not be kept is fetched again when it is read.
    }
}

void RemoteFile::trim_window(long long offset) {
    // Keep a block behind the read for short seeks back; drop the rest once it is worth a move:
    // at least as many bytes go as stay, so moving what stays costs no more than what was read.
    const long long keep_from = std::max(window_start_, (block_of(offset) - 1) * kBlock);
    const long long drop = std::min(keep_from, std::min(stored_through_, window_end())) - window_start_;
    if (drop < 4 * kBlock || drop < window_end() - window_start_ - drop) return;
    window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(drop));
    window_start_ += drop;
}

bool RemoteFile::take_whole_body() {
    // The whole file arrives whatever was asked: it is kept in a temporary file, read from then on.
    std::FILE *temporary = std::tmpfile();
    int fd = temporary ? ::dup(fileno(temporary)) : -1;
    if (temporary) std::fclose(temporary);
    if (fd < 0) return fail("no temporary file for the whole file the server sent");
    ByteSourcePtr copy = adopt_file_descriptor(fd);
    if (!copy) return fail("no temporary file for the whole file the server sent");
    // A length the temporary folder can not hold is refused before a byte is written; a
    // body without one is held to the memory ceiling, as nothing else says where it ends.
    struct statvfs space{};
    if (version_.size >= 0 && ::fstatvfs(fd, &space) == 0 &&
        static_cast<unsigned long long>(version_.size) >
            static_cast<unsigned long long>(space.f_bavail) * static_cast<unsigned long long>(space.f_frsize))
        return fail("the server says the file has " + std::to_string(version_.size) +
                    " bytes, more than the temporary folder has free for a copy of it (it ignores ranges)");
    const long long unsized_limit = max_record_memory();
    HttpConnection &connection = *transfer_;
    long long written = 0;
    std::vector<std::uint8_t> block;  // cache: the bytes of the block being filled
    long long block_start = 0;
    const bool caching = cache_ && version_.size >= 0;
    for (;;) {
        const bool ok = connection.receive(static_cast<std::size_t>(kBlock));
        const std::size_t n = connection.available();
        for (std::size_t done = 0; done < n;) {
            ssize_t put = ::write(fd, connection.data() + done, n - done);
            if (put <= 0) return fail("the temporary copy of the file could not be written");
            done += static_cast<std::size_t>(put);
        }
        if (caching) {
            block.insert(block.end(), connection.data(), connection.data() + n);
            while (static_cast<long long>(block.size()) >= kBlock) {
                cache_->store_block(block_of(block_start), block.data(), static_cast<std::size_t>(kBlock));
                block.erase(block.begin(), block.begin() + kBlock);
                block_start += kBlock;
            }
        }
        written += static_cast<long long>(n);
        connection.consume(n);
        if (version_.size >= 0 && written > version_.size) return fail("the server sent more bytes than it said");
        if (version_.size < 0 && written > unsized_limit)
            return fail("the server sent more than " + megabytes(unsized_limit) +
                        " without saying how long the file is: past the record memory ceiling "
                        "(SIGTROVE_MAX_RECORD_MEMORY)");
        if (!ok) return fail(connection.error());
        if (connection.finished()) break;
    }
    if (caching && !block.empty() && block_start + static_cast<long long>(block.size()) == version_.size)
        cache_->store_block(block_of(block_start), block.data(), block.size());
    if (version_.size >= 0 && written != version_.size)
        return fail("short body: the server sent " + std::to_string(written) + " of " + std::to_string(version_.size) +
                    " bytes");
    version_.size = written;
    copy_ = std::move(copy);
    transfer_.give_back();
    return true;
}

}  // namespace

RemoteOpening open_remote_file(const std::string &url, RemoteAccess access) {
    RemoteSettings settings = remote_settings();
    // Opened from a kept answer only, the file leaves nothing in the cache: its real open does.
    std::unique_ptr<CacheEntry> cache = kept_answers_only() ? nullptr : CacheEntry::open(settings.cache_directory, url);
    auto file = std::make_unique<RemoteFile>(url, std::move(settings), std::move(cache));
    RemoteOpening opening;
    if (file->open(access)) {
        opening.source = std::move(file);
    } else if (!file->failure_reason().empty()) {
        opening.failure = file->failure();
    }
    return opening;
}

bool remote_files_supported() { return true; }

#else  // built without libcurl

RemoteOpening open_remote_file(const std::string &url, RemoteAccess) {
    RemoteOpening opening;
    opening.failure = url + ": this sigtrove engine was built without libcurl, which reading URLs needs";
    return opening;
}

bool remote_files_supported() { return false; }

#endif

void reset_remote_state() {
    {
        std::lock_guard<std::mutex> guard(validated_lock());
        validated_urls().clear();
    }
    forget_prefetched_files();
#if SIGTROVE_HAVE_CURL
    close_idle_connections();
#endif
}

}  // namespace sigtrove::engine
