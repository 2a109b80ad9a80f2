// FLAC signal files: the input's first byte chooses one of the fixed headers
// below (each FLAC format, several channels, several samples per frame, an
// offset) and how to read; the rest is the FLAC stream "r.dat", read every way
// the signal harness reads (getvec with seeks, bulk reads in windows).
#include <cstddef>
#include <cstdint>

#include "record_reads.h"

using namespace sigtrove;

namespace {

const char *const kHeaders[] = {
    "r 1 200 499\nr.dat 508 200/mV 8 0 -127 -484 0 s\n",      "r 1 200 499\nr.dat 516 200/mV 16 0 -32766 -750 0 s\n",
    "r 1 200 499\nr.dat 524 200/mV 24 0 -8388605 8721 0 s\n", "r 2 200\nr.dat 516x2\nr.dat 516x2:3\n",
    "r 3 200\nr.dat 524+3\nr.dat 524\nr.dat 524\n",           "r 2 200\nr.dat 508\nnull 0\n",
};
constexpr std::size_t kHeaderCount = sizeof kHeaders / sizeof kHeaders[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::read_signal_file_input(kHeaders, kHeaderCount, data, size);
    return 0;
}
