#include "texts/error_state.h"

#include <cstdarg>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "wfdb/wfdb.h"

#ifndef SIGTROVE_VERSION
#define SIGTROVE_VERSION "0.0.0"
#endif

namespace sigtrove::engine {
namespace {

struct ErrorState {
    ErrorState() {
        // Room for any ordinary text up front, so recording one never needs memory,
        // not even while reporting that memory ran out.
        last.reserve(1024);
        last = version_line();
    }
    std::string last;
    bool verbose = true;  // the library prints its texts until told to be quiet
};

ErrorState &state() {
    static ErrorState s;
    return s;
}

// Replaces the last text; without memory for a long text, keeps what fits.
void store(std::string &last, const char *text, size_t length) noexcept {
    try {
        last.assign(text, length);
    } catch (...) {
        last.assign(text, std::min(length, last.capacity()));
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
    ErrorState &s = state();
    if (needed < 0) {
        static const char unprintable[] = "sigtrove engine: unprintable error text\n";
        store(s.last, unprintable, sizeof unprintable - 1);
    } else if (static_cast<size_t>(needed) < sizeof small) {
        store(s.last, small, static_cast<size_t>(needed));
    } else {
        std::unique_ptr<char[]> text(new (std::nothrow) char[static_cast<size_t>(needed) + 1]);
        if (text) {
            va_start(args, format);
            std::vsnprintf(text.get(), static_cast<size_t>(needed) + 1, format, args);
            va_end(args);
            store(s.last, text.get(), static_cast<size_t>(needed));
        } else {
            store(s.last, small, sizeof small - 1);
        }
    }
    if (s.verbose) {
        std::fputs(s.last.c_str(), stderr);
        std::fflush(stderr);
    }
}

}  // namespace sigtrove::engine

extern "C" {

char *wfdberror(void) { return const_cast<char *>(sigtrove::engine::state().last.c_str()); }

void wfdbquiet(void) { sigtrove::engine::state().verbose = false; }

void wfdbverbose(void) { sigtrove::engine::state().verbose = true; }

}
