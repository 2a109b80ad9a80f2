// A file on a local disk as a byte source.
#ifndef SIGTROVE_ENGINE_LOCAL_FILE_H
#define SIGTROVE_ENGINE_LOCAL_FILE_H

#include <string>

#include "io/byte_source.h"

namespace sigtrove::engine {

// A local file opened for reading, or why not.
struct LocalOpening {
    int fd = -1;  // open, blocking reads, close-on-exec; -1 when not opened
    // Set when the path names something that is there but is no regular file
    // (a FIFO, a socket, a device, a directory): "PATH is a FIFO, not a regular
    // file". Empty when the file simply can not be opened (missing, unreadable).
    std::string refusal;
};

// Opens a regular file for reading. The open never blocks: it is made without
// waiting (a FIFO with no writer would hold it for ever, a device may wait for
// its hardware), and the type is checked on the open descriptor, so a file
// swapped between a check and the open is still caught.
LocalOpening open_regular_file(const std::string &path);

// Opens a readable regular file as a byte source; null when it can not be
// opened, and then `refusal` (when given) says why if it is no regular file.
ByteSourcePtr open_local_file(const std::string &path, std::string *refusal = nullptr);

// A byte source over an open file descriptor, which it takes over (and closes).
ByteSourcePtr adopt_file_descriptor(int fd);

}  // namespace sigtrove::engine

#endif
