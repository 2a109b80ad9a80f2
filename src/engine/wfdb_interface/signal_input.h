// The process-wide set of open input signals behind isigopen, getvec,
// isigsettime and setgvmode (the C calls themselves are in wfdb.h): the default
// instance of FrameInput, whose records are engine Record objects read side by side.
#ifndef SIGTROVE_ENGINE_SIGNAL_INPUT_H
#define SIGTROVE_ENGINE_SIGNAL_INPUT_H

#include <memory>

#include "record/frame_input.h"
#include "record/record_description.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {

// Closes every open input signal, as an isigopen without '+' does first.
void close_input_signals();

// Closes every input signal and forgets the getvec mode and whether signals
// were ever open, as in a fresh process. For tests.
void reset_signal_input();

// The description of the record whose header isigopen read last (null before
// any): what a caller that opened a record through isigopen can open a record
// object of its own from, without reading the header again.
std::shared_ptr<const RecordDescription> last_input_description();

// Calls getvec up to `count` times and keeps signal `signal` of each frame in
// out[0..], stopping at the first end of data or error (a checksum warning, -4,
// does not stop it): the same samples, texts and position as those calls, read
// in blocks when the open signals allow it.
SignalRun read_input_signal(int signal, long long count, WFDB_Sample *out);

}  // namespace sigtrove::engine

#endif
