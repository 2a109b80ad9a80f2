#include "writers/writable_formats.h"

namespace sigtrove::engine {
namespace {

// The ADC resolutions are those the field's writer gives a signal it is told
// nothing about (format 8 counts as 12 bits, as the C library has it).
constexpr WritableFormat kFormats[] = {
    {8, -2147483647, 2147483647, false, 0, true, 0, 12},
    {16, -32767, 32767, true, -32768, false, 0, 16},
    {24, -8388607, 8388607, true, -8388608, false, 0, 24},
    {32, -2147483647, 2147483647, true, INT32_MIN, false, 0, 32},
    {61, -32767, 32767, true, -32768, false, 0, 16},
    {80, -127, 127, true, -128, false, 0, 8},
    {160, -32767, 32767, true, -32768, false, 0, 16},
    {212, -2047, 2047, true, -2048, false, 0, 12},
    {310, -511, 511, true, -512, false, 0, 10},
    {311, -511, 511, true, -512, false, 0, 10},
    {508, -127, 127, true, -128, false, 8, 8},
    {516, -32767, 32767, true, -32768, false, 16, 16},
    {524, -8388607, 8388607, true, -8388608, false, 24, 24},
};

}  // namespace

const WritableFormat *writable_format(int code) {
    for (const WritableFormat &f : kFormats)
        if (f.code == code) return &f;
    return nullptr;
}

std::string writable_format_list() {
    std::string list;
    const std::size_t n = sizeof kFormats / sizeof kFormats[0];
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) list += i + 1 == n ? " and " : ", ";
        list += std::to_string(kFormats[i].code);
    }
    return list;
}

bool flac_writing_supported() {
#ifdef SIGTROVE_HAVE_FLAC
    return true;
#else
    return false;
#endif
}

}  // namespace sigtrove::engine
