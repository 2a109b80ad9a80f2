#include "time/base_time.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "time/julian_date.h"

namespace sigtrove::engine {
namespace {

// Base times beyond this many milliseconds (about 285 000 years) cannot come from a clock.
constexpr double kMaxBaseMs = 9.0e15;

// strtol of a text that need not end in NUL; none when no digits are there or the value overflows.
std::optional<long> leading_long(const std::string &text, size_t from) {
    if (from > text.size()) return std::nullopt;
    const char *begin = text.c_str() + from;
    char *end = nullptr;
    errno = 0;
    long value = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE) return std::nullopt;
    return value;
}

}  // namespace

std::optional<double> parse_clock_seconds(std::string_view text) {
    std::string own(text);
    const char *p = own.c_str();
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '[' || std::isalpha(static_cast<unsigned char>(*p))) return std::nullopt;
    double parts[3] = {0, 0, 0};
    int count = 0;
    while (count < 3) {
        char *end = nullptr;
        parts[count++] = std::strtod(p, &end);
        p = end;
        if (*p != ':') break;
        ++p;
    }
    double seconds = 0;
    for (int i = 0; i < count; ++i) seconds = seconds * 60 + parts[i];
    return seconds;
}

long parse_date(std::string_view text) {
    std::string own(text);
    size_t first_slash = own.find('/');
    if (first_slash == std::string::npos) return 0;
    size_t second_slash = own.find('/', first_slash + 1);
    if (second_slash == std::string::npos) return 0;
    std::optional<long> day = leading_long(own, 0);
    std::optional<long> month = leading_long(own, first_slash + 1);
    std::optional<long> year = leading_long(own, second_slash + 1);
    if (!day || !month || !year) return 0;
    if (*day < 1 || *day > 31 || *month < 1 || *month > 12) return 0;
    if (*year == 0 || *year > kMaxCalendarYear || *year < -kMaxCalendarYear) return 0;
    return julian_day_number(CalendarDate{static_cast<int>(*day), static_cast<int>(*month), *year});
}

std::string_view base_time_shown(std::string_view text) {
    size_t start = text.find_first_not_of(' ');
    return start == std::string_view::npos ? std::string_view{} : text.substr(start);
}

std::optional<BaseTime> parse_base_time(std::string_view text) {
    std::string_view shown = base_time_shown(text);
    size_t space = shown.find(' ');
    std::string_view time_part = shown.substr(0, space);
    std::optional<double> seconds = parse_clock_seconds(time_part);
    if (!seconds) return std::nullopt;
    double ms = *seconds * 1000 + 0.5;
    if (!std::isfinite(ms) || ms < 0 || ms > kMaxBaseMs) return std::nullopt;
    BaseTime base;
    base.ms = static_cast<long>(ms);
    if (space != std::string_view::npos) base.date = parse_date(shown.substr(space + 1));
    if (base.ms == 0 && base.date == 0) return std::nullopt;
    return base;
}

}  // namespace sigtrove::engine
