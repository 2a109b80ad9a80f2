#include "network/file_download.h"

#include <algorithm>
#include <cstring>

#include "limits/memory_ceiling.h"
#include "network/remote_settings.h"

#if SIGTROVE_HAVE_CURL
#include "network/connection_pool.h"
#include "network/remote_location.h"
#endif

namespace sigtrove::engine {

#if SIGTROVE_HAVE_CURL

struct FileDownload::Transfer {
    ConnectionLease lease;
};

FileDownload::FileDownload() = default;
FileDownload::~FileDownload() { finish(); }

Status FileDownload::start(const std::string &url, long long first, bool head_only) {
    finish();
    url_ = without_credentials(url);
    head_ = DownloadHead{};
    received_ = 0;
    auto failed = [this](const std::string &why) { return Status::failure(ErrorKind::remote, url_ + ": " + why); };
    RemoteSettings settings = remote_settings();
    if (!settings.error.empty()) return failed(settings.error);
    // An s3:// or physionet:// name is fetched from where it names, signed when it must be.
    HttpRequest request;
    if (std::optional<HttpRequest> named = remote_request(url, settings))
        request = std::move(*named);
    else
        request.url = url;
    request.head_only = head_only;
    request.first = !head_only && first > 0 ? first : -1;
    request.timeout_seconds = settings.timeout_seconds;
    transfer_ = std::make_unique<Transfer>();
    transfer_->lease = lease_connection(request.url);
    if (!transfer_->lease) return failed("no connection could be made (libcurl failed)");
    if (!transfer_->lease->start(request)) {
        Status status = failed(transfer_->lease->error());
        transfer_.reset();
        return status;
    }
    const HttpHead &head = transfer_->lease->head();
    head_.status = head.status;
    head_.reason = head.reason;
    head_.content_length = head.content_length;
    head_.has_content_range = head.has_content_range;
    head_.range_first = head.range_first;
    head_.range_total = head.range_total;
    return Status();
}

Status FileDownload::read(std::uint8_t *out, std::size_t limit, std::size_t &got) {
    got = 0;
    if (!transfer_ || limit == 0) return Status();
    HttpConnection &connection = *transfer_->lease;
    const bool ok = connection.receive(limit);
    got = std::min(limit, connection.available());
    // Without a length nothing says where the body ends: the bytes up to the ceiling are handed
    // out, and a byte past it fails the transfer.
    const long long unsized_limit = max_record_memory();
    const bool unsized = head_.content_length < 0 && !head_.has_content_range;
    if (unsized && received_ + static_cast<long long>(got) > unsized_limit && received_ < unsized_limit)
        got = static_cast<std::size_t>(unsized_limit - received_);
    else if (unsized && received_ + static_cast<long long>(got) > unsized_limit) {
        got = 0;
        finish();
        return Status::failure(ErrorKind::limit, url_ + ": the server sent more than " + megabytes(unsized_limit) +
                                                     " without saying how long the file is: past the record "
                                                     "memory ceiling (SIGTROVE_MAX_RECORD_MEMORY)");
    }
    if (got > 0) std::memcpy(out, connection.data(), got);
    connection.consume(got);
    received_ += static_cast<long long>(got);
    if (got == 0 && !ok) {
        Status status = Status::failure(ErrorKind::remote, url_ + ": " + connection.error());
        finish();
        return status;
    }
    if (got == 0) finish();
    return Status();
}

void FileDownload::finish() {
    if (!transfer_) return;
    transfer_->lease.give_back();
    transfer_.reset();
}

#else  // built without libcurl

struct FileDownload::Transfer {};

FileDownload::FileDownload() = default;
FileDownload::~FileDownload() = default;

Status FileDownload::start(const std::string &url, long long, bool) {
    url_ = without_credentials(url);
    return Status::failure(ErrorKind::remote,
                           url_ + ": this sigtrove engine was built without libcurl, which reading URLs needs");
}

Status FileDownload::read(std::uint8_t *, std::size_t, std::size_t &got) {
    got = 0;
    return Status();
}

void FileDownload::finish() {}

#endif

}  // namespace sigtrove::engine
