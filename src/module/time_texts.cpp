#include "time_texts.h"

#include <climits>
#include <string_view>

#include "sigtrove.h"

namespace sigtrove {

bool TimeTextRequest::parse(PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"sample", "milliseconds", nullptr};
    long long number = 0;
    int with_ms = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "L|$p:time_text", const_cast<char **>(keywords), &number,
                                     &with_ms))
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

}  // namespace sigtrove
