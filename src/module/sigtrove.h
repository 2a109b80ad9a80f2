// Internals shared by the module's three units: the module-wide objects, the
// current-record slot, the record path rule, error mapping and tracebacks.
#ifndef SIGTROVE_MODULE_H
#define SIGTROVE_MODULE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>

#include "annotations/annotation_codes.h"
#include "engine_errors.h"
#include "engine_lock.h"
#include "pyref.h"
#include "sigtrove_capi.h"
#include "time/time_text.h"

namespace sigtrove {

extern PyTypeObject RecordType;
extern PyTypeObject AnnotationEntryType;
extern PyTypeObject AnnotationType;

// A zeroed static type object with its reference count set, ready to fill in.
inline PyTypeObject blank_type() {
    PyTypeObject t{};
    Py_SET_REFCNT(reinterpret_cast<PyObject *>(&t), 1);
    return t;
}

extern const Sigtrove_RecordOps record_ops;
extern const Sigtrove_AnnotationEntryOps annotation_entry_ops;

// Objects created at import and kept for the life of the process. The default
// values are fixed once, at import, as the module's callables document them.
struct ModuleGlobals {
    PyObject *module = nullptr;             // borrowed: single-phase init keeps it alive
    PyObject *error = nullptr;              // _sigtrove.Error
    PyObject *init_error = nullptr;         // _sigtrove.InitError
    PyObject *true_object = nullptr;        // verbose(flag) and Record.read(correct_gain)
    PyObject *default_annotator = nullptr;  // "atr"
    PyObject *default_stat = nullptr;       // the object STAT_READ named at import
};
extern ModuleGlobals globals;

// The module's namespace (borrowed).
PyObject *module_dict();

// ---- the current record: names the one object whose files the engine holds open.
// A borrowed reference, compared by identity only. Set only under the engine lock.
bool is_current(PyObject *obj);
void set_current(PyObject *obj);
// Empties the slot if it names `obj`, without the engine lock: for destruction,
// which must never wait (see record_dealloc).
void forget_current(PyObject *obj);

// ---- the files the original operations hold open: the signals of one record
// and one annotation file, as the C library held one set of each. An open by
// another object closes the last holder's (its next operation opens them
// again), so that records kept alive by the thousand hold no files. Under the
// engine lock, except forget_holder (destruction).
void hold_signals(PyObject *record);
void hold_annotation_file(PyObject *annotation);
void forget_holder(PyObject *obj);

// ---- what the original operations share process-wide, as the C library did:
// the annotation code table (the initial one with the definitions of every
// annotation file opened since), and the time basis of the record whose header
// was read last (AnnotationEntry's time texts follow it). Under the engine lock.
engine::AnnotationCodeTable &annotation_codes();
engine::TimeBasis &last_time_basis();

// ---- failures
// Adds a traceback entry named after the failing operation ("_sigtrove.Record.read").
void add_traceback(const char *operation);
// Returns `result` after adding a traceback entry when it is null.
inline PyObject *traced(const char *operation, PyObject *result) {
    if (result == nullptr) add_traceback(operation);
    return result;
}
inline int traced_status(const char *operation, int status) {
    if (status < 0) add_traceback(operation);
    return status;
}

// A text from the engine as a str: UTF-8, or Latin-1 when it is not valid UTF-8.
PyObject *engine_text(const char *text);
PyObject *engine_text(const char *text, size_t length);

// ---- links between the units
// The path a Record was constructed from (borrowed).
PyObject *record_path_of(PyObject *record);
// Record.annotation(name="atr", stat=STAT_READ): the record's annotation file.
PyObject *record_annotation(PyObject *record, PyObject *args, PyObject *kwargs);

}  // namespace sigtrove

#endif
