// annstr, strann, anndesc and the QRS table of ecgmap.h, over the process's annotation code table.
#include <cstdio>
#include <string_view>

#include "annotations/annotation_codes.h"
#include "wfdb/ecgmap.h"
#include "wfdb/wfdb.h"

using sigtrove::engine::process_code_table;

extern "C" {

const char wfdb_qrs_table[ACMAX + 1] = {
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0..9
    1, 1, 1, 1, 0, 0, 0, 0, 0, 0,  // 10..19
    0, 0, 0, 0, 0, 1, 0, 0, 0, 0,  // 20..29
    1, 1, 0, 0, 1, 1, 0, 0, 1, 0,  // 30..39
    0, 1, 0, 0, 0, 0, 0, 0, 0, 0,  // 40..49
};

char *annstr(int code) {
    if (code >= 0 && code <= ACMAX) return process_code_table().mnemonic_data(code);
    // Codes outside the table share one buffer, overwritten by the next such call.
    static char bracketed[16];
    std::snprintf(bracketed, sizeof bracketed, "[%d]", code);
    return bracketed;
}

int strann(char *s) { return process_code_table().code_of(s ? s : ""); }

char *anndesc(int code) {
    if (code < 0 || code > ACMAX) return const_cast<char *>("illegal annotation code");
    return process_code_table().description_data(code);
}
}
