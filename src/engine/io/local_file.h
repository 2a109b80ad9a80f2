// A file on a local disk as a byte source.
#ifndef SIGTROVE_ENGINE_LOCAL_FILE_H
#define SIGTROVE_ENGINE_LOCAL_FILE_H

#include <string>

#include "io/byte_source.h"

namespace sigtrove::engine {

// Opens a readable regular file for reading; null when it can not be opened or
// is not a regular file (a directory is never a record's file).
ByteSourcePtr open_local_file(const std::string &path);

// A byte source over an open file descriptor, which it takes over (and closes).
ByteSourcePtr adopt_file_descriptor(int fd);

}  // namespace sigtrove::engine

#endif
