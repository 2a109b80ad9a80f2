// What a record's header says, as Python values, read from the description the
// record's engine object holds: no engine call, no lock, no working directory.
#include <string>

#include "record_object.h"
#include "time_texts.h"

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
    TimeTextRequest request;
    if (!request.parse(args, kwargs)) return nullptr;
    const engine::RecordDescription *description = description_of(obj);
    if (description == nullptr) return nullptr;
    return time_text_object(request, description->time_basis());
}

}  // namespace sigtrove
