// The engine's last error text and its print mode, shared by every part of the engine.
#ifndef SIGTROVE_ENGINE_ERROR_STATE_H
#define SIGTROVE_ENGINE_ERROR_STATE_H

namespace sigtrove::engine {

// Records a printf-style text as the last error (what wfdberror returns) and, in
// verbose mode, prints it to standard error at once. Every engine text goes through here.
// Never throws: it is also how running out of memory is reported.
void record_error(const char *format, ...) noexcept __attribute__((format(printf, 1, 2)));

// The engine's version line: "sigtrove engine version X.Y.Z (Mmm dd yyyy).\n".
const char *version_line();

}  // namespace sigtrove::engine

#endif
