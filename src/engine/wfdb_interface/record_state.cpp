#include "wfdb_interface/record_state.h"

#include <cstdlib>
#include <new>

#include "errors/error_state.h"
#include "paths/path_search.h"
#include "record_header/record_header.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/c_boundary.h"

namespace sigtrove::engine {

RecordState &record_state() {
    static RecordState state;
    return state;
}

void apply_header(const Header &header) {
    RecordState &state = record_state();
    state.frame_freq = header.frame_frequency();
    state.cfreq = header.counter_frequency();
    state.basecount = header.basecount;
    state.length = header.nsamp;
    state.base_ms = header.base_ms;
    state.base_date = header.base_date;
    state.spf_max = header.largest_spf();
}

double sampling_frequency() {
    const RecordState &state = record_state();
    return state.high_resolution ? state.frame_freq * state.spf_max : state.frame_freq;
}

void reset_record_state() { record_state() = RecordState{}; }

}  // namespace sigtrove::engine

using sigtrove::engine::record_state;

extern "C" {

WFDB_Frequency sampfreq(char *record) {
    using namespace sigtrove::engine;
    if (!record) return sampling_frequency();
    return guarded_call(OutOfMemoryText{"WFDB: can't allocate memory to read record %s\n", record}, -2.0, [&] {
        std::string name = record_name_for_open(record, nullptr);
        // A record that can not be read leaves no frequency behind, rather than the previous record's.
        record_state().frame_freq = 0;
        record_state().cfreq = 0;
        Header header;
        int rc = read_header(name, header);
        if (rc < 0) return static_cast<WFDB_Frequency>(rc);
        apply_header(header);
        return sampling_frequency();
    });
}

WFDB_Frequency getcfreq(void) {
    const sigtrove::engine::RecordState &state = record_state();
    return state.cfreq > 0 ? state.cfreq : state.frame_freq;
}
}
