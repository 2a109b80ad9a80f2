// The engine's error texts: the process-wide last text and print mode behind
// wfdberror, and the capture that lets one operation collect its own texts.
#ifndef SIGTROVE_ENGINE_ERROR_STATE_H
#define SIGTROVE_ENGINE_ERROR_STATE_H

#include <string>
#include <vector>

namespace sigtrove::engine {

// Records a printf-style text. Every engine text goes through here. While an
// ErrorCapture is active on the calling thread the text goes to it; otherwise it
// becomes the process's last error text (what wfdberror returns) and, in verbose
// mode, is printed to standard error at once. Never throws: it is also how
// running out of memory is reported.
void record_error(const char *format, ...) noexcept __attribute__((format(printf, 1, 2)));

// Makes `text` the process's last error text (and prints it in verbose mode).
void record_error_text(const std::string &text) noexcept;

// Says that the failure whose text is being recorded is one of fetching a remote
// file (a server that can not be reached, or answers with an error): the
// innermost ErrorCapture on this thread remembers it, so that the operation's
// failure can be told apart from a file that is missing or malformed.
void note_remote_failure() noexcept;

// Collects the texts recorded on this thread while it lives, instead of letting
// them change the process-wide text: an operation on a record object reports its
// failure as a value, and two threads never write the same text. Captures nest;
// the innermost one collects.
class ErrorCapture {
public:
    ErrorCapture();
    ~ErrorCapture();
    ErrorCapture(const ErrorCapture &) = delete;
    ErrorCapture &operator=(const ErrorCapture &) = delete;

    // The texts in the order they were recorded.
    const std::vector<std::string> &texts() const { return texts_; }
    // The last text, "" when none was recorded.
    std::string last() const { return texts_.empty() ? std::string() : texts_.back(); }
    // Records each collected text where it would have gone without this capture.
    void forward() const noexcept;
    // True when a remote file could not be fetched while this capture was active.
    bool remote_failure() const { return remote_failure_; }

private:
    friend void record_error(const char *, ...) noexcept;
    friend void note_remote_failure() noexcept;
    void add(const char *text, std::size_t length) noexcept;

    ErrorCapture *outer_;
    std::vector<std::string> texts_;
    bool remote_failure_ = false;
};

// The process's last error text (valid until the next text is recorded), and
// whether texts are printed as they are recorded.
const char *last_error_text();
void set_verbose(bool verbose);

// The engine's version line: "sigtrove engine version X.Y.Z (Mmm dd yyyy).\n".
const char *version_line();

// The last text back to the version line, and verbose printing on, as in a fresh
// process. For tests.
void reset_error_state();

}  // namespace sigtrove::engine

#endif
