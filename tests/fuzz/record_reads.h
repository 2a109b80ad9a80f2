// How the signal harnesses read a record named "r": every way a caller can.
#ifndef SIGTROVE_FUZZ_RECORD_READS_H
#define SIGTROVE_FUZZ_RECORD_READS_H

#include <cstddef>
#include <cstdint>

namespace sigtrove::fuzz {

// Reads record "r" through getvec (whole, then after seeks to the middle, the end,
// past the end and back; `variant` bit 0 chooses high resolution, bit 1 padding)
// and through a record object's bulk read (whole, in windows, at a signal's own
// rate, past the end; bits 0-1 choose the output type).
void read_record_every_way(int variant);

// An input of the signal harnesses as record "r": its first byte's low 5 bits pick
// one of `headers` (modulo `count`) as r.hea, its high 3 bits the reading variant;
// the rest is the signal file r.dat. Written to the scratch folder and read every way.
void read_signal_file_input(const char *const headers[], std::size_t count, const std::uint8_t *data, std::size_t size);

}  // namespace sigtrove::fuzz

#endif
