#include "time_texts.h"

#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <string_view>

#include "sigtrove.h"

namespace sigtrove {

bool TimeTextRequest::parse(PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"sample", "milliseconds", nullptr};
    long long number = 0;
    int with_ms = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "L|$p:time_text", const_cast<char **>(keywords), &number, &with_ms))
        return false;
    if (number < LONG_MIN || number > LONG_MAX) {
        PyErr_SetString(PyExc_OverflowError, "sample number out of range");
        return false;
    }
    sample = static_cast<long>(number);
    milliseconds = with_ms != 0;
    return true;
}

PyObject *time_text_object(const TimeTextRequest &request, const engine::TimeBasis &basis) {
    char text[128];
    engine::format_time_text(request.sample, basis, request.milliseconds, text, sizeof text);
    // The engine pads elapsed times on the left, for columns; a Python caller pads as it likes.
    std::string_view view(text);
    while (!view.empty() && view.front() == ' ') view.remove_prefix(1);
    return engine_text(view.data(), view.size());
}

namespace {

// A start or stop argument: a number (anything with __index__), or a position as
// the WFDB tools take one ("0:10", "1:02:03.5", "s1200", "e"), counted at
// `frequency` samples per second. None stays none: the window's caller reads it
// as the beginning (a start) or the end (a stop).
bool position_argument(PyObject *arg, const char *which, const engine::TimeBasis &basis, long long end,
                       std::optional<long long> &out) {
    if (arg == nullptr || arg == Py_None) {
        out.reset();
        return true;
    }
    if (PyUnicode_Check(arg)) {
        const char *text = PyUnicode_AsUTF8(arg);
        if (text == nullptr) return false;
        // "e" is the end: the record's length, or no bound when it is not known.
        long length = end < 0 ? LONG_MAX : static_cast<long>(std::min(end, static_cast<long long>(LONG_MAX)));
        std::optional<long> position = engine::position_of_time_text(text, basis, length);
        if (!position) {
            PyErr_Format(PyExc_ValueError,
                         "%s %R is neither a sample number nor a WFDB time (\"0:10\", "
                         "\"1:02:03.5\", \"s1200\", \"e\")",
                         which, arg);
            return false;
        }
        out = *position;
        return true;
    }
    PyRef index = PyRef::steal(PyNumber_Index(arg));
    if (!index) return false;
    int overflow = 0;
    long long value = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
    if (value == -1 && PyErr_Occurred()) return false;
    if (overflow < 0 || value < 0) {
        PyErr_Format(PyExc_ValueError, "%s %R is negative", which, arg);
        return false;
    }
    out = overflow > 0 ? LLONG_MAX : value;
    return true;
}

}  // namespace

bool window_arguments(PyObject *start_arg, PyObject *stop_arg, const engine::TimeBasis &basis, long long end,
                      bool clamp, long long &start, long long &stop) {
    std::optional<long long> first, last;
    if (!position_argument(start_arg, "start", basis, end, first)) return false;
    if (!position_argument(stop_arg, "stop", basis, end, last)) return false;
    start = first.value_or(0);
    stop = last.value_or(clamp && end >= 0 ? end : LLONG_MAX);
    if (last && stop < start) {
        PyErr_Format(PyExc_ValueError, "stop %lld is before start %lld", stop, start);
        return false;
    }
    if (clamp && end >= 0) stop = std::min(stop, end);
    stop = std::max(stop, start);
    return true;
}

}  // namespace sigtrove
