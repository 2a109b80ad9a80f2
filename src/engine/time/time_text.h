// Time texts: sample numbers shown as elapsed time or as time of day (timstr,
// mstimstr), and texts read back as sample numbers (strtim).
#ifndef SIGTROVE_ENGINE_TIME_TEXT_H
#define SIGTROVE_ENGINE_TIME_TEXT_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace sigtrove::engine {

// What a time text is computed from: a record's sampling frequency and base time.
struct TimeBasis {
    double freq = 0;     // samples per second; 0 counts at 1 Hz
    long base_ms = 0;    // base time of day, 0 if none
    long base_date = 0;  // Julian day number, 0 if none
};

// "    0:01.440", " 1:00:00.000", "[10:20:31.440 01/01/2000]": with_ms false drops the
// milliseconds (after rounding to them). A positive t, or any t without a base time
// or date, is elapsed time; otherwise -t is shown as the time of day.
// Writes at most `size` bytes (80 are always enough) and allocates nothing.
void format_time_text(long t, const TimeBasis &basis, bool with_ms, char *out, size_t size);
std::string time_text(long t, const TimeBasis &basis, bool with_ms);

// The sample number a time text stands for: "e" the record length, "sN" sample N,
// "[hh:mm:ss]" / "[hh:mm:ss d]" / "[hh:mm:ss dd/mm/yyyy]" a time of day (as a negative
// sample number, the way time-of-day texts are shown), "-TEXT" minus TEXT, anything
// else "h:m:s" elapsed time rounded to the nearest sample. 0 when unreadable.
long time_text_to_samples(const char *text, const TimeBasis &basis, long length);

// A position as the WFDB tools take one on their command lines, checked whole:
// "e" (the record's length), "sN" (sample N), "[hh:mm:ss]", "[hh:mm:ss d]" or
// "[hh:mm:ss dd/mm/yyyy]" (a time of day, counted from the base time), or
// "h:m:s", "m:s", "s" with an optional fraction (elapsed time, rounded to the
// nearest sample); blanks around it are allowed. The sample number, never
// negative (a time of day before the base time is refused); none when the text
// is no such position.
std::optional<long> position_of_time_text(std::string_view text, const TimeBasis &basis, long length);

}  // namespace sigtrove::engine

#endif
