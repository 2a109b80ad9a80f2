// Seconds as an EDF file writes them ("+12.3456789", "30", "0.5"): kept exactly,
// as a whole number of nanoseconds, so that onsets and durations map to frames
// without the rounding of binary fractions (0.1 s at 10 Hz is frame 1, never 0).
#ifndef SIGTROVE_ENGINE_DECIMAL_SECONDS_H
#define SIGTROVE_ENGINE_DECIMAL_SECONDS_H

#include <cstdint>
#include <optional>
#include <string_view>

namespace sigtrove::engine {

struct DecimalSeconds {
    // Digits past the ninth after the point are dropped (toward zero): no
    // recording is timed finer than a nanosecond.
    static constexpr std::int64_t kUnitsPerSecond = 1'000'000'000;

    std::int64_t nanoseconds = 0;
    double seconds = 0;  // the text's value as the nearest double (every digit counted)

    friend bool operator==(const DecimalSeconds &a, const DecimalSeconds &b) { return a.nanoseconds == b.nanoseconds; }
    friend bool operator<(const DecimalSeconds &a, const DecimalSeconds &b) { return a.nanoseconds < b.nanoseconds; }
};

// How a text is signed: onsets begin with '+' or '-', other numbers have no sign.
enum class Sign { required, none };

// "[+-]DIGITS[.DIGITS]" (at least one digit, at most 9 significant ones before the point) as
// seconds; none when the text is anything else.
std::optional<DecimalSeconds> parse_decimal_seconds(std::string_view text, Sign sign);

// A rate as an exact fraction of two whole numbers: frames per second.
struct ExactRate {
    std::int64_t numerator = 0;    // > 0
    std::int64_t denominator = 1;  // > 0
};

// The frame rate of `frames` frames per data record of `duration` (> 0).
ExactRate rate_of(std::int64_t frames, const DecimalSeconds &duration);

// The frame that holds time `t` counted from `origin` (floor), and the frame
// nearest to it (halves up), at `rate`. Both saturate far outside any recording.
std::int64_t frame_holding(const DecimalSeconds &t, const DecimalSeconds &origin, const ExactRate &rate);
std::int64_t nearest_frame(const DecimalSeconds &t, const DecimalSeconds &origin, const ExactRate &rate);

}  // namespace sigtrove::engine

#endif
