#include "engine_errors.h"

#include "sigtrove.h"
#include "wfdb/wfdb.h"

namespace sigtrove {

PyObject *raise_engine_error() {
    PyRef text = PyRef::steal(engine_text(wfdberror()));
    if (text) PyErr_SetObject(globals.init_error, text.get());
    return nullptr;
}

PyObject *raise_failure(const engine::Status &status) {
    using engine::ErrorKind;
    PyObject *type = globals.init_error;
    switch (status.kind()) {
        case ErrorKind::out_of_memory: return PyErr_NoMemory();
        case ErrorKind::bad_request: type = PyExc_ValueError; break;
        case ErrorKind::exists: type = PyExc_FileExistsError; break;
        case ErrorKind::unwritable: type = PyExc_OSError; break;
        case ErrorKind::not_found:
        case ErrorKind::malformed:
        case ErrorKind::unreadable:
        case ErrorKind::limit:
        case ErrorKind::remote:
        case ErrorKind::none: break;
    }
    PyRef text = PyRef::steal(engine_text(status.text().data(), status.text().size()));
    if (text) PyErr_SetObject(type, text.get());
    return nullptr;
}

}  // namespace sigtrove
