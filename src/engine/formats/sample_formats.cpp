// The table of uncompressed sample formats.
#include "formats/sample_formats.h"

#include <cstdint>

#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

// Format 0 has no file: its group reader fills every sample with the marker.
constexpr SampleFormat kFormats[] = {
    {0, 0, 1, true, WFDB_INVALID_SAMPLE, nullptr, no_partial_samples},
    {8, 1, 1, false, 0, decode_format8, no_partial_samples},
    {16, 2, 1, true, -32768, decode_format16, no_partial_samples},
    {61, 2, 1, true, -32768, decode_format61, no_partial_samples},
    {80, 1, 1, true, -128, decode_format80, no_partial_samples},
    {160, 2, 1, true, -32768, decode_format160, no_partial_samples},
    {212, 3, 2, true, -2048, decode_format212, decode_partial212},
    {310, 4, 3, true, -512, decode_format310, decode_partial310},
    {311, 4, 3, true, -512, decode_format311, decode_partial311},
    {24, 3, 1, true, -8388608, decode_format24, no_partial_samples},
    {32, 4, 1, true, INT32_MIN, decode_format32, no_partial_samples},
};

}  // namespace

const SampleFormat *uncompressed_format(int code) {
    for (const SampleFormat &f : kFormats)
        if (f.code == code) return &f;
    return nullptr;
}

bool is_flac_format(int code) { return code == 508 || code == 516 || code == 524; }

long long samples_in_bytes(const SampleFormat &format, long long nbytes) {
    if (nbytes <= 0 || format.bytes_per_unit == 0) return 0;
    long long units = nbytes / format.bytes_per_unit;
    auto rest = static_cast<std::size_t>(nbytes % format.bytes_per_unit);
    // Counting what a partial unit holds only needs its length: zeros will do.
    std::uint8_t zeros[4] = {};
    std::int32_t scratch[4];
    return units * format.samples_per_unit + static_cast<long long>(format.decode_partial(zeros, rest, scratch));
}

}  // namespace sigtrove::engine
