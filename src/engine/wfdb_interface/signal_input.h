// The process-wide set of open input signals behind isigopen, getvec,
// isigsettime and setgvmode (the C calls themselves are in wfdb.h).
#ifndef SIGTROVE_ENGINE_SIGNAL_INPUT_H
#define SIGTROVE_ENGINE_SIGNAL_INPUT_H

namespace sigtrove::engine {

// Closes every open input signal, as an isigopen without '+' does first.
void close_input_signals();

// Closes every input signal and forgets the getvec mode and whether signals
// were ever open, as in a fresh process. For tests.
void reset_signal_input();

}  // namespace sigtrove::engine

#endif
