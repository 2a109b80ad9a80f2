// The memory one open record may take: a ceiling that a header's claims (signal
// counts, samples per frame, skews, groups, segments) are held against before
// anything is allocated for them, so that a few bytes of header can not ask for
// gigabytes. What the data themselves need (windows of decoded frames, file
// buffers) is allocated as reading reaches it, sized by the data.
#ifndef SIGTROVE_ENGINE_RECORD_MEMORY_H
#define SIGTROVE_ENGINE_RECORD_MEMORY_H

#include <cstddef>
#include <string>

#include "limits/memory_ceiling.h"

namespace sigtrove::engine {

// What holding a record open costs at the least, per claim of its header: the
// description of one signal (the engine's and a caller's WFDB_Siginfo copy), one
// sample of a frame (its place in a decoded window, its checksum tallies, its
// place in the frame getvec hands out), one signal group (its reader, window and
// file buffer bookkeeping; a FLAC group its decoder), one segment line.
constexpr long long kBytesPerSignal = 384;
constexpr long long kBytesPerFrameSample = 64;
constexpr long long kBytesPerGroup = 1024;
constexpr long long kBytesPerFlacGroup = 512 << 10;  // a FLAC decoder with its bit reader and block buffers
constexpr long long kBytesPerSegment = 96;

// `count` items of `each` bytes, saturating instead of overflowing.
long long memory_for(long long count, long long each);

// Gives memory that was freed back to the system, where the C library keeps it
// otherwise (glibc keeps freed blocks below its mmap threshold in its heap). Called
// when a record that held much is closed, so that its memory does not stay resident.
void return_freed_memory();

// What a record holds open at the least (see kBytesPerFrameSample) past which its
// closing returns the freed memory to the system.
constexpr long long kReturnMemoryAbove = 8LL << 20;

}  // namespace sigtrove::engine

#endif
