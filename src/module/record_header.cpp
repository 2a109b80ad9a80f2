// What a record's header says, as Python values, read from the description the
// record's engine object holds: no engine call, no lock, no working directory.
#include <string>

#include "record_object.h"
#include "texts/time_text.h"

namespace sigtrove {

namespace {

// The description of a record whose construction finished (it opened once).
const engine::RecordDescription *description_of(PyObject *obj) {
    RecordEngine *engine = as_record(obj)->engine;
    if (engine == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the record was not opened");
        return nullptr;
    }
    return &engine->description();
}

}  // namespace

PyObject *record_time_text(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"sample", "milliseconds", nullptr};
    long long sample = 0;
    int milliseconds = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "L|$p:time_text", const_cast<char **>(keywords), &sample,
                                     &milliseconds))
        return nullptr;
    const engine::RecordDescription *description = description_of(obj);
    if (description == nullptr) return nullptr;
    if (sample < LONG_MIN || sample > LONG_MAX) {
        PyErr_SetString(PyExc_OverflowError, "sample number out of range");
        return nullptr;
    }
    char text[128];
    engine::format_time_text(static_cast<long>(sample), description->time_basis(), milliseconds != 0, text,
                             sizeof text);
    // The engine pads elapsed times on the left, for columns; a Python caller pads as it likes.
    std::string_view view(text);
    while (!view.empty() && view.front() == ' ') view.remove_prefix(1);
    return engine_text(view.data(), view.size());
}

}  // namespace sigtrove
