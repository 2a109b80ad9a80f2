// Placeholder for frequency calls not written yet; removed as they land.
#include "wfdb/wfdb.h"

extern "C" {
WFDB_Frequency sampfreq(char *) { return -1.0; }
WFDB_Frequency getcfreq(void) { return 0; }
}
