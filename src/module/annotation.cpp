// Annotation: an opened annotation file of a record, read into AnnotationEntry lists.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "annotation_entry.h"
#include "annotation_object.h"
#include "engine_object.h"
#include "errors/error_state.h"
#include "signals/getvec_modes.h"
#include "sigtrove.h"

#include <structmember.h>
#include "wfdb/wfdb.h"

namespace sigtrove {

namespace {

// Refuses a `stat` that equals neither STAT_READ nor STAT_READ_AHA as the module
// names them at the moment of the call.
bool accept_stat(PyObject *stat) {
    bool accepted = false;
    for (const char *constant : {"STAT_READ", "STAT_READ_AHA"}) {
        // Held while comparing: an __eq__ may rebind the module attribute.
        PyRef value = PyRef::borrow(PyDict_GetItemString(module_dict(), constant));
        if (!value) continue;
        int equal = PyObject_RichCompareBool(stat, value.get(), Py_EQ);
        if (equal < 0) return false;
        if (equal) {
            accepted = true;
            break;
        }
    }
    if (!accepted) PyErr_SetString(PyExc_ValueError, "Invalid stat");
    return accepted;
}

// The engine's read mode: the integer value of an accepted `stat`.
bool read_mode(PyObject *stat, int &mode) {
    PyRef number = PyRef::steal(PyNumber_Long(stat));
    if (!number) return false;
    long value = PyLong_AsLong(number.get());
    if (value == -1 && PyErr_Occurred()) return false;
    if (value < INT_MIN || value > INT_MAX) {
        PyErr_SetString(PyExc_OverflowError, "stat does not fit in a C int");
        return false;
    }
    mode = static_cast<int>(value);
    return true;
}

// Keeps the annotator name and the engine's copy of it.
bool set_annotator_name(AnnotationObject *self, PyObject *name) {
    if (!PyUnicode_Check(name)) {
        PyErr_Format(PyExc_TypeError, "annotator name must be str, not %.200s", Py_TYPE(name)->tp_name);
        return false;
    }
    PyRef encoded = PyRef::steal(PyUnicode_EncodeFSDefault(name));
    if (!encoded) return false;
    const char *bytes = PyBytes_AS_STRING(encoded.get());
    size_t length = static_cast<size_t>(PyBytes_GET_SIZE(encoded.get()));
    if (std::strlen(bytes) != length) {
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return false;
    }
    char *copy = static_cast<char *>(PyMem_Malloc(length + 1));
    if (copy == nullptr) {
        PyErr_NoMemory();
        return false;
    }
    std::memcpy(copy, bytes, length + 1);
    PyMem_Free(self->engine_annotator);
    self->engine_annotator = copy;
    self->anninfo.name = copy;
    replace_field(self->name, PyRef::borrow(name));
    return true;
}

// Opens the object's annotation file afresh and makes the object current; the
// file's code definitions hold for the whole process from then on, as annopen
// made them.
bool open_annotation_file(PyObject *obj) {
    AnnotationObject *self = as_annotation(obj);
    AnnotationEngine *engine = self->engine;
    // An open closes the annotation file the original operations held, even when
    // it fails, so no Annotation may stay current past this point unless this open succeeds.
    set_current(nullptr);
    hold_annotation_file(obj);
    const bool high_resolution = (engine::getvec_mode_from_environment() & WFDB_HIGHRES) != 0;
    bool opened = false;
    std::vector<engine::AnnotationReader::CodeDefinition> definitions;
    {
        engine::ErrorCapture texts;
        try {
            opened = engine->with_reader([&] {
                if (!engine->open_reader(high_resolution)) return false;
                if (engine->reader() != nullptr) definitions = engine->reader()->definitions();
                return true;
            });
        } catch (const std::bad_alloc &) {
            engine::record_error("annopen: can't allocate memory\n");
        }
        // The texts go where the C interface records them: the last one is the failure's, and verbose mode prints them.
        texts.forward();
    }
    if (!opened) {
        raise_engine_error();
        return false;
    }
    try {
        for (const auto &d : definitions) annotation_codes().define(d.code, d.mnemonic, d.description);
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
        return false;
    }
    set_current(obj);
    return true;
}

PyRef allocate_annotation(PyTypeObject *type) {
    PyRef obj = PyRef::steal(type->tp_alloc(type, 0));
    if (!obj) return obj;
    AnnotationObject *self = as_annotation(obj.get());
    self->location.init();
    self->name = PyRef::borrow(Py_None).release();
    return obj;
}

// Construction after the argument parsing: `path` is the record path as a str.
PyObject *make_annotation(PyTypeObject *type, PyRef path, PyObject *name, PyObject *stat) {
    if (!accept_stat(stat)) return nullptr;
    PyRef obj = allocate_annotation(type);
    if (!obj) return nullptr;
    AnnotationObject *self = as_annotation(obj.get());
    self->location.keep(std::move(path));
    if (!set_annotator_name(self, name)) return nullptr;
    if (!read_mode(stat, self->anninfo.stat)) return nullptr;
    std::string record;
    engine::SearchLocation where;
    if (!self->location.locate(record, where)) return nullptr;
    try {
        self->engine = new AnnotationEngine(record, self->engine_annotator, self->anninfo.stat, std::move(where));
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
    if (!open_annotation_file(obj.get())) return nullptr;
    return obj.release();
}

PyObject *annotation_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"record", "name", "stat", nullptr};
    PyObject *path_arg = nullptr;
    PyObject *name = globals.default_annotator;
    PyObject *stat = globals.default_stat;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:Annotation", const_cast<char **>(keywords), &path_arg, &name,
                                     &stat))
        return nullptr;
    // The path's conversion stands in for the argument parser: its errors name no operation.
    PyRef path = PyRef::steal(path_argument(path_arg));
    if (!path) return nullptr;
    EngineAccess access;
    return traced("_sigtrove.Annotation.__new__", make_annotation(type, std::move(path), name, stat));
}

// ---- reading

// An anntype filter. `code` 0 means no filter; a code no 8-bit annotation
// type can have simply matches nothing.
struct TypeFilter {
    long code = 0;
    bool admits(const WFDB_Annotation &annotation) const {
        return code == 0 || static_cast<long>(static_cast<signed char>(annotation.anntyp)) == code;
    }
};

bool type_filter(PyObject *anntype, TypeFilter &filter) {
    if (anntype == nullptr) return true;
    if (PyLong_CheckExact(anntype)) {
        int overflow = 0;
        filter.code = PyLong_AsLongAndOverflow(anntype, &overflow);
        if (filter.code == -1 && PyErr_Occurred()) return false;
        if (overflow != 0) filter.code = LONG_MAX;
        return true;
    }
    if (PyUnicode_CheckExact(anntype)) {
        int code = 0;
        if (!code_of_mnemonic(anntype, code)) return false;
        // strann gives 0, no code, for a text the tables do not know, and a filter
        // by code 0 is no filter at all: only code 0's own mnemonic may mean that.
        if (code == 0 && PyUnicode_AsUTF8(anntype) != annotation_codes().mnemonic(0)) {
            PyErr_Format(PyExc_ValueError, "unknown annotation type mnemonic %R", anntype);
            return false;
        }
        filter.code = code;
        return true;
    }
    PyErr_SetString(PyExc_ValueError, "Incorrect annotation type");
    return false;
}

// The end of the window [start, start + length); none when length is 0. An end
// beyond the sample-time range saturates rather than wrapping around.
struct Window {
    bool bounded = false;
    WFDB_Time end = 0;
    Window(WFDB_Time start, WFDB_Time length) : bounded(length != 0) {
        if (bounded && __builtin_add_overflow(start, length, &end)) end = length > 0 ? LONG_MAX : LONG_MIN;
    }
    bool ends_before(const WFDB_Annotation &annotation) const { return bounded && annotation.time >= end; }
};

// Makes the object current, opening its file afresh (from its beginning) when
// another object became current since it last read.
bool make_annotation_current(PyObject *obj) {
    if (is_current(obj)) return true;
    if (as_annotation(obj)->engine == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the annotation file was not opened");
        return false;
    }
    return open_annotation_file(obj);
}

// The annotations of a read, taken from the engine with no Python code run in
// between, so that they all come from this object's file.
struct AnnotationRun {
    std::vector<TakenAnnotation> annotations;
    bool failed = false;  // the engine could not read the file
};

// Takes annotations from the reader until the window ends or the file does.
// May throw std::bad_alloc.
void take_annotations(engine::AnnotationReader &reader, const Window &window, const TypeFilter &filter,
                      AnnotationRun &run) {
    WFDB_Annotation annotation{};
    for (;;) {
        int status = reader.next(annotation);
        if (status != 0) {
            run.failed = status != -1;
            return;
        }
        if (window.ends_before(annotation)) return;
        if (!filter.admits(annotation)) continue;
        run.annotations.emplace_back(annotation);
    }
}

// The same from the annotation lists of an EDF file, as set_annotation_time and
// take_annotations do it for a reader: 0, -1 (the start can not be reached) or
// -2 (the lists could not be read), with the text recorded. May throw std::bad_alloc.
int take_edf_annotations(AnnotationEngine &engine, WFDB_Time start, const Window &window, const TypeFilter &filter,
                         int annotator, AnnotationRun &run) {
    const std::vector<engine::AnnotationRow> &rows = engine.edf_rows();
    std::size_t &at = engine.edf_cursor();
    if (start >= 0) {
        at = static_cast<std::size_t>(
            std::lower_bound(rows.begin(), rows.end(), start,
                             [](const engine::AnnotationRow &row, WFDB_Time t) { return row.time < t; }) -
            rows.begin());
        if (at == rows.size() && start != 0 && engine.edf_ending().ok()) {
            engine::record_error("iannsettime: no annotation at or after time %ld\n", start);
            return -1;
        }
    }
    if (annotator != 0) {
        engine::record_error("getann: can't read annotator %d\n", annotator);
        return 0;
    }
    for (; at < rows.size(); ++at) {
        const engine::AnnotationRow &row = rows[at];
        WFDB_Annotation fields{};
        fields.time = row.time;
        fields.anntyp = static_cast<char>(row.code);
        fields.subtyp = static_cast<signed char>(row.subtype);
        fields.chan = static_cast<unsigned char>(row.channel);
        fields.num = static_cast<signed char>(row.number);
        if (window.ends_before(fields)) return 0;
        if (!filter.admits(fields)) continue;
        TakenAnnotation &taken = run.annotations.emplace_back(fields);
        if (row.aux) {
            taken.has_aux = true;
            taken.aux = *row.aux;
        }
    }
    if (!engine.edf_ending().ok()) {
        engine::record_error_text(engine.edf_ending().text());
        return -2;
    }
    return 0;
}

PyObject *read_annotations(PyObject *obj, WFDB_Time start, WFDB_Time length, PyObject *anntype, int annotator) {
    TypeFilter filter;
    if (!type_filter(anntype, filter)) return nullptr;
    if (!make_annotation_current(obj)) return nullptr;
    AnnotationEngine *engine = as_annotation(obj)->engine;
    // 0: positioned; -1: the start can not be reached (ValueError); -2: the file could not be read (InitError).
    int outcome = 0;
    AnnotationRun run;
    {
        engine::ErrorCapture texts;
        try {
            outcome = engine->with_reader([&] {
                if (engine->reads_edf_lists())
                    return take_edf_annotations(*engine, start, Window(start, length), filter, annotator, run);
                engine::AnnotationReader *reader = engine->reader();
                if (reader == nullptr) return -2;
                if (start >= 0 && engine::set_annotation_time(*reader, start) < 0) return -1;
                // The object opened one file: any other annotator number names none, and reads nothing.
                if (annotator != 0) {
                    engine::record_error("getann: can't read annotator %d\n", annotator);
                    return 0;
                }
                take_annotations(*reader, Window(start, length), filter, run);
                return run.failed ? -2 : 0;
            });
        } catch (const std::bad_alloc &) {
            texts.forward();
            return PyErr_NoMemory();
        }
        texts.forward();
    }
    if (outcome == -1) {
        PyRef text = PyRef::steal(engine_text(wfdberror()));
        if (text) PyErr_SetObject(PyExc_ValueError, text.get());
        return nullptr;
    }
    if (outcome == -2) return raise_engine_error();
    PyRef entries = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(run.annotations.size())));
    if (!entries) return nullptr;
    for (size_t k = 0; k < run.annotations.size(); ++k) {
        PyObject *entry = entry_from_annotation(run.annotations[k]);
        if (entry == nullptr) return nullptr;
        PyList_SET_ITEM(entries.get(), static_cast<Py_ssize_t>(k), entry);
    }
    return entries.release();
}

PyObject *annotation_read(PyObject *self, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"start", "length", "anntype", "annotator", nullptr};
    long start = 0, length = 0;
    PyObject *anntype = nullptr;  // absent: no type filter
    int annotator = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|llOi:read", const_cast<char **>(keywords), &start, &length,
                                     &anntype, &annotator))
        return nullptr;
    EngineAccess access;
    return traced("_sigtrove.Annotation.read", read_annotations(self, start, length, anntype, annotator));
}

PyObject *annotation_repr(PyObject *obj) {
    AnnotationObject *self = as_annotation(obj);
    PyRef name = PyRef::steal(PyUnicode_DecodeFSDefault(self->engine_annotator ? self->engine_annotator : ""));
    if (!name) return traced("_sigtrove.Annotation.__repr__", nullptr);
    return traced("_sigtrove.Annotation.__repr__",
                  PyUnicode_FromFormat("sigtrove.Annotation(%S, name='%U', stat=%d)", self->location.record_path,
                                       name.get(), self->anninfo.stat));
}

PyMemberDef annotation_members[] = {
    {"record", T_OBJECT, offsetof(AnnotationObject, location.record), READONLY, nullptr},
    {"basedir", T_OBJECT, offsetof(AnnotationObject, location.basedir), READONLY, nullptr},
    {"name", T_OBJECT, offsetof(AnnotationObject, name), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef annotation_methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(annotation_read)),
     METH_VARARGS | METH_KEYWORDS,
     "read(start=0, length=0, anntype=0, annotator=0) -> list [AnnotationEntry]\n"
     "            start   - starting index\n"
     "            length  - samples count, if 0 - read all annotations\n"
     "            anntype - filter annotations by type (see EcgCodes)\n"
     "\n"
     "        Returns list of AnnotationEntry objects.\n"
     "        "},
    {"arrays", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(annotation_arrays)),
     METH_VARARGS | METH_KEYWORDS,
     "arrays(start=0, stop=None) -> dict\n\n"
     "The annotations at sample times [start, stop) as equal-length numpy columns: time (int64\n"
     "sample numbers), code, symbol (the file's mnemonic of the code), subtype, chan, num (as\n"
     "entries carry them), aux (str or None); the annotations of an EDF file (annotator \"edf\")\n"
     "also have onset and duration (float64 seconds as written, NaN where no duration is given)\n"
     "after time. start and stop are sample numbers or times as the\n"
     "WFDB tools take them. pandas.DataFrame(annotation.arrays()) is a table of them."},
    {"__enter__", EngineObjectLife<AnnotationObject>::enter, METH_NOARGS, "The annotation file itself, for `with`."},
    {"__exit__", EngineObjectLife<AnnotationObject>::exit, METH_VARARGS,
     "Closes the file (a later use opens it again); exceptions pass through."},
    {"__reduce__", annotation_reduce, METH_NOARGS,
     "An Annotation pickles as its record's path, its name and its mode, and opens again when unpickled."},
    {"time_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(annotation_time_text)),
     METH_VARARGS | METH_KEYWORDS,
     "time_text(sample, *, milliseconds=False) -> str\n\n"
     "The WFDB time text of a sample number, by the header of the annotated record; without a\n"
     "header, elapsed time at WFDB's default 250 Hz, as the WFDB tools count."},
    {nullptr, nullptr, 0, nullptr},
};

const char annotation_doc[] =
    "\n"
    "    Access annotation files.\n"
    "\n"
    "    Annotation(record, name='atr', stat=STAT_READ)\n"
    "\n"
    "        record  - path to record\n"
    "        name    - name of annotation file (extension)\n"
    "        stat    - annotation access mode\n"
    "                  STAT_READ - read annotation in MIT-BIH format\n"
    "                  STAT_READ_AHA - read annotation in AHA format\n"
    "\n"
    "    fields:\n"
    "        record  - record name\n"
    "        basedir - directory with record file\n"
    "        \n"
    "    ";

}  // namespace

// Record.annotation(name="atr", stat=STAT_READ): the Annotation built from the
// path the record was constructed with.
PyObject *record_annotation(PyObject *record, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"name", "stat", nullptr};
    PyObject *name = globals.default_annotator;
    PyObject *stat = globals.default_stat;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO:annotation", const_cast<char **>(keywords), &name, &stat))
        return nullptr;
    return traced("_sigtrove.Record.annotation",
                  PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&AnnotationType), record_path_of(record),
                                               name, stat, nullptr));
}

PyTypeObject AnnotationType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.Annotation";
    EngineObjectLife<AnnotationObject>::fill(t);
    t.tp_repr = annotation_repr;
    t.tp_doc = annotation_doc;
    t.tp_methods = annotation_methods;
    t.tp_members = annotation_members;
    t.tp_new = annotation_new;
    return t;
}();

}  // namespace sigtrove
