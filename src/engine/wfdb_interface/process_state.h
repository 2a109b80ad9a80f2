// What the WFDB C interface keeps for the whole process: open signals and
// annotation files, the values of the header read last, the database path, the
// annotation code table and the last error text.
#ifndef SIGTROVE_ENGINE_PROCESS_STATE_H
#define SIGTROVE_ENGINE_PROCESS_STATE_H

namespace sigtrove::engine {

// Puts all of it back as a fresh process has it. For tests, which run many
// cases in one process.
void reset_process_state();

}  // namespace sigtrove::engine

#endif
