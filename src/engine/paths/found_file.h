// A file found along a search path, open for reading: looking a file up opens it
// once, and the same source is then read, so a lookup never opens a file twice.
#ifndef SIGTROVE_ENGINE_FOUND_FILE_H
#define SIGTROVE_ENGINE_FOUND_FILE_H

#include <string>

#include "io/byte_source.h"

namespace sigtrove::engine {

struct FoundFile {
    std::string path;      // as found: the prefix that matched followed by the name (a URL for a remote file)
    ByteSourcePtr source;  // open for reading; null when nothing was found
    // Why the lookup stopped without a file although one may be there: a remote
    // location that could not be reached or answered with an error ("URL: reason"),
    // or a local name that is no regular file ("PATH is a FIFO, not a regular file").
    // Empty when the file simply is not there.
    std::string failure;

    explicit operator bool() const { return source != nullptr; }
    // The failure is one of fetching a file from a web server.
    bool remote_failure() const;
};

}  // namespace sigtrove::engine

#endif
