#include "texts/annotation_codes.h"

#include <array>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "wfdb/ecgmap.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

struct CodeEntry {
    std::string mnemonic;
    std::optional<std::string> description;  // none: anndesc gives a null pointer
};

using CodeTable = std::array<CodeEntry, ACMAX + 1>;

struct InitialCode {
    const char *mnemonic;
    const char *description;
};

// The table every process starts with; codes without a meaning of their own
// carry a bracketed mnemonic and no description.
constexpr InitialCode initial_codes[ACMAX + 1] = {
    {" ", ""},
    {"N", "Normal beat"},
    {"L", "Left bundle branch block beat"},
    {"R", "Right bundle branch block beat"},
    {"a", "Aberrated atrial premature beat"},
    {"V", "Premature ventricular contraction"},
    {"F", "Fusion of ventricular and normal beat"},
    {"J", "Nodal (junctional) premature beat"},
    {"A", "Atrial premature beat"},
    {"S", "Supraventricular premature or ectopic beat"},
    {"E", "Ventricular escape beat"},
    {"j", "Nodal (junctional) escape beat"},
    {"/", "Paced beat"},
    {"Q", "Unclassifiable beat"},
    {"~", "Change in signal quality"},
    {"[15]", nullptr},
    {"|", "Isolated QRS-like artifact"},
    {"[17]", nullptr},
    {"s", "ST segment change"},
    {"T", "T-wave change"},
    {"*", "Systole"},
    {"D", "Diastole"},
    {"\"", "Comment annotation"},
    {"=", "Measurement annotation"},
    {"p", "P-wave peak"},
    {"B", "Bundle branch block beat (unspecified)"},
    {"^", "(Non-captured) pacemaker artifact"},
    {"t", "T-wave peak"},
    {"+", "Rhythm change"},
    {"u", "U-wave peak"},
    {"?", "Beat not classified during learning"},
    {"!", "Ventricular flutter wave"},
    {"[", "Start of ventricular flutter/fibrillation"},
    {"]", "End of ventricular flutter/fibrillation"},
    {"e", "Atrial escape beat"},
    {"n", "Supraventricular escape beat"},
    {"@", "Link to external data (aux contains URL)"},
    {"x", "Non-conducted P-wave (blocked APC)"},
    {"f", "Fusion of paced and normal beat"},
    {"(", "Waveform onset"},
    {")", "Waveform end"},
    {"r", "R-on-T premature ventricular contraction"},
    {"[42]", nullptr},
    {"[43]", nullptr},
    {"[44]", nullptr},
    {"[45]", nullptr},
    {"[46]", nullptr},
    {"[47]", nullptr},
    {"[48]", nullptr},
    {"[49]", nullptr},
};

CodeTable make_initial_table() {
    CodeTable table;
    for (int code = 0; code <= ACMAX; ++code) {
        table[code].mnemonic = initial_codes[code].mnemonic;
        if (initial_codes[code].description) table[code].description = initial_codes[code].description;
    }
    return table;
}

CodeTable &code_table() {
    static CodeTable table = make_initial_table();
    return table;
}

bool is_table_code(int code) { return code >= 0 && code <= ACMAX; }

std::string_view without_line_break(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text;
}

}  // namespace

void define_annotation_code(int code, std::string_view mnemonic, std::string_view description) {
    if (!is_table_code(code)) return;
    // Both strings are built before either is installed, so a failed allocation changes nothing.
    std::string new_mnemonic(mnemonic);
    std::string new_description(without_line_break(description));
    CodeEntry &entry = code_table()[code];
    entry.mnemonic.swap(new_mnemonic);
    if (entry.description) {
        entry.description->swap(new_description);
    } else {
        entry.description.emplace(std::move(new_description));
    }
}

}  // namespace sigtrove::engine

using sigtrove::engine::code_table;
using sigtrove::engine::is_table_code;

extern "C" {

const char wfdb_qrs_table[ACMAX + 1] = {
    0, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0..9
    1, 1, 1, 1, 0, 0, 0, 0, 0, 0,  // 10..19
    0, 0, 0, 0, 0, 1, 0, 0, 0, 0,  // 20..29
    1, 1, 0, 0, 1, 1, 0, 0, 1, 0,  // 30..39
    0, 1, 0, 0, 0, 0, 0, 0, 0, 0,  // 40..49
};

char *annstr(int code) {
    if (is_table_code(code)) return code_table()[code].mnemonic.data();
    // Codes outside the table share one buffer, overwritten by the next such call.
    static char bracketed[16];
    std::snprintf(bracketed, sizeof bracketed, "[%d]", code);
    return bracketed;
}

int strann(char *s) {
    std::string_view wanted = s ? s : "";
    for (int code = 1; code <= ACMAX; ++code) {
        if (code_table()[code].mnemonic == wanted) return code;
    }
    return NOTQRS;
}

char *anndesc(int code) {
    if (!is_table_code(code)) return const_cast<char *>("illegal annotation code");
    auto &description = code_table()[code].description;
    return description ? description->data() : nullptr;
}

}
