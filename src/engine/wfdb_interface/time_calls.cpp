// timstr, mstimstr and strtim: time texts of the record whose header was read last.
#include "time/time_text.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/c_boundary.h"
#include "wfdb_interface/record_state.h"

namespace sigtrove::engine {
namespace {

// Like the library's, the texts share one buffer that the next call overwrites.
char shared_buffer[128];

TimeBasis current_time_basis() {
    const RecordState &state = record_state();
    return TimeBasis{sampling_frequency(), state.base_ms, state.base_date};
}

}  // namespace
}  // namespace sigtrove::engine

using namespace sigtrove::engine;

extern "C" {

char *timstr(WFDB_Time t) {
    format_time_text(t, current_time_basis(), false, shared_buffer, sizeof shared_buffer);
    return shared_buffer;
}

char *mstimstr(WFDB_Time t) {
    format_time_text(t, current_time_basis(), true, shared_buffer, sizeof shared_buffer);
    return shared_buffer;
}

WFDB_Time strtim(char *string) {
    if (!string) return 0;
    return guarded_call(OutOfMemoryText{"WFDB: can't allocate memory to read the time %s\n", string}, 0L,
                        [&] { return time_text_to_samples(string, current_time_basis(), record_state().length); });
}
}
