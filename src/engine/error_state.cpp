#include "error_state.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "wfdb/wfdb.h"

#ifndef SIGTROVE_VERSION
#define SIGTROVE_VERSION "0.0.0"
#endif

namespace sigtrove::engine {
namespace {

struct ErrorState {
    std::string last = version_line();
    bool verbose = true;  // the library prints its texts until told to be quiet
};

ErrorState &state() {
    static ErrorState s;
    return s;
}

}  // namespace

const char *version_line() {
    static const std::string line = "sigtrove engine version " SIGTROVE_VERSION " (" __DATE__ ").\n";
    return line.c_str();
}

void record_error(const char *format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    int needed = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    ErrorState &s = state();
    if (needed < 0) {
        s.last = "sigtrove engine: unprintable error text\n";
    } else if (static_cast<size_t>(needed) < sizeof small) {
        s.last.assign(small, static_cast<size_t>(needed));
    } else {
        std::string text(static_cast<size_t>(needed) + 1, '\0');
        va_start(args, format);
        std::vsnprintf(text.data(), text.size(), format, args);
        va_end(args);
        text.resize(static_cast<size_t>(needed));
        s.last = std::move(text);
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
