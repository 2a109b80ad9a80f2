#include "time/julian_date.h"

namespace sigtrove::engine {
namespace {

// Day 0 of the civil day count below (1 January 1970) as a Julian day number.
constexpr long kJulianDayOfUnixEpoch = 2440588;

long floor_div(long a, long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

// Days since 1970-01-01 of an astronomical year (year 0 = 1 BC), valid for every year.
long days_from_civil(long year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    long era = floor_div(year, 400);
    long year_of_era = year - era * 400;
    long shifted_month = month > 2 ? month - 3 : month + 9;
    long day_of_year = (153 * shifted_month + 2) / 5 + day - 1;
    long day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

}  // namespace

long julian_day_number(const CalendarDate &date) {
    long astronomical_year = date.year < 0 ? date.year + 1 : date.year;
    return days_from_civil(astronomical_year, date.month, date.day) + kJulianDayOfUnixEpoch;
}

CalendarDate calendar_date(long julian_day) {
    long days = julian_day - kJulianDayOfUnixEpoch + 719468;
    long era = floor_div(days, 146097);
    long day_of_era = days - era * 146097;
    long year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    long shifted_month = (5 * day_of_year + 2) / 153;
    CalendarDate date;
    date.day = static_cast<int>(day_of_year - (153 * shifted_month + 2) / 5 + 1);
    date.month = static_cast<int>(shifted_month < 10 ? shifted_month + 3 : shifted_month - 9);
    long astronomical_year = year_of_era + era * 400 + (date.month <= 2 ? 1 : 0);
    date.year = astronomical_year <= 0 ? astronomical_year - 1 : astronomical_year;
    return date;
}

}  // namespace sigtrove::engine
