// One connection to web servers, through libcurl: a request at a time, its
// response head, and its body as it arrives. The body is taken as it comes, so
// a reader can decode the first bytes of a long transfer while the rest is on
// its way; between requests the connection stays open and is used again.
// Redirects are followed only to the same host (redirect_allowed), a head whose
// Content-Length is no number fails, the head must come whole within the
// timeout, and a body that falls below the rate floor for the timeout's length
// while it is waited for fails (TransferRate).
#ifndef SIGTROVE_ENGINE_HTTP_CONNECTION_H
#define SIGTROVE_ENGINE_HTTP_CONNECTION_H

#if SIGTROVE_HAVE_CURL

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "network/curl_handles.h"
#include "network/transfer_rate.h"

namespace sigtrove::engine {

struct HttpRequest {
    std::string url;
    bool head_only = false;            // HEAD: the response head without a body
    long long first = -1, last = -1;   // the bytes asked for, both included; first < 0 for the whole file
    std::vector<std::string> headers;  // further request lines ("If-None-Match: ...")
    double timeout_seconds = 30;       // for the connection, and the rate floor's stretch
    // AWS Signature Version 4 ("aws:amz:REGION:s3") with this key, when not empty.
    // Never shown in any text.
    std::string aws_sigv4, aws_key, aws_secret;
};

// What the final response's head says (after any redirects).
struct HttpHead {
    long status = 0;
    std::string reason;             // the status line's text ("Not Found"), as printable_text shows it
    long long content_length = -1;  // -1 when not given
    bool has_content_range = false;
    long long range_first = -1;  // "bytes FIRST-LAST/TOTAL"; FIRST is -1 for "bytes */TOTAL"
    long long range_last = -1;
    long long range_total = -1;  // -1 for "/*"
    std::string etag;
    std::string last_modified;
};

class HttpConnection {
public:
    // Null when libcurl can not give the handles.
    static std::unique_ptr<HttpConnection> make();
    ~HttpConnection();
    HttpConnection(const HttpConnection &) = delete;
    HttpConnection &operator=(const HttpConnection &) = delete;

    // Sends `request` (ending any transfer still in flight) and waits for the
    // head of the final response. False when no response came: error() says why.
    bool start(const HttpRequest &request);
    const HttpHead &head() const { return head_; }
    // The URL the final response came from.
    const std::string &effective_url() const { return effective_url_; }

    // Waits until at least `wanted` unread body bytes are at hand or the body
    // has ended. False when the transfer failed first: error() says why (the
    // bytes that did arrive stay readable).
    bool receive(std::size_t wanted);
    const std::uint8_t *data() const { return body_->data() + body_begin_; }
    std::size_t available() const { return body_->size() - body_begin_; }
    void consume(std::size_t n);

    // Makes the body go straight to the end of `sink` (which must outlive the
    // transfer) instead of the connection's own buffer: a reader that keeps the
    // bytes anyway saves a copy. data()/available()/consume() then read `sink`.
    void deliver_to(std::vector<std::uint8_t> *sink, std::size_t unread_from);

    // True once the transfer is over: the whole body arrived, or it failed.
    bool finished() const { return finished_; }
    // True when the transfer is over and succeeded (every byte the head promised arrived).
    bool succeeded() const { return finished_ && result_ == CURLE_OK; }
    // The number of body bytes received so far.
    long long received() const { return received_; }
    // Whether the failure is one that a fresh connection may not have: a
    // connection closed early or reset, an empty answer.
    bool failure_may_pass() const;
    const std::string &error() const { return error_; }

    // Ends a transfer in flight without its rest; the connection is closed then, not reused.
    void stop();
    // Ends a transfer in flight so that the connection can be used again: a
    // response with no body or a short rest is read to its end, a longer one is stopped.
    void settle();
    // Makes a receive() under way on another thread return at once, and every
    // later one until the next start(). The only call that may come from a thread
    // other than the one driving the transfer.
    void interrupt() {
        interrupted_ = true;
        curl_multi_wakeup(multi_.get());
    }
    // True while a transfer is in flight.
    bool busy() const { return attached_ && !finished_; }

    // Transfers side by side (ConcurrentFetch): begin() sends `request` and
    // returns at once; step() moves the transfer on as far as it goes without
    // waiting, and wait_for() adds the sockets it waits on (and how long it may
    // wait before it must be stepped again). head_received() tells when the
    // final response's head has come; the rest is as after start().
    bool begin(const HttpRequest &request);
    void step();
    void wait_for(std::vector<curl_waitfd> &sockets, long &timeout_ms);
    bool head_received() const { return head_done_; }

private:
    HttpConnection(CurlEasy easy, CurlMulti multi) : easy_(std::move(easy)), multi_(std::move(multi)) {}

    bool configure(const HttpRequest &request);
    // Everything start() and begin() share: the state reset, the request sent.
    bool send(const HttpRequest &request);
    // Drives the transfer until `done()` holds or the transfer ends; false on failure.
    template <class Done>
    bool drive(Done done);
    // Counts `seconds` spent waiting against the head's timeout or the rate floor; false once the transfer failed.
    bool account_wait(double seconds);
    void collect_result();
    void fail(std::string text);
    void detach();

    static std::size_t on_body(char *data, std::size_t size, std::size_t count, void *self);
    static std::size_t on_header(char *data, std::size_t size, std::size_t count, void *self);
    // False when the line fails the transfer (refusal_ says why).
    bool take_header_line(std::string_view line);
    // Refuses a redirect to `location` that redirect_allowed does not follow.
    bool check_redirect(std::string_view location);

    CurlEasy easy_;
    CurlMulti multi_;
    CurlList headers_;
    char error_buffer_[CURL_ERROR_SIZE] = {};
    double timeout_seconds_ = 30;
    bool head_only_ = false;
    std::atomic<bool> interrupted_{false};
    bool attached_ = false;  // the easy handle is in the multi handle
    bool finished_ = false;
    CURLcode result_ = CURLE_OK;
    std::string error_;
    HttpHead head_;
    bool head_done_ = false;  // the final response's head has been read
    std::string refusal_;     // why a response head was refused (a redirect elsewhere, a bad length)
    double head_waited_ = 0;  // seconds spent waiting for the final response's head
    TransferRate rate_{30};   // the body's bytes against the rate floor, once the head has come
    long long rate_counted_ = 0;
    bool has_location_ = false;
    std::string effective_url_;
    std::vector<std::uint8_t> own_body_;
    std::vector<std::uint8_t> *body_ = &own_body_;
    std::size_t body_begin_ = 0;
    long long received_ = 0;
    std::chrono::steady_clock::time_point stepped_at_{};     // begin()/step(): the last step
    std::chrono::steady_clock::time_point progressed_at_{};  // ... and the last one that brought something
};

}  // namespace sigtrove::engine

#endif

#endif
