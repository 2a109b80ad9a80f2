// The Record object's layout, shared by the units that implement its methods:
// the specified operations (record.cpp) and the array and header views on its
// engine record (record_arrays.cpp, record_header.cpp).
#ifndef SIGTROVE_RECORD_OBJECT_H
#define SIGTROVE_RECORD_OBJECT_H

#include "record_engine.h"
#include "record_location.h"
#include "sigtrove.h"
#include "wfdb/wfdb.h"

namespace sigtrove {

struct RecordObject {
    PyObject_HEAD
    const Sigtrove_RecordOps *ops;
    RecordLocation location;
    int nsig;
    double frequency;
    PyObject *signal_names;
    WFDB_Siginfo *siginfo;
    int nopen;  // leading entries of siginfo that the engine has written
    // The engine record behind the array reads and time texts; made at the
    // first open, from the description that open read.
    RecordEngine *engine;
};

inline RecordObject *as_record(PyObject *o) { return reinterpret_cast<RecordObject *>(o); }

// Methods beyond the specified ones (record_header.cpp).
PyObject *record_time_text(PyObject *self, PyObject *args, PyObject *kwargs);

}  // namespace sigtrove

#endif
