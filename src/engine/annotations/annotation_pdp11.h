// The 32-bit integers of annotation files, stored in "PDP-11 order": the high
// 16-bit half first, the low half second, each half least significant byte first.
#ifndef SIGTROVE_ENGINE_ANNOTATION_PDP11_H
#define SIGTROVE_ENGINE_ANNOTATION_PDP11_H

#include <cstdint>

namespace sigtrove::engine {

inline int32_t pdp11_int32(const uint8_t bytes[4]) {
    uint32_t high = bytes[0] | (uint32_t{bytes[1]} << 8);
    uint32_t low = bytes[2] | (uint32_t{bytes[3]} << 8);
    return static_cast<int32_t>((high << 16) | low);
}

}  // namespace sigtrove::engine

#endif
