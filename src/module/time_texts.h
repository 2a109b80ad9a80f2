// WFDB time texts as Python values: a sample number shown as a time text, and
// the argument forms the array reads take for a position (a number, or a time
// text as the WFDB tools take it).
#ifndef SIGTROVE_TIME_TEXTS_H
#define SIGTROVE_TIME_TEXTS_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "time/time_text.h"

namespace sigtrove {

// The arguments of time_text(sample, *, milliseconds=False).
struct TimeTextRequest {
    long sample = 0;
    bool milliseconds = false;

    bool parse(PyObject *args, PyObject *kwargs);
};

// The engine's time text of a sample number by this basis, without its left padding.
PyObject *time_text_object(const TimeTextRequest &request, const engine::TimeBasis &basis);

// The window [start, stop) that start and stop arguments name: each a number
// (anything with __index__; negative is refused), a position as the WFDB tools
// take one ("0:10", "1:02:03.5", "s1200", "e", "[10:00:00]") by `basis`, or None
// (start 0, stop the end). `end` is the record's length ("e"; -1: unknown, and "e"
// has no bound). With `clamp`, stop is clamped at a known end and a start past it
// gives an empty window; a stop before start is refused.
bool window_arguments(PyObject *start_arg, PyObject *stop_arg, const engine::TimeBasis &basis, long long end,
                      bool clamp, long long &start, long long &stop);

}  // namespace sigtrove

#endif
