// Record: an opened WFDB record, the current-record slot's main user, and the
// record path rule.
#include <cstdlib>
#include <cstring>

#include "sigtrove.h"

#include <structmember.h>
#include "wfdb/wfdb.h"

namespace sigtrove {

namespace {

struct RecordObject {
    PyObject_HEAD
    const Sigtrove_RecordOps *ops;
    PyObject *record_path;
    PyObject *record;
    PyObject *basedir;
    int nsig;
    double frequency;
    PyObject *signal_names;
    WFDB_Siginfo *siginfo;
    int nopen;  // leading entries of siginfo that the engine has written
};

RecordObject *as_record(PyObject *o) { return reinterpret_cast<RecordObject *>(o); }

// Releases the strings the engine copied into siginfo and forgets them.
void release_siginfo_strings(RecordObject *self) {
    for (int i = 0; i < self->nopen; ++i) {
        WFDB_Siginfo &s = self->siginfo[i];
        std::free(s.fname);
        std::free(s.desc);
        std::free(s.units);
        s.fname = s.desc = s.units = nullptr;
    }
    self->nopen = 0;
}

PyObject *call_module_function(const char *name, PyObject *arg) {
    PyObject *function = PyDict_GetItemString(module_dict(), name);
    if (function == nullptr) {
        PyErr_Format(PyExc_AttributeError, "module '_sigtrove' has no attribute '%s'", name);
        return nullptr;
    }
    return arg ? PyObject_CallOneArg(function, arg) : PyObject_CallNoArgs(function);
}

// Opens the record's signals in the engine and makes the record current.
int reopen(PyObject *obj) {
    RecordObject *self = as_record(obj);
    if (is_current(obj)) return 0;
    DirectorySwitch directory;
    if (!directory.enter(self->basedir)) return traced_status("_sigtrove.Record.reopen", -1);
    std::string name;
    if (!engine_name(self->record, name)) return traced_status("_sigtrove.Record.reopen", -1);
    // The open closes whatever signals the engine held, so no object is current
    // until it succeeds.
    set_current(nullptr);
    release_siginfo_strings(self);
    int n = isigopen(name.data(), self->siginfo, self->nsig);
    if (n > 0) self->nopen = n;
    if (n < self->nsig) {
        // Fewer signals than the header lists (or none): refuse rather than
        // leave unwritten entries to be read.
        if (n > 0) {
            release_siginfo_strings(self);
            PyErr_Format(globals.init_error,
                         "isigopen: only %d of the %d signals of record %s are readable\n", n,
                         self->nsig, name.c_str());
        } else {
            raise_engine_error();
        }
        directory.restore();
        return traced_status("_sigtrove.Record.reopen", -1);
    }
    set_current(obj);
    if (!directory.restore()) return traced_status("_sigtrove.Record.reopen", -1);
    return 0;
}

int is_current_op(PyObject *obj) { return is_current(obj) ? 1 : 0; }

PyObject *record_new_impl(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"record", nullptr};
    PyObject *arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Record", const_cast<char **>(keywords), &arg))
        return nullptr;
    PyRef path = PyRef::steal(path_argument(arg));
    if (!path) return nullptr;

    PyRef obj = PyRef::steal(type->tp_alloc(type, 0));
    if (!obj) return nullptr;
    RecordObject *self = as_record(obj.get());
    self->ops = &record_ops;
    replace_field(self->record_path, std::move(path));

    RecordPath parts;
    if (!split_record_path(self->record_path, parts)) return nullptr;
    replace_field(self->basedir, std::move(parts.basedir));
    replace_field(self->record, std::move(parts.record));
    std::string name;
    if (!engine_name(self->record, name)) return nullptr;

    DirectorySwitch directory;
    if (!directory.enter(self->basedir)) return nullptr;
    // Reading the header closes the signals the engine held.
    set_current(nullptr);
    self->nsig = isigopen(name.data(), nullptr, 0);
    double frequency = sampfreq(name.data());
    self->frequency = frequency < 0 ? 0.0 : frequency;
    if (!directory.restore()) return nullptr;
    if (self->nsig <= 0) return raise_engine_error();

    self->siginfo = PyMem_New(WFDB_Siginfo, static_cast<size_t>(self->nsig));
    if (self->siginfo == nullptr) return PyErr_NoMemory();
    std::memset(self->siginfo, 0, sizeof(WFDB_Siginfo) * static_cast<size_t>(self->nsig));
    if (reopen(obj.get()) < 0) return nullptr;

    PyRef names = PyRef::steal(PyTuple_New(self->nsig));
    if (!names) return nullptr;
    for (int i = 0; i < self->nsig; ++i) {
        PyObject *desc = engine_text(self->siginfo[i].desc);
        if (desc == nullptr) return nullptr;
        PyTuple_SET_ITEM(names.get(), i, desc);
    }
    replace_field(self->signal_names, std::move(names));
    return obj.release();
}

PyObject *record_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    return traced("_sigtrove.Record.__new__", record_new_impl(type, args, kwargs));
}

int record_traverse(PyObject *obj, visitproc visit, void *arg) {
    RecordObject *self = as_record(obj);
    Py_VISIT(self->record_path);
    Py_VISIT(self->record);
    Py_VISIT(self->basedir);
    Py_VISIT(self->signal_names);
    return 0;
}

int record_clear(PyObject *obj) {
    RecordObject *self = as_record(obj);
    replace_field(self->record_path, PyRef::borrow(Py_None));
    replace_field(self->record, PyRef::borrow(Py_None));
    replace_field(self->basedir, PyRef::borrow(Py_None));
    replace_field(self->signal_names, PyRef::borrow(Py_None));
    return 0;
}

void record_dealloc(PyObject *obj) {
    RecordObject *self = as_record(obj);
    PyObject_GC_UnTrack(obj);
    if (is_current(obj)) set_current(nullptr);
    if (self->siginfo != nullptr) {
        release_siginfo_strings(self);
        PyMem_Free(self->siginfo);
        self->siginfo = nullptr;
    }
    Py_CLEAR(self->record_path);
    Py_CLEAR(self->record);
    Py_CLEAR(self->basedir);
    Py_CLEAR(self->signal_names);
    Py_TYPE(obj)->tp_free(obj);
}

PyObject *record_alloc(PyTypeObject *type, Py_ssize_t nitems) {
    PyObject *obj = PyType_GenericAlloc(type, nitems);
    if (obj == nullptr) return nullptr;
    RecordObject *self = as_record(obj);
    self->ops = &record_ops;
    self->record_path = PyRef::borrow(Py_None).release();
    self->record = PyRef::borrow(Py_None).release();
    self->basedir = PyRef::borrow(Py_None).release();
    self->signal_names = PyRef::borrow(Py_None).release();
    return obj;
}

PyObject *record_close(PyObject *self, PyObject *) {
    if (is_current(self)) set_current(nullptr);
    Py_RETURN_NONE;
}

PyObject *record_repr(PyObject *self) {
    return traced("_sigtrove.Record.__repr__",
                  PyUnicode_FromFormat("sigtrove.Record(%S)", as_record(self)->record_path));
}

PyObject *record_get_name(PyObject *self, void *) { return PyRef::borrow(as_record(self)->record).release(); }

PyMemberDef record_members[] = {
    {"record", T_OBJECT, offsetof(RecordObject, record), READONLY, nullptr},
    {"basedir", T_OBJECT, offsetof(RecordObject, basedir), READONLY, nullptr},
    {"nsig", T_INT, offsetof(RecordObject, nsig), READONLY, nullptr},
    {"frequency", T_DOUBLE, offsetof(RecordObject, frequency), READONLY, nullptr},
    {"signal_names", T_OBJECT, offsetof(RecordObject, signal_names), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef record_getset[] = {
    {"name", record_get_name, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef record_methods[] = {
    {"annotation", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_annotation)),
     METH_VARARGS | METH_KEYWORDS, nullptr},
    {"close", record_close, METH_NOARGS, "\n        Close record files.\n        "},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

const Sigtrove_RecordOps record_ops = {reopen, is_current_op, nullptr};

PyTypeObject RecordType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.Record";
    t.tp_basicsize = sizeof(RecordObject);
    t.tp_dealloc = record_dealloc;
    t.tp_repr = record_repr;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc =
        "Access MIT-BIH database records.\n\n    Record(string record)\n\n        record - path to "
        "record (without extension. i.e. c:/physiobank/100)\n\n    fields:\n\n        record       - "
        "record name\n        nsig         - number of signals in record\n        frequency    - "
        "sampling frequency\n        signal_names - signals names\n        name         - alias for "
        "record\n    ";
    t.tp_traverse = record_traverse;
    t.tp_clear = record_clear;
    t.tp_methods = record_methods;
    t.tp_members = record_members;
    t.tp_getset = record_getset;
    t.tp_alloc = record_alloc;
    t.tp_new = record_new;
    return t;
}();

PyObject *record_path_of(PyObject *record) { return as_record(record)->record_path; }

// ---- the record path rule

PyObject *path_argument(PyObject *arg) {
    PyRef path = PyRef::steal(PyOS_FSPath(arg));
    if (!path) return nullptr;
    if (!PyUnicode_Check(path.get())) {
        PyErr_Format(PyExc_TypeError, "record path must be str, not %.200s", Py_TYPE(path.get())->tp_name);
        return nullptr;
    }
    Py_ssize_t length = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(path.get(), &length);
    if (utf8 == nullptr) return nullptr;
    if (std::strlen(utf8) != static_cast<size_t>(length)) {
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return nullptr;
    }
    return path.release();
}

bool split_record_path(PyObject *path, RecordPath &out) {
    out.basedir = PyRef::steal(call_module_function("dirname", path));
    if (!out.basedir) return false;
    PyRef base = PyRef::steal(call_module_function("basename", path));
    if (!base) return false;
    PyRef parts = PyRef::steal(call_module_function("splitext", base.get()));
    if (!parts) return false;
    out.record = PyRef::steal(PySequence_GetItem(parts.get(), 0));
    if (!out.record) return false;
    PyRef plus = PyRef::steal(PyObject_CallMethod(out.record.get(), "startswith", "s", "+"));
    if (!plus) return false;
    int starts = PyObject_IsTrue(plus.get());
    if (starts < 0) return false;
    if (starts) {
        PyErr_SetString(PyExc_ValueError, "Record name can not start with '+'");
        return false;
    }
    return true;
}

bool engine_name(PyObject *record, std::string &out) {
    PyRef encoded = PyRef::steal(PyUnicode_EncodeFSDefault(record));
    if (!encoded) return false;
    out.assign(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
    return true;
}

bool DirectorySwitch::enter(PyObject *basedir) {
    PyRef cwd = PyRef::steal(call_module_function("getcwdu", nullptr));
    if (!cwd) return false;
    int nonempty = PyObject_IsTrue(basedir);
    if (nonempty < 0) return false;
    if (!nonempty) return true;
    PyRef done = PyRef::steal(call_module_function("chdir", basedir));
    if (!done) return false;
    saved_ = std::move(cwd);
    return true;
}

bool DirectorySwitch::restore() {
    if (!saved_) return true;
    PyRef cwd = std::move(saved_);
    PyRef done = PyRef::steal(call_module_function("chdir", cwd.get()));
    return static_cast<bool>(done);
}

DirectorySwitch::~DirectorySwitch() {
    if (!saved_) return;
    // Leaving early with an exception set: change back, keep that exception.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (!restore()) PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type, value, traceback);
}

}  // namespace sigtrove
