// How an operation on a record or annotation object ended: success, or a kind of
// failure with the engine's text for it. The kinds are what a caller maps to its
// own errors (the Python module does so in one place); the text is what the WFDB
// C interface would have recorded.
#ifndef SIGTROVE_ENGINE_STATUS_H
#define SIGTROVE_ENGINE_STATUS_H

#include <string>
#include <utility>

#include "texts/hidden_credentials.h"

namespace sigtrove::engine {

enum class ErrorKind {
    none,
    not_found,      // no header (or annotation file) for the name along the path
    malformed,      // the file is there but says something that can not be honoured
    unreadable,     // its signal or annotation data could not be read
    limit,          // it asks for more than the engine holds for one record
    out_of_memory,  // memory ran out
    bad_request,    // the caller asked for something the record does not have
    remote,         // a file on a web server could not be fetched (no connection, TLS, timeout, a server error)
    exists,         // writing would replace a file that is there (and may not be replaced)
    unwritable,     // a file could not be written (the system said why)
};

class Status {
public:
    Status() = default;
    static Status failure(ErrorKind kind, const std::string &text) { return Status(kind, without_credentials(text)); }

    bool ok() const { return kind_ == ErrorKind::none; }
    explicit operator bool() const { return ok(); }
    ErrorKind kind() const { return kind_; }
    const std::string &text() const { return text_; }

private:
    Status(ErrorKind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
    ErrorKind kind_ = ErrorKind::none;
    std::string text_;
};

}  // namespace sigtrove::engine

#endif
