// wfdberror, wfdbquiet and wfdbverbose over the engine's process-wide error text.
#include "errors/error_state.h"
#include "wfdb/wfdb.h"

extern "C" {

char *wfdberror(void) { return const_cast<char *>(sigtrove::engine::last_error_text()); }

void wfdbquiet(void) { sigtrove::engine::set_verbose(false); }

void wfdbverbose(void) { sigtrove::engine::set_verbose(true); }
}
