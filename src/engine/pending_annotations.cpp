// Placeholder for annotation calls not written yet; removed as they land.
#include "error_state.h"
#include "wfdb/ecgmap.h"
#include "wfdb/wfdb.h"

extern "C" {
const char wfdb_qrs_table[ACMAX + 1] = {};
int annopen(char *record, WFDB_Anninfo *aiarray, unsigned int) {
    sigtrove::engine::record_error("annopen: can't read annotator %s for record %s\n",
                                   aiarray ? aiarray->name : "", record);
    return -3;
}
int getann(WFDB_Annotator, WFDB_Annotation *) { return -1; }
int iannsettime(WFDB_Time) { return -1; }
char *annstr(int) { return const_cast<char *>(" "); }
int strann(char *) { return 0; }
char *anndesc(int) { return const_cast<char *>(""); }
}
