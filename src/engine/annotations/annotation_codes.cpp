#include "annotations/annotation_codes.h"

#include <cstdio>
#include <string>
#include <utility>

#include "wfdb/ecgmap.h"

namespace sigtrove::engine {
namespace {

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

bool is_table_code(int code) { return code >= 0 && code <= ACMAX; }

std::string_view without_line_break(std::string_view text) {
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    return text;
}

}  // namespace

AnnotationCodeTable::AnnotationCodeTable() {
    for (int code = 0; code <= ACMAX; ++code) {
        entries_[code].mnemonic = initial_codes[code].mnemonic;
        if (initial_codes[code].description) entries_[code].description = initial_codes[code].description;
    }
}

void AnnotationCodeTable::define(int code, std::string_view mnemonic, std::string_view description) {
    if (!is_table_code(code)) return;
    // Both strings are built before either is installed, so a failed allocation changes nothing.
    std::string new_mnemonic(mnemonic);
    std::string new_description(without_line_break(description));
    Entry &entry = entries_[code];
    entry.mnemonic.swap(new_mnemonic);
    if (entry.description) {
        entry.description->swap(new_description);
    } else {
        entry.description.emplace(std::move(new_description));
    }
}

std::string AnnotationCodeTable::mnemonic(int code) const {
    if (is_table_code(code)) return entries_[code].mnemonic;
    char bracketed[16];
    std::snprintf(bracketed, sizeof bracketed, "[%d]", code);
    return bracketed;
}

const char *AnnotationCodeTable::description(int code) const {
    if (!is_table_code(code)) return "illegal annotation code";
    const std::optional<std::string> &description = entries_[code].description;
    return description ? description->c_str() : nullptr;
}

int AnnotationCodeTable::code_of(std::string_view mnemonic) const {
    for (int code = 1; code <= ACMAX; ++code) {
        if (entries_[code].mnemonic == mnemonic) return code;
    }
    return NOTQRS;
}

char *AnnotationCodeTable::mnemonic_data(int code) { return entries_[code].mnemonic.data(); }

char *AnnotationCodeTable::description_data(int code) {
    std::optional<std::string> &description = entries_[code].description;
    return description ? description->data() : nullptr;
}

AnnotationCodeTable &process_code_table() {
    static AnnotationCodeTable table;
    return table;
}

void define_annotation_code(int code, std::string_view mnemonic, std::string_view description) {
    process_code_table().define(code, mnemonic, description);
}

void reset_annotation_codes() { process_code_table() = AnnotationCodeTable(); }

}  // namespace sigtrove::engine
