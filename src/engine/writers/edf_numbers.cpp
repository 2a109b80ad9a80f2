#include "writers/edf_numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

std::string fixed_text(double value, int decimals) {
    char text[400];
    auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (error != std::errc()) return {};
    return std::string(text, end);
}

// Without the zeros that end its fraction (and the point, where nothing is left of it).
std::string trimmed(std::string text) {
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0') text.pop_back();
        if (!text.empty() && text.back() == '.') text.pop_back();
    }
    if (text == "-0" || text.empty()) return "0";
    return text;
}

double read_back(const std::string &text) { return std::strtod(text.c_str(), nullptr); }

}  // namespace

std::optional<std::string> edf_number_text(double value, std::size_t width) {
    if (!std::isfinite(value)) return std::nullopt;
    // The digits a value needs before its point tell how many decimals a number of
    // significant digits leaves.
    const int magnitude = value == 0 ? 0 : static_cast<int>(std::floor(std::log10(std::fabs(value))));
    for (int digits = 1; digits <= 17; ++digits) {
        const std::string text = trimmed(fixed_text(value, std::max(0, digits - 1 - magnitude)));
        if (text.size() > width) break;
        if (read_back(text) == value) return text;
    }
    // Not exactly representable: as many decimals as fit.
    const std::string whole = fixed_text(value, 0);
    if (whole.empty() || whole.size() > width) return std::nullopt;
    for (int decimals = static_cast<int>(width); decimals >= 0; --decimals) {
        std::string text = fixed_text(value, decimals);
        if (text.size() <= width) return trimmed(std::move(text));
    }
    return trimmed(whole);
}

std::optional<EdfPhysicalRange> edf_physical_range(double gain, long long baseline, std::int32_t dmin,
                                                   std::int32_t dmax) {
    if (gain == 0) gain = WFDB_DEFGAIN;
    std::optional<std::string> low = edf_number_text(static_cast<double>(dmin - baseline) / gain);
    std::optional<std::string> high = edf_number_text(static_cast<double>(dmax - baseline) / gain);
    // With a negative gain the maximum is the smaller: EDF readers take the range as it is written.
    if (!low || !high || read_back(*low) == read_back(*high)) return std::nullopt;
    return EdfPhysicalRange{*low, *high};
}

}  // namespace sigtrove::engine
