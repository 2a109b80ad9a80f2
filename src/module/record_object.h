// The Record object's layout, shared by the units that implement its methods:
// the original operations (record.cpp) and the array and header views on its
// engine record (record_arrays.cpp, record_header.cpp).
#ifndef SIGTROVE_RECORD_OBJECT_H
#define SIGTROVE_RECORD_OBJECT_H

#include "record_engine.h"
#include "record_location.h"
#include "sigtrove.h"

namespace sigtrove {

struct RecordObject {
    PyObject_HEAD
    const Sigtrove_RecordOps *ops;
    RecordLocation location;
    int nsig;
    double frequency;
    PyObject *signal_names;
    // The engine record behind every operation: its header's description, read
    // once by the construction, and its signals when they are open. Null until
    // the construction has read the header.
    RecordEngine *engine;
    // Made with signals_required=False: it pickles the same way.
    bool signals_optional;
};

inline RecordObject *as_record(PyObject *o) { return reinterpret_cast<RecordObject *>(o); }

// Methods and properties beyond the original ones: what the header says, the
// object's life (record_header.cpp); windows as arrays (record_arrays.cpp).
PyObject *record_time_text(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *record_get_signals(PyObject *self, void *);
PyObject *record_get_comments(PyObject *self, void *);
PyObject *record_get_base_datetime(PyObject *self, void *);
PyObject *record_get_frame_count(PyObject *self, void *);
PyObject *record_enter(PyObject *self, PyObject *);
PyObject *record_exit(PyObject *self, PyObject *args);
PyObject *record_reduce(PyObject *self, PyObject *);
PyObject *record_frames(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *record_signal(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *record_window(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *record_get_readable_frames(PyObject *self, void *);

// The type of Record.signals' items, made at import.
bool ready_signal_type();
PyObject *signal_type_object();

}  // namespace sigtrove

#endif
