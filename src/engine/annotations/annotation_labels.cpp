#include "annotations/annotation_labels.h"

#include <charconv>
#include <cmath>
#include <cstddef>

#include "wfdb/ecgcodes.h"

namespace sigtrove::engine {
namespace {

constexpr std::string_view time_resolution_prefix = "## time resolution: ";

// Line breaks count as blanks too, so a mnemonic never swallows the end of its line.
bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

size_t skip_blanks(std::string_view text, size_t at) {
    while (at < text.size() && is_blank(text[at])) ++at;
    return at;
}

size_t skip_word(std::string_view text, size_t at) {
    while (at < text.size() && !is_blank(text[at])) ++at;
    return at;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

ModificationLabel parse_time_resolution(std::string_view text) {
    ModificationLabel label;
    if (text.substr(0, time_resolution_prefix.size()) != time_resolution_prefix) return label;
    std::string_view number = text.substr(skip_blanks(text, time_resolution_prefix.size()));
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (error != std::errc() || !std::isfinite(value) || value <= 0) return label;
    label.kind = ModificationLabel::Kind::time_resolution;
    label.resolution = value;
    return label;
}

ModificationLabel parse_code_definition(std::string_view text) {
    ModificationLabel label;
    size_t at = skip_blanks(text, 0);
    bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) ++at;
    size_t digits_start = at;
    long code = 0;
    for (; at < text.size() && is_digit(text[at]); ++at) {
        if (code <= ACMAX) code = code * 10 + (text[at] - '0');  // stops growing once out of range
    }
    if (at == digits_start) return label;
    if (negative) code = -code;
    if (code < 0 || code > ACMAX) return label;
    at = skip_blanks(text, skip_word(text, at));
    size_t mnemonic_end = skip_word(text, at);
    if (mnemonic_end == at) return label;
    label.kind = ModificationLabel::Kind::code_definition;
    label.code = static_cast<int>(code);
    label.mnemonic = text.substr(at, mnemonic_end - at);
    // The description starts after the one character that ends the mnemonic.
    label.description = mnemonic_end < text.size() ? text.substr(mnemonic_end + 1) : std::string_view();
    return label;
}

}  // namespace

ModificationLabel parse_modification_label(std::string_view text) {
    if (text.empty()) return {};
    if (text.front() == '#') return parse_time_resolution(text);
    return parse_code_definition(text);
}

}  // namespace sigtrove::engine
