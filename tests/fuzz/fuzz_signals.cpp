// Signal decoding: the input's first byte chooses one of the fixed headers below
// (one per format family, with skews, several samples per frame, checksums and
// groups sharing a file) and how to read; the rest is the signal file "r.dat".
// Each input is read through getvec (with seeks, in both resolutions, with and
// without padding) and through the record object's bulk read (whole, in windows,
// at a signal's own rate).
#include <cstddef>
#include <cstdint>

#include "record_reads.h"

using namespace sigtrove;

namespace {

const char *const kHeaders[] = {
    // 0, 1: format 212, two signals with checksums, the second one skewed in 1
    "r 2 360 650000\nr.dat 212 200 11 1024 995 -22131 0 MLII\nr.dat 212 200 11 1024 1011 20052 0 V5\n",
    "r 2 360 650000\nr.dat 212 200 11 1024 995 -22131 0 MLII\nr.dat 212:3 200 11 1024 1011 20052 0 V5\n",
    // 2, 3: format 16, four signals; then with skew and several samples per frame
    "r 4 500 4000\nr.dat 16 100/mV 16 0 10 114 0 a\nr.dat 16 100/mV 16 0 -8 941 0 b\n"
    "r.dat 16 100/mV 16 0 -57 -119 0 c\nr.dat 16 100/mV 16 0 -66 -401 0 d\n",
    "r 4 500 1000\nr.dat 16x2:3 100/mV 16 0 10 114 0 a\nr.dat 16 100/mV 16 0 -8 941 0 b\n"
    "r.dat 16x3:7 100/mV 16 0 -57 -119 0 c\nr.dat 16 100/mV 16 0 -66 -401 0 d\n",
    // 4..13: one signal of each uncompressed format, with a checksum
    "r 1 200 499\nr.dat 8 200/mV 12 0 -2047 -31143 0 s\n",
    "r 1 200 499\nr.dat 16 200/mV 16 0 -32766 -750 0 s\n",
    "r 1 200 499\nr.dat 61 200/mV 16 0 -32765 -251 0 s\n",
    "r 1 200 499\nr.dat 80 200/mV 8 0 -124 -517 0 s\n",
    "r 1 200 499\nr.dat 160 200/mV 16 0 -32763 747 0 s\n",
    "r 1 200 499\nr.dat 212 200/mV 12 0 -2042 -6824 0 s\n",
    "r 1 200 499\nr.dat 310 200/mV 10 0 -505 -1621 0 s\n",
    "r 1 200 499\nr.dat 311 200/mV 10 0 -504 -2145 0 s\n",
    "r 1 200 499\nr.dat 24 200/mV 24 0 -8388599 11715 0 s\n",
    "r 1 200 499\nr.dat 32 200/mV 32 0 -2147483638 19035 0 s\n",
    // 14, 15: the packed formats with several signals
    "r 2 250 1026\nr.dat 310 200 10 0 -5 -3426 0 a\nr.dat 310 200 10 0 0 4385 0 b\n",
    "r 3 250 1026\nr.dat 311 200 10 0 0 4385 0 a\nr.dat 311x2 200 10 0 0 4385 0 b\nr.dat 311 200 10 0 0 0 0 c\n",
    // 16: three groups, two of them in the same file at different offsets, a format 0 one between
    "r 3 250\nr.dat 16x2\nnull 0\nr.dat 80+7\n",
    // 17: format 8 differences, several samples per frame, running values from INITVAL
    "r 2 100 1000\nr.dat 8x3 100 12 0 5 0 0 a\nr.dat 8 100 12 0 -7 0 0 b\n",
    // 18: no length: the data end where the file ends
    "r 2 250\nr.dat 24:2\nr.dat 32x4\n",
};
constexpr std::size_t kHeaderCount = sizeof kHeaders / sizeof kHeaders[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::read_signal_file_input(kHeaders, kHeaderCount, data, size);
    return 0;
}
