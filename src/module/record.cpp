// Record: an opened WFDB record, the current-record slot's main user, and the
// record path rule.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

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
    // The engine writes at most nsig entries (none before siginfo exists).
    if (n > 0) self->nopen = std::min(n, self->nsig);
    if (n < self->nsig) {
        // Fewer signals than the header lists (or none): refuse rather than
        // leave unwritten entries to be read.
        release_siginfo_strings(self);
        if (!directory.restore()) return traced_status("_sigtrove.Record.reopen", -1);
        if (n > 0) {
            PyErr_Format(globals.init_error,
                         "isigopen: only %d of the %d signals of record %s are readable\n", n,
                         self->nsig, name.c_str());
        } else {
            raise_engine_error();
        }
        return traced_status("_sigtrove.Record.reopen", -1);
    }
    set_current(obj);
    if (!directory.restore()) return traced_status("_sigtrove.Record.reopen", -1);
    return 0;
}

int is_current_op(PyObject *obj) { return is_current(obj) ? 1 : 0; }

// A fresh Record of `type` with every object field holding None. Fields are set
// here rather than in tp_alloc, which Python subclasses do not inherit.
PyRef allocate_record(PyTypeObject *type) {
    PyRef obj = PyRef::steal(type->tp_alloc(type, 0));
    if (!obj) return obj;
    RecordObject *self = as_record(obj.get());
    self->ops = &record_ops;
    for (PyObject **field : {&self->record_path, &self->record, &self->basedir, &self->signal_names})
        *field = PyRef::borrow(Py_None).release();
    return obj;
}

// Construction after the argument parsing: `path` is the record path as a str.
PyObject *make_record(PyTypeObject *type, PyRef path) {
    PyRef obj = allocate_record(type);
    if (!obj) return nullptr;
    RecordObject *self = as_record(obj.get());
    replace_field(self->record_path, std::move(path));

    RecordPath parts;
    DirectorySwitch directory;
    if (!split_record_path(self->record_path, parts, directory)) return nullptr;
    replace_field(self->basedir, std::move(parts.basedir));
    replace_field(self->record, std::move(parts.record));
    std::string name;
    if (!engine_name(self->record, name)) return nullptr;

    if (!directory.enter(self->basedir)) return nullptr;
    // Reading the header closes the signals the engine held.
    set_current(nullptr);
    const int nsig = isigopen(name.data(), nullptr, 0);
    double frequency = sampfreq(name.data());
    self->frequency = frequency < 0 ? 0.0 : frequency;
    if (!directory.restore()) return nullptr;
    if (nsig <= 0) return raise_engine_error();

    self->siginfo = PyMem_New(WFDB_Siginfo, static_cast<size_t>(nsig));
    if (self->siginfo == nullptr) return PyErr_NoMemory();
    std::memset(self->siginfo, 0, sizeof(WFDB_Siginfo) * static_cast<size_t>(nsig));
    // Set only now that siginfo has room for every signal: Python code run by the
    // directory switch above may reach the half-built object and read from it.
    self->nsig = nsig;
    // That same code may have made the object current before siginfo existed:
    // the open must run and fill it.
    if (is_current(obj.get())) set_current(nullptr);
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
    static const char *keywords[] = {"record", nullptr};
    PyObject *arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Record", const_cast<char **>(keywords), &arg))
        return nullptr;
    // The path's conversion stands in for the argument parser: its errors name no operation.
    PyRef path = PyRef::steal(path_argument(arg));
    if (!path) return nullptr;
    return traced("_sigtrove.Record.__new__", make_record(type, std::move(path)));
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

// ---- signal selection and sample reading

// A signal number (type exactly int) or a signal name (type exactly str) as a number.
int signal_number_impl(PyObject *obj, PyObject *signal_id) {
    RecordObject *self = as_record(obj);
    if (PyLong_CheckExact(signal_id)) {
        int overflow = 0;
        long number = PyLong_AsLongAndOverflow(signal_id, &overflow);
        if (number == -1 && PyErr_Occurred()) return -1;
        if (overflow != 0 || number < 0 || number >= self->nsig) {
            PyErr_SetString(PyExc_ValueError, "invalid signal number");
            return -1;
        }
        return static_cast<int>(number);
    }
    if (PyUnicode_CheckExact(signal_id) && PyTuple_Check(self->signal_names)) {
        int found = PySequence_Contains(self->signal_names, signal_id);
        if (found < 0) return -1;
        if (found) {
            Py_ssize_t count = PyTuple_GET_SIZE(self->signal_names);
            for (Py_ssize_t i = 0; i < count; ++i) {
                int equal = PyObject_RichCompareBool(signal_id, PyTuple_GET_ITEM(self->signal_names, i), Py_EQ);
                if (equal < 0) return -1;
                if (equal) return static_cast<int>(i);
            }
        }
    }
    PyErr_SetString(PyExc_ValueError, "Wrong signal number or name");
    return -1;
}

int signal_number(PyObject *obj, PyObject *signal_id) {
    return traced_status("_sigtrove.Record.signal_number", signal_number_impl(obj, signal_id));
}

// Frees a sample vector on every path out of a read.
struct SampleVector {
    explicit SampleVector(int n) : data(PyMem_New(WFDB_Sample, static_cast<size_t>(n))) {}
    ~SampleVector() { PyMem_Free(data); }
    SampleVector(const SampleVector &) = delete;
    SampleVector &operator=(const SampleVector &) = delete;
    WFDB_Sample *data;
};

// Reads `length` frames and stores element k = convert(sample - adczero). Stops early at
// the end of the data (the list is cut to the frames delivered) and raises on an engine error.
template <class Convert>
PyObject *read_frames(RecordObject *self, int signal, WFDB_Time length, Convert convert) {
    SampleVector vector(self->nsig);
    if (vector.data == nullptr) return PyErr_NoMemory();
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(length)));
    if (!list) return nullptr;
    const int adczero = self->siginfo[signal].adczero;
    Py_ssize_t delivered = 0;
    for (; delivered < static_cast<Py_ssize_t>(length); ++delivered) {
        int status = getvec(vector.data);
        // -4 is a checksum warning on a frame that was still delivered.
        if (status == -1) break;
        if (status < 0 && status != -4) return raise_engine_error();
        PyObject *item = convert(vector.data[signal] - adczero);
        if (item == nullptr) return nullptr;
        if (PyList_SetItem(list.get(), delivered, item) < 0) {
            PyErr_SetString(PyExc_RuntimeError, "Can not set list item <PyList_SetItem>");
            return nullptr;
        }
    }
    if (delivered < static_cast<Py_ssize_t>(length) &&
        PyList_SetSlice(list.get(), delivered, static_cast<Py_ssize_t>(length), nullptr) < 0)
        return nullptr;
    return list.release();
}

PyObject *record_read(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"signal_id", "start", "length", "correct_gain", nullptr};
    static_assert(sizeof(WFDB_Time) == sizeof(long), "WFDB_Time is parsed as a C long");
    PyObject *signal_id = nullptr;
    long start = 0, length = 0;
    PyObject *correct_gain = globals.true_object;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|llO:read", const_cast<char **>(keywords), &signal_id,
                                     &start, &length, &correct_gain))
        return nullptr;
    RecordObject *self = as_record(obj);
    const char *operation = "_sigtrove.Record.read";
    int signal = signal_number(obj, signal_id);
    if (signal < 0) return traced(operation, nullptr);
    if (reopen(obj) < 0) return traced(operation, nullptr);
    if (signal >= self->nsig) {
        PyErr_SetString(PyExc_ValueError, "invalid signal number");
        return traced(operation, nullptr);
    }
    const WFDB_Time n = self->siginfo[signal].nsamp;
    // A negative start names no sample: it is refused like one past the end.
    if (start >= n || start < 0) {
        PyErr_Format(PyExc_ValueError, "start index out of range (%ld)", static_cast<long>(n));
        return traced(operation, nullptr);
    }
    if (length < 0) {
        PyErr_SetString(PyExc_ValueError, "invalid length");
        return traced(operation, nullptr);
    }
    if (length == 0) length = n;
    if (length > n - start) length = n - start;  // never computes start + length
    if (isigsettime(start) < 0) return traced(operation, raise_engine_error());
    int as_float = PyObject_IsTrue(correct_gain);
    if (as_float < 0) return traced(operation, nullptr);
    PyObject *result;
    if (as_float) {
        const double gain = self->siginfo[signal].gain == 0.0 ? WFDB_DEFGAIN : self->siginfo[signal].gain;
        result = read_frames(self, signal, length,
                             [gain](int d) { return PyFloat_FromDouble(static_cast<double>(d) / gain); });
    } else {
        result = read_frames(self, signal, length, [](int d) { return PyLong_FromLong(d); });
    }
    return traced(operation, result);
}

// ---- signal information and the record description

// Sets dict[key] = value, taking over the new reference `value`.
bool set_item(PyObject *dict, const char *key, PyObject *value) {
    PyRef owned = PyRef::steal(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject *units_text(const WFDB_Siginfo &info) {
    return info.units ? engine_text(info.units) : PyUnicode_FromString("mV");
}

PyObject *signal_info_impl(PyObject *obj, PyObject *signal_id) {
    RecordObject *self = as_record(obj);
    int signal = signal_number(obj, signal_id);
    if (signal < 0 || reopen(obj) < 0) return nullptr;
    const WFDB_Siginfo &info = self->siginfo[signal];
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject *d = dict.get();
    bool ok = set_item(d, "record", PyRef::borrow(self->record).release()) &&
              set_item(d, "file", engine_text(info.fname)) &&
              set_item(d, "frequency", PyFloat_FromDouble(self->frequency)) &&
              set_item(d, "description", engine_text(info.desc)) &&
              set_item(d, "adc_zero", PyLong_FromLong(info.adczero)) &&
              set_item(d, "adc_resolution", PyLong_FromLong(info.adcres)) &&
              set_item(d, "initial_value", PyLong_FromLong(info.initval)) &&
              set_item(d, "storage_format", PyLong_FromLong(info.fmt)) &&
              set_item(d, "gain", PyFloat_FromDouble(info.gain == 0.0 ? WFDB_DEFGAIN : info.gain)) &&
              set_item(d, "units", units_text(info)) &&
              set_item(d, "starting_time", engine_text(timstr(0)));
    if (ok && info.nsamp > 0) {
        ok = set_item(d, "length", engine_text(timstr(info.nsamp))) &&
             set_item(d, "samples", PyLong_FromLong(info.nsamp)) &&
             set_item(d, "checksum", PyLong_FromLong(info.cksum));
    }
    return ok ? dict.release() : nullptr;
}

PyObject *record_signal_info(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"signal_id", nullptr};
    PyObject *signal_id = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:signal_info", const_cast<char **>(keywords), &signal_id))
        return nullptr;
    return traced("_sigtrove.Record.signal_info", signal_info_impl(obj, signal_id));
}

// Collects the pieces of a text and joins them once at the end.
class Pieces {
public:
    Pieces() : list_(PyRef::steal(PyList_New(0))) {}
    // Appends format % (args...), formatted by Python's % operator.
    template <class... Args>
    bool add(const char *format, Args... args) {
        if (!list_) return false;
        PyRef values = PyRef::steal(Py_BuildValue(tuple_format<Args...>(), args...));
        PyRef text = PyRef::steal(PyUnicode_FromString(format));
        if (!values || !text) return false;
        PyRef piece = PyRef::steal(PyUnicode_Format(text.get(), values.get()));
        return piece && PyList_Append(list_.get(), piece.get()) == 0;
    }
    PyObject *join() {
        if (!list_) return nullptr;
        PyRef empty = PyRef::steal(PyUnicode_FromString(""));
        return empty ? PyUnicode_Join(empty.get(), list_.get()) : nullptr;
    }

private:
    template <class T>
    static constexpr char code() {
        if constexpr (std::is_same_v<T, PyObject *>) return 'N';  // takes over a new reference
        else if constexpr (std::is_same_v<T, double>) return 'd';
        else if constexpr (std::is_same_v<T, long>) return 'l';
        else return 'i';
    }
    template <class... Args>
    static const char *tuple_format() {
        static const char format[] = {'(', code<Args>()..., ')', '\0'};
        return format;
    }
    PyRef list_;
};

PyObject *record_str_impl(PyObject *obj) {
    RecordObject *self = as_record(obj);
    if (reopen(obj) < 0) return nullptr;
    Pieces p;
    bool ok = p.add("Record %s\n", PyRef::borrow(self->record).release()) &&
              p.add("Starting time:  %s\n", engine_text(timstr(0))) &&
              p.add("Sampling frequency: %g Hz\n", self->frequency) && p.add("%d signals\n", self->nsig);
    const int nsig = self->nsig;
    for (int i = 0; ok && i < nsig; ++i) {
        const WFDB_Siginfo &info = self->siginfo[i];
        ok = p.add("Signal %d:\n", i) && p.add(" File: %s\n", engine_text(info.fname)) &&
             p.add(" Description: %s\n", engine_text(info.desc)) && p.add(" Gain: ") &&
             (info.gain == 0.0 ? p.add("uncalibrated assume %g", static_cast<int>(WFDB_DEFGAIN))
                               : p.add("%g", info.gain)) &&
             p.add(" adu/%s\n", units_text(info)) && p.add(" Initial value: %d\n", info.initval) &&
             p.add(" Storage format: %d\n", info.fmt) && p.add(" I/O: ") &&
             (info.bsize == 0 ? p.add("can be unbuffered\n") : p.add("%d-byte blocks\n", info.bsize)) &&
             p.add(" ADC resolution: %d bits\n", info.adcres) && p.add(" ADC zero: %d\n", info.adczero);
        if (ok && info.nsamp > 0) {
            ok = p.add(" Length: %s (%ld sample intervals)\n", engine_text(timstr(info.nsamp)), info.nsamp) &&
                 p.add(" Checksum: %d\n", info.cksum);
        } else if (ok) {
            ok = p.add(" Length undefined\n");
        }
    }
    return ok ? p.join() : nullptr;
}

PyObject *record_str(PyObject *obj) { return traced("_sigtrove.Record.__str__", record_str_impl(obj)); }

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
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_read)),
     METH_VARARGS | METH_KEYWORDS,
     "\n        read(signal_id, start=0, length=0, correct_gain=True) -> list\n        \n            signal_id    - "
     "signal number or signal name in record\n            start        - index in sample intervals from the "
     "beginning of the record \n            length       - sample count, if 0 - read all annotations\n           "
     " correct_gain - return values in real physical units instead of sampled data file values\n        "},
    {"annotation", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_annotation)),
     METH_VARARGS | METH_KEYWORDS,
     "\n        annotation(name='atr', stat=STAT_READ) -> Annotation\n            name - annotation name (file "
     "extension)\n\n        Returns Annotation object for record.\n        "},
    {"signal_info", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_signal_info)),
     METH_VARARGS | METH_KEYWORDS,
     "\n        signal_info(signal_id) -> dict\n            signal_id   - signal number or signal name in "
     "record\n\n        Returns dictionary with information about specified signal.\n        "},
    {"close", record_close, METH_NOARGS, "\n        Close record files.\n        "},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

const Sigtrove_RecordOps record_ops = {reopen, is_current_op, signal_number};

PyTypeObject RecordType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.Record";
    t.tp_basicsize = sizeof(RecordObject);
    t.tp_dealloc = record_dealloc;
    t.tp_repr = record_repr;
    t.tp_str = record_str;
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
    // Searched as characters, not as UTF-8: a path holding undecodable file-name
    // bytes (surrogate escapes) is valid in the filesystem encoding.
    Py_ssize_t nul = PyUnicode_FindChar(path.get(), 0, 0, PyUnicode_GET_LENGTH(path.get()), 1);
    if (nul == -2) return nullptr;
    if (nul >= 0) {
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return nullptr;
    }
    // A plain str: a subclass's own __str__ must not change what repr shows.
    return PyUnicode_FromObject(path.get());
}

// True (1) for a record path that is a URL: the engine reads such a record on its
// server, so no directory of it is entered. -1 with an exception set on failure.
static int is_url_path(PyObject *path) {
    for (const char *scheme : {"http://", "https://"}) {
        PyRef prefix = PyRef::steal(PyUnicode_FromString(scheme));
        if (!prefix) return -1;
        Py_ssize_t match = PyUnicode_Tailmatch(path, prefix.get(), 0, PY_SSIZE_T_MAX, -1);
        if (match != 0) return static_cast<int>(match);
    }
    return 0;
}

bool split_record_path(PyObject *path, RecordPath &out, DirectorySwitch &directory) {
    int url = is_url_path(path);
    if (url < 0) return false;
    if (url) {
        // The directory steps do not apply: no basedir, and the record is the URL
        // without the extension of its last part ("https://host/db/100.hea" is ".../100").
        out.basedir = PyRef::steal(PyUnicode_FromString(""));
        PyRef parts = PyRef::steal(call_module_function("splitext", path));
        if (!out.basedir || !parts) return false;
        out.record = PyRef::steal(PySequence_GetItem(parts.get(), 0));
        return static_cast<bool>(out.record);
    }
    out.basedir = PyRef::steal(call_module_function("dirname", path));
    if (!out.basedir) return false;
    if (!directory.remember()) return false;
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

bool DirectorySwitch::remember() {
    saved_ = PyRef::steal(call_module_function("getcwdu", nullptr));
    return static_cast<bool>(saved_);
}

bool DirectorySwitch::enter(PyObject *basedir) {
    if (!saved_ && !remember()) return false;
    int nonempty = PyObject_IsTrue(basedir);
    if (nonempty < 0) return false;
    if (!nonempty) return true;
    PyRef done = PyRef::steal(call_module_function("chdir", basedir));
    if (!done) return false;
    switched_ = true;
    return true;
}

bool DirectorySwitch::restore() {
    if (!switched_) return true;
    switched_ = false;
    PyRef done = PyRef::steal(call_module_function("chdir", saved_.get()));
    return static_cast<bool>(done);
}

DirectorySwitch::~DirectorySwitch() {
    if (!switched_) return;
    // Leaving early with an exception set: change back, keep that exception.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (!restore()) PyErr_WriteUnraisable(nullptr);
    PyErr_Restore(type, value, traceback);
}

}  // namespace sigtrove
