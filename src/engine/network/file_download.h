// One file of a web server fetched for a program that keeps it (the download
// command's mirror): a GET, from a byte on when a copy was cut short, or a HEAD
// for its size, through the engine's connections and with their rules (the
// timeout, the rate floor, the certificates, redirects only to the same host, a
// Content-Length that must be a number, credentials never shown). The body is
// handed out a piece at a time; one that says not how long it is is held to the
// memory ceiling. Used from one thread at a time.
#ifndef SIGTROVE_ENGINE_FILE_DOWNLOAD_H
#define SIGTROVE_ENGINE_FILE_DOWNLOAD_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "errors/status.h"

namespace sigtrove::engine {

// What the answer's head says.
struct DownloadHead {
    long status = 0;
    std::string reason;             // the status line's text, printable
    long long content_length = -1;  // -1 when not given
    bool has_content_range = false;
    long long range_first = -1;  // "bytes FIRST-LAST/TOTAL"; -1 for "bytes */TOTAL"
    long long range_total = -1;  // -1 for "/*"
};

class FileDownload {
public:
    FileDownload();
    ~FileDownload();
    FileDownload(const FileDownload &) = delete;
    FileDownload &operator=(const FileDownload &) = delete;

    // Sends the request for `url` (a HEAD with `head_only`, else a GET of its
    // bytes from `first` on, the whole file when `first` is 0) and waits for the
    // answer's head. A failure (no connection, TLS, the timeout, a redirect
    // elsewhere, a libcurl-less build) is a remote failure naming the URL.
    Status start(const std::string &url, long long first, bool head_only);
    const DownloadHead &head() const { return head_; }

    // Waits for up to `limit` bytes of the body and copies them to `out`: `got`
    // is 0 once the body has ended. A transfer that fails (too slow, cut short, a
    // body with no length past the memory ceiling) is a remote failure.
    Status read(std::uint8_t *out, std::size_t limit, std::size_t &got);

    // Ends the transfer (a connection with a short rest goes back to the pool).
    void finish();

private:
    struct Transfer;
    std::unique_ptr<Transfer> transfer_;
    std::string url_;  // for texts, without credentials
    DownloadHead head_;
    long long received_ = 0;
};

}  // namespace sigtrove::engine

#endif
