// Writes small FLAC files for tests with libFLAC's encoder, so FLAC-compressed
// signals can be tested on streams whose layout each test chooses.
#ifndef SIGTROVE_TESTS_FLAC_WRITER_H
#define SIGTROVE_TESTS_FLAC_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

namespace sigtrove::testing {

struct FlacLayout {
    unsigned channels = 1;
    unsigned bits_per_sample = 16;
    unsigned block_size = 0;    // samples per channel in each FLAC frame; 0: the encoder's choice
    bool states_length = true;  // false: STREAMINFO leaves the total sample count unknown (0)
    bool seek_table = false;    // true: a seek table with a point every 64 samples
};

// Encodes `interleaved` (sample i of channel c at [i * channels + c]) into a FLAC
// file at `path`. Returns an empty string, or what went wrong.
std::string write_flac_file(const std::string &path, const std::vector<std::int32_t> &interleaved,
                            const FlacLayout &layout);

}  // namespace sigtrove::testing

#endif
