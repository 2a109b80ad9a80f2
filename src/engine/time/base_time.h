// The base time and date of a record: the text after NSAMP on a record line
// ("H:M:S D/M/Y"), kept as milliseconds after midnight and a Julian day number.
#ifndef SIGTROVE_ENGINE_BASE_TIME_H
#define SIGTROVE_ENGINE_BASE_TIME_H

#include <optional>
#include <string_view>

namespace sigtrove::engine {

struct BaseTime {
    long ms = 0;    // time of day, milliseconds after midnight
    long date = 0;  // Julian day number, 0 when no date is given
};

// "H:M:S", "M:S" or "S", each part a decimal number with an optional fraction:
// the number of seconds, or none when the text does not start with a number.
std::optional<double> parse_clock_seconds(std::string_view text);

// "D/M/Y" with D 1..31, M 1..12 and Y a year other than 0: its Julian day number, or
// 0 when the text is no such date (text after the year is ignored).
long parse_date(std::string_view text);

// Parses a base-time text as found after NSAMP: leading spaces skipped, the time
// before the first space, the date after it. None when the text is not a time or
// gives neither a time nor a date (a midnight without a date is indistinguishable
// from "no base time", so such headers are refused).
std::optional<BaseTime> parse_base_time(std::string_view text);

// The text a refused base time is reported with: without its leading spaces.
std::string_view base_time_shown(std::string_view text);

}  // namespace sigtrove::engine

#endif
