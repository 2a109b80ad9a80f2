// Placeholder for signal calls not written yet; removed as they land.
#include "error_state.h"
#include "wfdb/wfdb.h"

extern "C" {
int isigopen(char *record, WFDB_Siginfo *, int) {
    sigtrove::engine::record_error("init: can't open header for record %s\n", record);
    return -1;
}
int setgvmode(int) { return 0; }
int getvec(WFDB_Sample *) { return 0; }
int isigsettime(WFDB_Time) { return 0; }
}
