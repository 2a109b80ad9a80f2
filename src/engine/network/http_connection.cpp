#include "network/http_connection.h"

#if SIGTROVE_HAVE_CURL

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <sys/select.h>

#include "network/url_text.h"

namespace sigtrove::engine {
namespace {

// Body bytes libcurl hands over at once: fewer, larger deliveries when data stream in.
constexpr long kReceiveBufferBytes = 64 * 1024;
// How long one wait for the sockets lasts before the transfer is looked at again.
constexpr int kPollMilliseconds = 200;
// Beyond libcurl's own timeouts, a transfer that makes no progress for this much
// longer than the timeout is ended here: no state of libcurl may make a read hang.
constexpr double kWatchdogGraceSeconds = 5;

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// A decimal number filling `text`; -1 when it is not one.
long long decimal(std::string_view text) {
    if (text.empty() || text.size() > 18) return -1;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// "bytes FIRST-LAST/TOTAL" or "bytes */TOTAL" (TOTAL may be '*').
void parse_content_range(std::string_view value, HttpHead &head) {
    if (value.rfind("bytes ", 0) != 0) return;
    value.remove_prefix(6);
    std::size_t slash = value.find('/');
    if (slash == std::string_view::npos) return;
    std::string_view range = trimmed(value.substr(0, slash)), total = trimmed(value.substr(slash + 1));
    head.has_content_range = true;
    head.range_total = total == "*" ? -1 : decimal(total);
    if (range == "*") return;
    std::size_t dash = range.find('-');
    if (dash == std::string_view::npos) {
        head.has_content_range = false;
        return;
    }
    head.range_first = decimal(range.substr(0, dash));
    head.range_last = decimal(range.substr(dash + 1));
    if (head.range_first < 0 || head.range_last < head.range_first) head.has_content_range = false;
}

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}  // namespace

std::unique_ptr<HttpConnection> HttpConnection::make() {
    if (!curl_ready()) return nullptr;
    CurlEasy easy(curl_easy_init());
    CurlMulti multi(curl_multi_init());
    if (!easy || !multi) return nullptr;
    // One transfer at a time: a few cached connections are plenty.
    curl_multi_setopt(multi.get(), CURLMOPT_MAXCONNECTS, 4L);
    return std::unique_ptr<HttpConnection>(new HttpConnection(std::move(easy), std::move(multi)));
}

HttpConnection::~HttpConnection() { detach(); }

void HttpConnection::detach() {
    if (!attached_) return;
    curl_multi_remove_handle(multi_.get(), easy_.get());
    attached_ = false;
}

void HttpConnection::stop() {
    if (!attached_) return;
    // Removing an unfinished transfer makes libcurl close its connection.
    detach();
    if (!finished_) {
        finished_ = true;
        result_ = CURLE_ABORTED_BY_CALLBACK;
        error_ = "the transfer was stopped";
    }
}

void HttpConnection::settle() {
    if (!attached_ || finished_) return;
    // Reading a rest this short costs less than making a new connection (and TLS handshake) later.
    constexpr long long kShortRest = 64 * 1024;
    const long long rest = head_.content_length >= 0 ? head_.content_length - received_ : -1;
    if (head_done_ && !interrupted_ &&
        (head_only_ || head_.status == 304 || head_.status == 204 || (rest >= 0 && rest <= kShortRest)))
        drive([] { return false; });
    stop();
}

bool HttpConnection::configure(const HttpRequest &request) {
    CURL *easy = easy_.get();
    // Everything but the connections is reset: no option of one request leaks into the next.
    curl_easy_reset(easy);
    headers_.reset();
    for (const std::string &line : request.headers) {
        curl_slist *list = curl_slist_append(headers_.get(), line.c_str());
        if (!list) return false;
        headers_.release();
        headers_.reset(list);
    }
    timeout_seconds_ = request.timeout_seconds;
    head_only_ = request.head_only;
    const long timeout_ms = static_cast<long>(std::ceil(request.timeout_seconds * 1000));
    bool ok = curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str()) == CURLE_OK;
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, "sigtrove/" SIGTROVE_VERSION);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error_buffer_);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpConnection::on_body);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpConnection::on_header);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    if (headers_) curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers_.get());
    if (request.head_only) curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
    if (!request.aws_sigv4.empty()) {
        ok = ok && curl_easy_setopt(easy, CURLOPT_AWS_SIGV4, request.aws_sigv4.c_str()) == CURLE_OK;
        curl_easy_setopt(easy, CURLOPT_USERNAME, request.aws_key.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, request.aws_secret.c_str());
    }
    std::string range;
    if (request.first >= 0) {
        range = std::to_string(request.first) + "-" + (request.last >= 0 ? std::to_string(request.last) : "");
        curl_easy_setopt(easy, CURLOPT_RANGE, range.c_str());  // copied by libcurl
    }
    // The certificates to trust, as the curl tool takes them from the environment:
    // CURL_CA_BUNDLE, else SSL_CERT_FILE; SSL_CERT_DIR names a directory of them.
    const char *bundle = std::getenv("CURL_CA_BUNDLE");
    if (!bundle || !*bundle) bundle = std::getenv("SSL_CERT_FILE");
    if (bundle && *bundle) curl_easy_setopt(easy, CURLOPT_CAINFO, bundle);
    if (const char *directory = std::getenv("SSL_CERT_DIR"); directory && *directory)
        curl_easy_setopt(easy, CURLOPT_CAPATH, directory);
    return ok;
}

bool HttpConnection::start(const HttpRequest &request) {
    if (!send(request)) return false;
    drive([this] { return head_done_; });
    if (!head_done_) {
        if (error_.empty()) fail("no response");
        return false;
    }
    char *url = nullptr;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) effective_url_ = url;
    return true;
}

bool HttpConnection::begin(const HttpRequest &request) {
    if (!send(request)) return false;
    stepped_at_ = progressed_at_ = std::chrono::steady_clock::now();
    return true;
}

void HttpConnection::step() {
    if (!attached_ || finished_) return;
    const bool had_head = head_done_;
    const long long had = received_;
    int running = 0;
    CURLMcode code = curl_multi_perform(multi_.get(), &running);
    if (code != CURLM_OK) {
        fail(curl_multi_strerror(code));
        detach();
        return;
    }
    collect_result();
    const auto now = std::chrono::steady_clock::now();
    if (!account_wait(std::chrono::duration<double>(now - stepped_at_).count())) detach();
    stepped_at_ = now;
    if (head_done_ && !had_head) {
        char *url = nullptr;
        if (curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url) effective_url_ = url;
    }
    if (head_done_ != had_head || received_ != had) {
        progressed_at_ = now;
    } else if (!finished_ &&
               std::chrono::duration<double>(now - progressed_at_).count() > timeout_seconds_ + kWatchdogGraceSeconds) {
        fail("no answer within " + seconds_text(timeout_seconds_) + " s");
        detach();
    }
    if (finished_ && !head_done_ && error_.empty()) fail("no response");
}

void HttpConnection::wait_for(std::vector<curl_waitfd> &sockets, long &timeout_ms) {
    if (!attached_ || finished_) return;
    long wanted = -1;
    if (curl_multi_timeout(multi_.get(), &wanted) == CURLM_OK && wanted >= 0) timeout_ms = std::min(timeout_ms, wanted);
    fd_set read_set, write_set, error_set;
    FD_ZERO(&read_set);
    FD_ZERO(&write_set);
    FD_ZERO(&error_set);
    int highest = -1;
    if (curl_multi_fdset(multi_.get(), &read_set, &write_set, &error_set, &highest) != CURLM_OK || highest < 0) {
        // No socket to wait on yet (a name being resolved): look again soon.
        timeout_ms = std::min(timeout_ms, 5L);
        return;
    }
    for (int fd = 0; fd <= highest; ++fd) {
        curl_waitfd socket{fd, 0, 0};
        if (FD_ISSET(fd, &read_set)) socket.events |= CURL_WAIT_POLLIN;
        if (FD_ISSET(fd, &write_set)) socket.events |= CURL_WAIT_POLLOUT;
        if (FD_ISSET(fd, &error_set)) socket.events |= CURL_WAIT_POLLPRI;
        if (socket.events) sockets.push_back(socket);
    }
}

bool HttpConnection::send(const HttpRequest &request) {
    stop();
    detach();
    finished_ = false;
    interrupted_ = false;
    result_ = CURLE_OK;
    error_.clear();
    error_buffer_[0] = '\0';
    head_ = HttpHead{};
    head_done_ = has_location_ = false;
    head_waited_ = 0;
    rate_counted_ = 0;
    refusal_.clear();
    rate_ = TransferRate(request.timeout_seconds);
    effective_url_.clear();
    own_body_.clear();
    body_ = &own_body_;
    body_begin_ = 0;
    received_ = 0;
    if (!configure(request)) {
        fail("the request could not be prepared");
        return false;
    }
    if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) {
        fail("the request could not be started");
        return false;
    }
    attached_ = true;
    return true;
}

bool HttpConnection::receive(std::size_t wanted) {
    drive([this, wanted] { return available() >= wanted; });
    return available() >= wanted || succeeded();
}

void HttpConnection::consume(std::size_t n) {
    body_begin_ += std::min(n, available());
    // Keep the own buffer from growing: drop what was read once it is most of it.
    if (body_ == &own_body_ && body_begin_ > 0 && body_begin_ * 2 >= own_body_.size()) {
        own_body_.erase(own_body_.begin(), own_body_.begin() + static_cast<std::ptrdiff_t>(body_begin_));
        body_begin_ = 0;
    }
}

void HttpConnection::deliver_to(std::vector<std::uint8_t> *sink, std::size_t unread_from) {
    // Bytes already in the own buffer move over first, so none is lost or reordered.
    if (body_ == &own_body_) {
        sink->insert(sink->end(), own_body_.begin() + static_cast<std::ptrdiff_t>(body_begin_), own_body_.end());
        own_body_.clear();
    }
    body_ = sink;
    body_begin_ = unread_from;
}

template <class Done>
bool HttpConnection::drive(Done done) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point last_progress = Clock::now(), waited_from = last_progress;
    long long seen = received_;
    bool seen_head = head_done_;
    const auto patience = std::chrono::duration<double>(timeout_seconds_ + kWatchdogGraceSeconds);
    while (!done() && !finished_ && !interrupted_) {
        int running = 0;
        CURLMcode code = curl_multi_perform(multi_.get(), &running);
        if (code != CURLM_OK) {
            fail(curl_multi_strerror(code));
            detach();
            return false;
        }
        collect_result();
        // Counted before done() is asked: a trickle fails even when each wait gets the byte it wanted.
        Clock::time_point now = Clock::now();
        if (!account_wait(std::chrono::duration<double>(now - waited_from).count())) {
            detach();
            return false;
        }
        waited_from = now;
        if (done() || finished_) break;
        curl_multi_poll(multi_.get(), nullptr, 0, kPollMilliseconds, nullptr);
        now = Clock::now();
        if (received_ != seen || head_done_ != seen_head) {
            seen = received_;
            seen_head = head_done_;
            last_progress = now;
        } else if (now - last_progress > patience) {
            fail("no answer within " + seconds_text(timeout_seconds_) + " s");
            detach();
            return false;
        }
    }
    return !finished_ || result_ == CURLE_OK;
}

bool HttpConnection::account_wait(double seconds) {
    if (finished_) return true;
    if (!head_done_) {
        // A head is a few hundred bytes: it comes whole within the timeout, or not at all.
        head_waited_ += seconds;
        if (head_waited_ < timeout_seconds_) return true;
        fail("timed out: no answer (a whole response head) within " + seconds_text(timeout_seconds_) + " s");
        return false;
    }
    rate_.waited(seconds, received_ - rate_counted_);
    rate_counted_ = received_;
    if (!rate_.too_slow()) return true;
    fail(rate_.failure());
    return false;
}

void HttpConnection::collect_result() {
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(multi_.get(), &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        finished_ = true;
        result_ = message->data.result;
        detach();
        if (result_ == CURLE_OK) continue;
        if (!refusal_.empty()) {
            fail(refusal_);
            continue;
        }
        std::string detail = error_buffer_[0] ? std::string(error_buffer_) : curl_easy_strerror(result_);
        switch (result_) {
            case CURLE_OPERATION_TIMEDOUT:
                fail("timed out: nothing arrived for " + seconds_text(timeout_seconds_) + " s (" + detail + ")");
                break;
            case CURLE_PARTIAL_FILE:
                fail("the connection closed before the whole body arrived (" + detail + ")");
                break;
            case CURLE_PEER_FAILED_VERIFICATION:
            case CURLE_SSL_CONNECT_ERROR:
            case CURLE_SSL_CERTPROBLEM:
            case CURLE_SSL_CIPHER:
            case CURLE_SSL_CACERT_BADFILE: fail("TLS failed (" + detail + ")"); break;
            default: fail(detail); break;
        }
    }
}

void HttpConnection::fail(std::string text) {
    if (error_.empty()) error_ = std::move(text);
    if (!finished_) {
        finished_ = true;
        if (result_ == CURLE_OK) result_ = CURLE_ABORTED_BY_CALLBACK;
    }
}

bool HttpConnection::failure_may_pass() const {
    switch (result_) {
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR: return true;
        default: return false;
    }
}

std::size_t HttpConnection::on_body(char *data, std::size_t size, std::size_t count, void *self) {
    auto &connection = *static_cast<HttpConnection *>(self);
    const std::size_t bytes = size * count;
    try {
        connection.body_->insert(connection.body_->end(), data, data + bytes);
    } catch (...) {
        connection.fail("out of memory for the body");
        return CURL_WRITEFUNC_ERROR;
    }
    connection.received_ += static_cast<long long>(bytes);
    return bytes;
}

std::size_t HttpConnection::on_header(char *data, std::size_t size, std::size_t count, void *self) {
    auto &connection = *static_cast<HttpConnection *>(self);
    const std::size_t bytes = size * count;
    try {
        if (!connection.take_header_line(std::string_view(data, bytes))) return 0;  // fails the transfer
    } catch (...) {
        return 0;
    }
    return bytes;
}

bool HttpConnection::check_redirect(std::string_view location) {
    // Where the redirect leads: the Location resolved against the URL it answers.
    char *current = nullptr;
    if (curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &current) != CURLE_OK || !current) return true;
    std::string target;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), &curl_url_cleanup);
    const std::string location_text(location);
    char *resolved = nullptr;
    if (url && curl_url_set(url.get(), CURLUPART_URL, current, 0) == CURLUE_OK &&
        curl_url_set(url.get(), CURLUPART_URL, location_text.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
        curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) == CURLUE_OK && resolved) {
        target = resolved;
        curl_free(resolved);
    }
    if (!target.empty() && redirect_allowed(current, target)) return true;
    refusal_ = "redirected to " + printable_text(target.empty() ? location : std::string_view(target)) +
               ", which is not on the same host by the same scheme (or from http to https): not followed";
    return false;
}

bool HttpConnection::take_header_line(std::string_view line) {
    if (line.rfind("HTTP/", 0) == 0) {
        // Every response (a redirect, "100 Continue", the final one) starts afresh.
        head_ = HttpHead{};
        has_location_ = false;
        head_done_ = false;
        std::size_t space = line.find(' ');
        if (space != std::string_view::npos) {
            std::string_view rest = line.substr(space + 1);
            std::size_t code_end = rest.find(' ');
            head_.status = decimal(trimmed(rest.substr(0, code_end)));
            if (code_end != std::string_view::npos) head_.reason = printable_text(trimmed(rest.substr(code_end + 1)));
        }
        return true;
    }
    if (trimmed(line).empty()) {
        const long status = head_.status;
        const bool followed = status >= 300 && status < 400 && status != 304 && has_location_;
        if (status >= 200 && !followed) head_done_ = true;
        return true;
    }
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return true;
    std::string_view name = trimmed(line.substr(0, colon)), value = trimmed(line.substr(colon + 1));
    if (equals_ignoring_case(name, "content-length")) {
        head_.content_length = decimal(value);
        if (head_.content_length < 0) {
            refusal_ = "the server's Content-Length '" + printable_text(value) + "' is not a number of bytes";
            return false;
        }
    } else if (equals_ignoring_case(name, "content-range"))
        parse_content_range(value, head_);
    else if (equals_ignoring_case(name, "etag"))
        head_.etag = std::string(value);
    else if (equals_ignoring_case(name, "last-modified"))
        head_.last_modified = std::string(value);
    else if (equals_ignoring_case(name, "location")) {
        has_location_ = true;
        const long status = head_.status;
        if (status >= 300 && status < 400 && status != 304) return check_redirect(value);
    }
    return true;
}

}  // namespace sigtrove::engine

#endif
