// Sample formats of uncompressed WFDB signal files: packing units, invalid
// markers, and the block decoders that turn bytes into stored sample values.
#ifndef SIGTROVE_ENGINE_SAMPLE_FORMATS_H
#define SIGTROVE_ENGINE_SAMPLE_FORMATS_H

#include <cstddef>
#include <cstdint>

namespace sigtrove::engine {

// Decodes `units` whole packing units from `in` into units * samples_per_unit
// stored values at `out`. One function per format, called once per block.
using UnitDecoder = void (*)(const std::uint8_t *in, std::size_t units, std::int32_t *out);

// Decodes the samples that a final, incomplete unit of `nbytes` bytes still
// holds (nbytes < bytes_per_unit); returns how many it wrote (at most 2).
using PartialUnitDecoder = std::size_t (*)(const std::uint8_t *in, std::size_t nbytes, std::int32_t *out);

struct SampleFormat {
    int code;
    int bytes_per_unit;  // 0 for format 0, which has no file
    int samples_per_unit;
    bool has_invalid_marker;      // format 8 has none: every running value is a sample
    std::int32_t invalid_marker;  // the stored value that means "no valid sample"
    UnitDecoder decode;
    PartialUnitDecoder decode_partial;
};

// The uncompressed formats (0, 8, 16, 61, 80, 160, 212, 310, 311, 24, 32);
// null for any other code, FLAC included.
const SampleFormat *uncompressed_format(int code);

// True for the FLAC-compressed formats 508, 516 and 524.
bool is_flac_format(int code);

// How many whole samples the first `nbytes` bytes of a sample stream hold.
long long samples_in_bytes(const SampleFormat &format, long long nbytes);

// Byte-per-sample families (format_bytes.cpp). Format 8 decodes to the signed
// differences; turning them into running values is the group reader's job.
void decode_format8(const std::uint8_t *in, std::size_t units, std::int32_t *out);
void decode_format16(const std::uint8_t *in, std::size_t units, std::int32_t *out);
void decode_format61(const std::uint8_t *in, std::size_t units, std::int32_t *out);
void decode_format80(const std::uint8_t *in, std::size_t units, std::int32_t *out);
void decode_format160(const std::uint8_t *in, std::size_t units, std::int32_t *out);
void decode_format24(const std::uint8_t *in, std::size_t units, std::int32_t *out);
void decode_format32(const std::uint8_t *in, std::size_t units, std::int32_t *out);
std::size_t no_partial_samples(const std::uint8_t *in, std::size_t nbytes, std::int32_t *out);

// Bit-packed families (format_packed.cpp).
void decode_format212(const std::uint8_t *in, std::size_t units, std::int32_t *out);
void decode_format310(const std::uint8_t *in, std::size_t units, std::int32_t *out);
void decode_format311(const std::uint8_t *in, std::size_t units, std::int32_t *out);
std::size_t decode_partial212(const std::uint8_t *in, std::size_t nbytes, std::int32_t *out);
std::size_t decode_partial310(const std::uint8_t *in, std::size_t nbytes, std::int32_t *out);
std::size_t decode_partial311(const std::uint8_t *in, std::size_t nbytes, std::int32_t *out);

}  // namespace sigtrove::engine

#endif
