#include "errors/error_state.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "texts/hidden_credentials.h"

#ifndef SIGTROVE_VERSION
#define SIGTROVE_VERSION "0.0.0"
#endif

namespace sigtrove::engine {
namespace {

struct ErrorState {
    ErrorState() { reset(); }
    void reset() {
        // Room for any ordinary text up front, so recording one never needs memory,
        // not even while reporting that memory ran out.
        last.reserve(1024);
        last = version_line();
        verbose = true;  // the library prints its texts until told to be quiet
    }
    std::mutex lock;  // the C interface is used from one thread at a time, but texts may come from any
    std::string last;
    bool verbose = true;
};

ErrorState &state() {
    static ErrorState s;
    return s;
}

thread_local ErrorCapture *active_capture = nullptr;

// Replaces the last text; without memory for a long text, keeps what fits.
void store(std::string &last, const char *text, size_t length) noexcept {
    try {
        last.assign(text, length);
    } catch (...) {
        last.assign(text, std::min(length, last.capacity()));
    }
}

void publish(const char *text, size_t length) noexcept {
    ErrorState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    store(s.last, text, length);
    if (s.verbose) {
        std::fputs(s.last.c_str(), stderr);
        std::fflush(stderr);
    }
}

}  // namespace

const char *version_line() {
    static const std::string line = "sigtrove engine version " SIGTROVE_VERSION " (" __DATE__ ").\n";
    return line.c_str();
}

void record_error(const char *format, ...) noexcept {
    char small[1024];
    va_list args;
    va_start(args, format);
    int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    std::unique_ptr<char[]> large;
    const char *text = small;
    size_t length = 0;
    if (needed < 0) {
        static const char unprintable[] = "sigtrove engine: unprintable error text\n";
        text = unprintable;
        length = sizeof unprintable - 1;
    } else if (static_cast<size_t>(needed) < sizeof small) {
        length = static_cast<size_t>(needed);
    } else {
        large.reset(new (std::nothrow) char[static_cast<size_t>(needed) + 1]);
        if (large) {
            va_start(args, format);
            std::vsnprintf(large.get(), static_cast<size_t>(needed) + 1, format, args);
            va_end(args);
            text = large.get();
            length = static_cast<size_t>(needed);
        } else {
            length = sizeof small - 1;  // cut rather than lost
        }
    }
    // No text shows a URL's user name and password: scrubbed in place, in the buffer it was printed into.
    char *own = large ? large.get() : text == small ? small : nullptr;
    if (own) length = remove_credentials(own, length);
    if (active_capture)
        active_capture->add(text, length);
    else
        publish(text, length);
}

void record_error_text(const std::string &text) noexcept {
    try {
        std::string shown = without_credentials(text);
        publish(shown.data(), shown.size());
    } catch (...) {
        static const char unrecorded[] = "sigtrove engine: out of memory for an error text\n";
        publish(unrecorded, sizeof unrecorded - 1);
    }
}

ErrorCapture::ErrorCapture() : outer_(active_capture) { active_capture = this; }

ErrorCapture::~ErrorCapture() { active_capture = outer_; }

void ErrorCapture::add(const char *text, std::size_t length) noexcept {
    try {
        texts_.emplace_back(text, length);
    } catch (...) {
        // Out of memory: the newest text replaces the last one kept, so the failure is still named.
        if (!texts_.empty()) store(texts_.back(), text, length);
    }
}

void note_remote_failure() noexcept {
    if (active_capture) active_capture->remote_failure_ = true;
}

void ErrorCapture::forward() const noexcept {
    if (outer_ && remote_failure_) outer_->remote_failure_ = true;
    for (const std::string &text : texts_) {
        if (outer_)
            outer_->add(text.data(), text.size());
        else
            publish(text.data(), text.size());
    }
}

const char *last_error_text() { return state().last.c_str(); }

void set_verbose(bool verbose) {
    ErrorState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.verbose = verbose;
}

void reset_error_state() {
    ErrorState &s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.reset();
}

}  // namespace sigtrove::engine
