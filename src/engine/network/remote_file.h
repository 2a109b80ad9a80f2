// A file on a web server as a byte source. It is read by HTTP range requests of
// whole blocks on a connection that stays open: a read at some place fetches the
// block holding it (and the next one when the read runs on), so a short window of
// a long record costs a block or two; a file read on from block to block turns
// into one streamed request for the rest. A server that ignores ranges still
// works: its whole answer becomes a temporary local copy. With a cache directory,
// what was fetched is kept and read from there next time.
#ifndef SIGTROVE_ENGINE_REMOTE_FILE_H
#define SIGTROVE_ENGINE_REMOTE_FILE_H

#include <string>

#include "io/byte_source.h"

namespace sigtrove::engine {

// How the file will be read:
// - from_start: headers and annotation files; the open fetches the first block
//   (or takes the answer prefetched for it), and a server that ignores ranges
//   sends the whole file then.
// - blockwise: signal files, read anywhere; the open fetches the first block as
//   well (or takes its prefetched answer, perhaps only a head): what says that
//   the file is there and how long it is, and holds the first bytes a read from
//   the start wants. A server that ignores ranges is read whole only once
//   reading begins, not for an open that may read nothing.
// - anywhere: a file whose start was read through another opening already (an
//   EDF file's data); the open only asks for the file's size and version.
enum class RemoteAccess { from_start, blockwise, anywhere };

struct RemoteOpening {
    ByteSourcePtr source;  // the file, or null
    // Why there is no file although there may be one ("URL: reason"); empty when
    // the server says it is not there (404, 410).
    std::string failure;
};

// Opens the file at `url` (http:// or https://).
RemoteOpening open_remote_file(const std::string &url, RemoteAccess access);

// Whether this build reads remote files at all (it needs libcurl).
bool remote_files_supported();

// Forgets which cache entries were checked with their server, and closes the
// connections kept open. For tests.
void reset_remote_state();

}  // namespace sigtrove::engine

#endif
