// Calendar dates as Julian day numbers (the form WFDB keeps base dates in), on the
// proleptic Gregorian calendar. Years are as written: 1 BC is -1, there is no year 0.
#ifndef SIGTROVE_ENGINE_JULIAN_DATE_H
#define SIGTROVE_ENGINE_JULIAN_DATE_H

namespace sigtrove::engine {

struct CalendarDate {
    int day = 0;
    int month = 0;
    long year = 0;
};

// Years beyond this are refused as dates: no recording is that old or that far ahead,
// and it keeps every day count far inside the range of long.
inline constexpr long kMaxCalendarYear = 10000000;

// The Julian day number of a date (day 1..31, month 1..12, year != 0, |year| <= kMaxCalendarYear).
// Days past the end of a month run on into the next one.
long julian_day_number(const CalendarDate &date);

CalendarDate calendar_date(long julian_day);

}  // namespace sigtrove::engine

#endif
