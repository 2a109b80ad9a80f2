// The sample formats records are written in: what each can hold, what it
// stores for an invalid sample, and the ADC resolution a header gives it when
// none is said.
#ifndef SIGTROVE_ENGINE_WRITABLE_FORMATS_H
#define SIGTROVE_ENGINE_WRITABLE_FORMATS_H

#include <cstdint>
#include <string>

namespace sigtrove::engine {

struct WritableFormat {
    int code;
    // The valid stored values. The lowest value of each format is its invalid
    // code, so it is not among them; -32768 is an invalid sample in every format.
    std::int32_t lowest;
    std::int32_t highest;
    bool has_invalid;      // format 8 stores steps and has no invalid code
    std::int32_t invalid;  // the stored value of an invalid sample
    bool differences;      // format 8: each byte is the step from the signal's previous sample
    int flac_bits;         // 8, 16 or 24 for the FLAC formats, 0 for the others
    int adc_resolution;    // the header's ADC resolution when none is given
};

// The format of a code, or null for a code records are not written in (0, and
// codes that are no format).
const WritableFormat *writable_format(int code);

// "8, 16, 24, 32, 61, 80, 160, 212, 310, 311, 508, 516 and 524", for texts.
std::string writable_format_list();

// True when this engine can write the FLAC formats (it was built with libFLAC).
bool flac_writing_supported();

}  // namespace sigtrove::engine

#endif
