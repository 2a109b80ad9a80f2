#include "writers/edf_record_duration.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>
#include <vector>

namespace sigtrove::engine {
namespace {

constexpr std::int64_t kCustomaryRecordBytes = 61440;
constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::size_t kFieldWidth = 8;

using Wide = unsigned __int128;

// The frequency as the decimal fraction it is written as (its shortest text that reads
// back as the same double): numerator / 10^exponent. None where that needs more digits
// than 18.
struct Decimal {
    std::uint64_t numerator = 0;
    int exponent = 0;
};

std::optional<Decimal> decimal_of(double value) {
    char text[400];
    auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
    if (error != std::errc()) return std::nullopt;
    Decimal out;
    bool point = false;
    int digits = 0;
    for (const char *c = text; c < end; ++c) {
        if (*c == '.') {
            point = true;
            continue;
        }
        if (*c < '0' || *c > '9') return std::nullopt;
        if (out.numerator == 0 && *c == '0') {
            if (point) ++out.exponent;
            continue;
        }
        if (++digits > 18) return std::nullopt;
        out.numerator = out.numerator * 10 + static_cast<std::uint64_t>(*c - '0');
        if (point) ++out.exponent;
    }
    if (out.numerator == 0) return std::nullopt;
    return out;
}

Wide gcd(Wide a, Wide b) {
    while (b != 0) {
        Wide t = a % b;
        a = b;
        b = t;
    }
    return a;
}

// F frames at the frequency p / 10^e last F * 10^e / p seconds: the text of that
// duration where it is a decimal of at most 8 characters.
std::optional<EdfRecordDuration> exact_duration(const Decimal &rate, std::int64_t frames_per_record) {
    Wide top = static_cast<Wide>(frames_per_record);
    for (int i = 0; i < rate.exponent; ++i) top *= 10;
    Wide bottom = rate.numerator;
    const Wide common = gcd(top, bottom);
    top /= common;
    bottom /= common;
    // A fraction ends in decimals when its denominator is made of twos and fives only.
    int twos = 0, fives = 0;
    while (bottom % 2 == 0) bottom /= 2, ++twos;
    while (bottom % 5 == 0) bottom /= 5, ++fives;
    if (bottom != 1) return std::nullopt;
    const int decimals = std::max(twos, fives);
    if (decimals > 7) return std::nullopt;  // "0.0000001" is 9 characters already
    for (int i = 0; i < decimals - twos; ++i) top *= 2;
    for (int i = 0; i < decimals - fives; ++i) top *= 5;
    // top / 10^decimals, written out: the whole part, then the decimals.
    Wide scale = 1;
    for (int i = 0; i < decimals; ++i) scale *= 10;
    auto digits_of = [](Wide value, int at_least) {
        std::string out;
        for (; value != 0 || static_cast<int>(out.size()) < at_least; value /= 10)
            out += static_cast<char>('0' + static_cast<int>(value % 10));
        std::reverse(out.begin(), out.end());
        return out;
    };
    std::string text = digits_of(top / scale, 1);
    if (decimals > 0) {
        text += '.';
        text += digits_of(top % scale, decimals);
    }
    if (text.size() > kFieldWidth) return std::nullopt;
    Wide nanoseconds = top;
    for (int i = decimals; i < 9; ++i) nanoseconds *= 10;
    EdfRecordDuration out;
    out.text = text;
    out.nanoseconds = static_cast<std::int64_t>(nanoseconds);
    out.frames_per_record = frames_per_record;
    return out;
}

// The divisors of N (> 0), in no order.
std::vector<std::int64_t> divisors(std::int64_t n) {
    std::vector<std::int64_t> out;
    for (std::int64_t d = 1; d <= n / d; ++d) {
        if (n % d != 0) continue;
        out.push_back(d);
        if (d != n / d) out.push_back(n / d);
    }
    return out;
}

}  // namespace

std::optional<EdfRecordDuration> choose_edf_record_duration(double frequency, std::int64_t frames,
                                                            std::int64_t frame_bytes) {
    if (!(frequency > 0) || !std::isfinite(frequency) || frames < 1 || frame_bytes < 1) return std::nullopt;
    const std::optional<Decimal> rate = decimal_of(frequency);
    if (rate) {
        const double second_bytes = std::ceil(frequency) * static_cast<double>(frame_bytes);
        const double largest = std::max(static_cast<double>(kCustomaryRecordBytes), second_bytes);
        std::optional<EdfRecordDuration> best;
        double best_distance = 0;
        // Up to 10^6 divisor trials: frame counts past 10^12 keep the customary durations.
        if (frames <= 1'000'000'000'000) {
            for (std::int64_t f : divisors(frames)) {
                if (static_cast<double>(f) * static_cast<double>(frame_bytes) > largest) continue;
                std::optional<EdfRecordDuration> d = exact_duration(*rate, f);
                if (!d || d->nanoseconds < kNanosecondsPerSecond / 10) continue;
                const double distance = std::fabs(std::log(static_cast<double>(d->nanoseconds) / 1e9));
                if (!best || distance < best_distance ||
                    (distance == best_distance && d->nanoseconds > best->nanoseconds)) {
                    best = d;
                    best_distance = distance;
                }
            }
        }
        if (best) {
            best->records = frames / best->frames_per_record;
            return best;
        }
    }
    // The frames do not divide into data records: the customary durations, 1 s first.
    static const char *const kCustomary[] = {"1",    "0.5", "0.2", "0.1", "2",  "5",  "10",
                                             "0.25", "4",   "20",  "25",  "50", "100"};
    for (const char *text : kCustomary) {
        const double seconds = std::strtod(text, nullptr);
        const double f = frequency * seconds;
        const double whole = std::round(f);
        if (whole < 1 || std::fabs(f - whole) >= 1e-9 * std::max(1.0, f)) continue;
        EdfRecordDuration out;
        out.text = text;
        out.nanoseconds = static_cast<std::int64_t>(std::llround(seconds * 1e9));
        out.frames_per_record = static_cast<std::int64_t>(whole);
        out.records = frames / out.frames_per_record + (frames % out.frames_per_record != 0);
        return out;
    }
    return std::nullopt;
}

}  // namespace sigtrove::engine
