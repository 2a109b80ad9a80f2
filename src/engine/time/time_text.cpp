#include "time/time_text.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "errors/error_state.h"
#include "time/base_time.h"
#include "time/julian_date.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

// Whole seconds and rounded milliseconds of a time in seconds.
struct SplitSeconds {
    long seconds;
    int msec;
};

// Whole seconds are taken first and the rest rounded to milliseconds, carrying a
// rounded-up 1000 into the seconds: 59.9996 s is 60 s, not 59 s and 1000 ms.
SplitSeconds split_seconds(double whole_part, double fraction_ms) {
    double msec = std::floor(fraction_ms + 0.5);
    SplitSeconds split{static_cast<long>(whole_part), 0};
    if (msec >= 1000) {
        ++split.seconds;
    } else if (msec > 0) {
        split.msec = static_cast<int>(msec);
    }
    return split;
}

// Clamps a seconds count into long before it is converted.
double clamp_seconds(double seconds) {
    constexpr double kMax = 9.0e18;
    return seconds > kMax ? kMax : seconds;
}

void elapsed_text(double u, double f, bool with_ms, char *out, size_t size) {
    double whole = std::floor(clamp_seconds(u / f));
    SplitSeconds split = split_seconds(whole, (u - whole * f) * 1000.0 / f);
    long h = split.seconds / 3600, m = (split.seconds / 60) % 60, s = split.seconds % 60;
    int n =
        h > 0 ? std::snprintf(out, size, "%2ld:%02ld:%02ld", h, m, s) : std::snprintf(out, size, "   %2ld:%02ld", m, s);
    if (with_ms && n > 0 && static_cast<size_t>(n) < size) std::snprintf(out + n, size - n, ".%03d", split.msec);
}

void time_of_day_text(double u, const TimeBasis &basis, double f, bool with_ms, char *out, size_t size) {
    double ms = static_cast<double>(basis.base_ms) + u * 1000.0 / f;
    double whole = std::floor(clamp_seconds(ms / 1000.0));
    SplitSeconds split = split_seconds(whole, ms - whole * 1000.0);
    long s = split.seconds % 60, m = (split.seconds / 60) % 60, h = (split.seconds / 3600) % 24;
    long days = split.seconds / 86400;
    char date[64] = "";
    if (basis.base_date != 0) {
        CalendarDate d = calendar_date(basis.base_date + days);
        std::snprintf(date, sizeof date, " %02d/%02d/%ld", d.day, d.month, d.year);
    } else if (days != 0) {
        std::snprintf(date, sizeof date, " %ld", days);
    }
    if (with_ms)
        std::snprintf(out, size, "[%02ld:%02ld:%02ld.%03d%s]", h, m, s, split.msec, date);
    else
        std::snprintf(out, size, "[%02ld:%02ld:%02ld%s]", h, m, s, date);
}

// timstr and mstimstr share one buffer, overwritten by every call, as their callers expect.

double counting_frequency(const TimeBasis &basis) { return basis.freq > 0 ? basis.freq : 1.0; }

long seconds_to_samples(double seconds, double f) {
    double samples = seconds * f + 0.5;
    if (!(samples > -9.0e18)) return LONG_MIN + 1;
    if (samples > 9.0e18) return LONG_MAX;
    return static_cast<long>(std::floor(samples));
}

// "[hh:mm:ss]", "[hh:mm:ss d]" (days after the base date) or "[hh:mm:ss dd/mm/yyyy]":
// minus the sample number of that time of day, as timstr shows negative times.
long time_of_day_samples(const char *text, const TimeBasis &basis) {
    const char *close = std::strchr(text, ']');
    std::string inside(text, close ? static_cast<size_t>(close - text) : std::strlen(text));
    std::optional<double> seconds = parse_clock_seconds(inside);
    if (!seconds) return 0;
    double days = 0;
    size_t space = inside.find(' ');
    if (space != std::string::npos) {
        std::string rest = inside.substr(space + 1);
        if (rest.find('/') == std::string::npos)
            days = std::strtod(rest.c_str(), nullptr);
        else if (long date = parse_date(rest); date != 0 && basis.base_date != 0)
            days = static_cast<double>(date - basis.base_date);
    }
    double elapsed_s = days * 86400.0 + *seconds - static_cast<double>(basis.base_ms) / 1000.0;
    return -seconds_to_samples(elapsed_s, counting_frequency(basis));
}

}  // namespace

void format_time_text(long t, const TimeBasis &basis, bool with_ms, char *out, size_t size) {
    double f = counting_frequency(basis);
    bool has_base = basis.base_ms != 0 || basis.base_date != 0;
    if (t > 0 || !has_base)
        elapsed_text(std::fabs(static_cast<double>(t)), f, with_ms, out, size);
    else
        time_of_day_text(-static_cast<double>(t), basis, f, with_ms, out, size);
}

std::string time_text(long t, const TimeBasis &basis, bool with_ms) {
    char text[128];
    format_time_text(t, basis, with_ms, text, sizeof text);
    return text;
}

long time_text_to_samples(const char *text, const TimeBasis &basis, long length) {
    const char *p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    switch (*p) {
        case 'e': return length;
        case 's': return std::strtol(p + 1, nullptr, 10);
        case '[': return time_of_day_samples(p + 1, basis);
        case '-': {
            long t = time_text_to_samples(p + 1, basis, length);
            return t == LONG_MIN ? LONG_MAX : -t;
        }
        default: {
            std::optional<double> seconds = parse_clock_seconds(p);
            return seconds ? seconds_to_samples(*seconds, counting_frequency(basis)) : 0;
        }
    }
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// "d", "d.d", ".d" or "d.": a decimal number without sign or exponent; advances `at`.
bool skip_decimal(std::string_view text, size_t &at) {
    size_t digits = 0;
    while (at < text.size() && is_digit(text[at])) ++at, ++digits;
    if (at < text.size() && text[at] == '.') {
        ++at;
        while (at < text.size() && is_digit(text[at])) ++at, ++digits;
    }
    return digits > 0;
}

// "s", "m:s" or "h:m:s", each part a decimal number: the whole text.
bool is_clock(std::string_view text) {
    size_t at = 0;
    for (int part = 0; part < 3; ++part) {
        if (!skip_decimal(text, at)) return false;
        if (at == text.size()) return true;
        if (text[at] != ':') return false;
        ++at;
    }
    return false;
}

bool is_day_or_date(std::string_view text) {
    size_t at = 0;
    auto digits = [&] {
        size_t from = at;
        while (at < text.size() && is_digit(text[at])) ++at;
        return at > from;
    };
    if (!digits()) return false;
    if (at == text.size()) return true;
    for (int part = 0; part < 2; ++part) {
        if (at == text.size() || text[at] != '/') return false;
        ++at;
        if (!digits()) return false;
    }
    return at == text.size();
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<long> position_of_time_text(std::string_view text, const TimeBasis &basis, long length) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    std::string own(text);
    if (text == "e") return length;
    if (text[0] == 's') {
        std::string_view number = text.substr(1);
        if (number.empty() || number.size() > 18) return std::nullopt;
        for (char c : number)
            if (!is_digit(c)) return std::nullopt;
        return std::strtol(own.c_str() + 1, nullptr, 10);
    }
    if (text[0] == '[') {
        if (text.back() != ']') return std::nullopt;
        std::string_view inside = text.substr(1, text.size() - 2);
        size_t space = inside.find(' ');
        if (!is_clock(inside.substr(0, space))) return std::nullopt;
        if (space != std::string_view::npos && !is_day_or_date(trimmed(inside.substr(space + 1)))) return std::nullopt;
        // A time of day is shown as minus its sample number.
        long t = time_text_to_samples(own.c_str(), basis, length);
        if (t > 0) return std::nullopt;  // before the base time
        return t == LONG_MIN ? LONG_MAX : -t;
    }
    if (!is_clock(text)) return std::nullopt;
    long t = time_text_to_samples(own.c_str(), basis, length);
    return t < 0 ? std::nullopt : std::optional<long>(t);
}

}  // namespace sigtrove::engine
