// The Record object's layout, shared by the units that implement its methods:
// the type and its life (record.cpp), its opening (record_open.cpp), the original
// operations (record_read.cpp, record_signal_info.cpp) and the array and header
// views on its engine record (record_arrays.cpp, record_header.cpp).
#ifndef SIGTROVE_RECORD_OBJECT_H
#define SIGTROVE_RECORD_OBJECT_H

#include <cstddef>

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

// What its life (engine_object.h) owns beside the location and the engine record.
inline PyObject *&python_field(RecordObject &self) { return self.signal_names; }
inline void release_memory(RecordObject &) {}

// The engine record of an object whose construction read its header; null with
// ValueError ("the record was not opened") otherwise.
RecordEngine *opened_engine(PyObject *obj);

// ---- opening (record_open.cpp)
PyObject *record_new(PyTypeObject *type, PyObject *args, PyObject *kwargs);
// The internal operation reopen: makes the record current, opening its signals
// when another object's open closed them (also reached through the capsule).
int record_reopen(PyObject *obj);
// Makes the record current (reopening it if need be), for an operation that needs its signals.
int record_make_current(PyObject *obj);
// What the original operations' time texts count by: the record's sampling rate
// (in high resolution, of its fastest signal) and base time.
engine::TimeBasis record_time_basis(const RecordEngine &engine);

// Raises what an engine call that ran out of memory gives: MemoryError.
inline int raise_no_memory() {
    PyErr_NoMemory();
    return -1;
}

// ---- the original operations (record_read.cpp, record_signal_info.cpp)
// A signal number (type exactly int) or a signal name (type exactly str) as a
// number; -1 with ValueError and a traceback entry otherwise.
int record_signal_number(PyObject *obj, PyObject *signal_id);
// The number of the first signal named `name` (a str): -1 when none is, -2 with
// an exception when a comparison failed.
int signal_named(const RecordObject &self, PyObject *name);
PyObject *record_read(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *record_signal_info(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *record_str(PyObject *self);

// What a header's line for one signal says, as the original operations show it.
inline const engine::SignalSpec &signal_spec(PyObject *obj, int signal) {
    return as_record(obj)->engine->description().header.signals[static_cast<std::size_t>(signal)];
}

// The sample count the original operations hold a signal to: the header's
// length for a signal whose line has a checksum, else 0. The signals of an EDF
// file all have the length its data records give.
inline long signal_length(PyObject *obj, const engine::SignalSpec &spec) {
    return spec.edf ? as_record(obj)->engine->description().header.nsamp : spec.nsamp;
}

// ---- methods and properties beyond the original ones: what the header says
// and pickling (record_header.cpp); windows as arrays (record_arrays.cpp).
PyObject *record_time_text(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *record_get_signals(PyObject *self, void *);
PyObject *record_get_comments(PyObject *self, void *);
PyObject *record_get_base_datetime(PyObject *self, void *);
PyObject *record_get_frame_count(PyObject *self, void *);
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
