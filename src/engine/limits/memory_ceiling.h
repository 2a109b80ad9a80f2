// The memory ceiling: what one open record may take, and with it what one
// answer of a web server may make the engine hold when nothing else bounds it
// (a body that says not how long it is). Below every other part of the engine,
// so that the network layer holds servers to the same ceiling as headers.
#ifndef SIGTROVE_ENGINE_MEMORY_CEILING_H
#define SIGTROVE_ENGINE_MEMORY_CEILING_H

#include <string>

namespace sigtrove::engine {

constexpr long long kDefaultMaxRecordMemory = 256LL << 20;

// The ceiling in bytes: the value set by set_max_record_memory, else the
// environment variable SIGTROVE_MAX_RECORD_MEMORY (bytes, or with a K, M or G
// suffix), else 256 MB.
long long max_record_memory();

// Sets the ceiling for records opened from now on; 0 goes back to the
// environment variable or the default.
void set_max_record_memory(long long bytes);

// An amount of memory for texts: "256 MB", "1.5 MB" (megabytes of 2^20 bytes).
std::string megabytes(long long bytes);

}  // namespace sigtrove::engine

#endif
