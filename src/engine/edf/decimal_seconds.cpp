#include "edf/decimal_seconds.h"

#include <charconv>
#include <limits>
#include <string>

namespace sigtrove::engine {
namespace {

using Wide = __int128;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// floor(a / b) for b > 0.
Wide floor_div(Wide a, Wide b) {
    Wide q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

std::int64_t saturated(Wide v) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max() / 2;
    if (v > kMax) return kMax;
    if (v < -kMax) return -kMax;
    return static_cast<std::int64_t>(v);
}

}  // namespace

std::optional<DecimalSeconds> parse_decimal_seconds(std::string_view text, Sign sign) {
    std::size_t i = 0;
    bool negative = false;
    if (sign == Sign::required) {
        if (text.empty() || (text[0] != '+' && text[0] != '-')) return std::nullopt;
        negative = text[0] == '-';
        i = 1;
    }
    std::int64_t whole = 0, fraction = 0;
    int whole_digits = 0, fraction_digits = 0, kept_fraction = 0;
    int significant = 0;
    for (; i < text.size() && is_digit(text[i]); ++i, ++whole_digits) {
        if (whole == 0 && text[i] == '0') continue;
        if (++significant > 9) return std::nullopt;
        whole = whole * 10 + (text[i] - '0');
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && is_digit(text[i]); ++i, ++fraction_digits) {
            if (kept_fraction == 9) continue;
            fraction = fraction * 10 + (text[i] - '0');
            ++kept_fraction;
        }
    }
    if (i != text.size() || whole_digits + fraction_digits == 0) return std::nullopt;
    for (; kept_fraction < 9; ++kept_fraction) fraction *= 10;
    DecimalSeconds out;
    out.nanoseconds = whole * DecimalSeconds::kUnitsPerSecond + fraction;
    if (negative) out.nanoseconds = -out.nanoseconds;
    // from_chars takes no '+'; the digits themselves were checked above.
    std::string_view digits = text.substr(sign == Sign::required ? 1 : 0);
    double value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    out.seconds = negative ? -value : value;
    return out;
}

ExactRate rate_of(std::int64_t frames, const DecimalSeconds &duration) {
    // frames / (ns / 1e9) = frames * 1e9 / ns, reduced so that later products stay small.
    std::int64_t num = frames, den = duration.nanoseconds;
    std::int64_t scale = DecimalSeconds::kUnitsPerSecond;
    auto gcd = [](std::int64_t a, std::int64_t b) {
        while (b != 0) {
            std::int64_t t = a % b;
            a = b;
            b = t;
        }
        return a;
    };
    std::int64_t g = gcd(scale, den);
    scale /= g;
    den /= g;
    g = gcd(num, den);
    num /= g;
    den /= g;
    return ExactRate{num * scale, den};
}

std::int64_t frame_holding(const DecimalSeconds &t, const DecimalSeconds &origin, const ExactRate &rate) {
    Wide diff = static_cast<Wide>(t.nanoseconds) - origin.nanoseconds;
    Wide num = diff * rate.numerator;
    Wide den = static_cast<Wide>(rate.denominator) * DecimalSeconds::kUnitsPerSecond;
    return saturated(floor_div(num, den));
}

std::int64_t nearest_frame(const DecimalSeconds &t, const DecimalSeconds &origin, const ExactRate &rate) {
    Wide diff = static_cast<Wide>(t.nanoseconds) - origin.nanoseconds;
    Wide num = diff * rate.numerator;
    Wide den = static_cast<Wide>(rate.denominator) * DecimalSeconds::kUnitsPerSecond;
    return saturated(floor_div(2 * num + den, 2 * den));
}

}  // namespace sigtrove::engine
