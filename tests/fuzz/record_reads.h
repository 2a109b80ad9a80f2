// How the signal harnesses read a record named "r": every way a caller can.
#ifndef SIGTROVE_FUZZ_RECORD_READS_H
#define SIGTROVE_FUZZ_RECORD_READS_H

namespace sigtrove::fuzz {

// Reads record "r" through getvec (whole, then after seeks to the middle, the end,
// past the end and back; `variant` bit 0 chooses high resolution, bit 1 padding)
// and through a record object's bulk read (whole, in windows, at a signal's own
// rate, past the end; bits 0-1 choose the output type).
void read_record_every_way(int variant);

}  // namespace sigtrove::fuzz

#endif
