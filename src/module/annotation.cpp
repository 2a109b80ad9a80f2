// AnnotationEntry (one annotation event) and Annotation (an opened annotation file).
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "sigtrove.h"

#include <structmember.h>
#include "wfdb/ecgmap.h"
#include "wfdb/wfdb.h"

namespace sigtrove {

namespace {

// ======================================================================
// AnnotationEntry
// ======================================================================

struct AnnotationEntryObject {
    PyObject_HEAD
    const Sigtrove_AnnotationEntryOps *ops;
    unsigned char type;
    WFDB_Time time;
    signed char subtype;
    signed char channel;
    signed char annotator;
    PyObject *aux;  // None or a str; never null once the object exists
};

AnnotationEntryObject *as_entry(PyObject *o) { return reinterpret_cast<AnnotationEntryObject *>(o); }

// The UTF-8 text of a str, refusing embedded NULs the way the host's "s" format does.
const char *text_without_nul(PyObject *text) {
    Py_ssize_t length = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(text, &length);
    if (utf8 == nullptr) return nullptr;
    if (std::strlen(utf8) != static_cast<size_t>(length)) {
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return nullptr;
    }
    return utf8;
}

int refuse_deletion(const char *operation) {
    PyErr_SetString(PyExc_NotImplementedError, "__del__");
    return traced_status(operation, -1);
}

// A fresh entry of `type` with every object field holding None. Fields are set
// here rather than in tp_alloc, which Python subclasses do not inherit.
PyRef allocate_entry(PyTypeObject *type) {
    PyRef obj = PyRef::steal(type->tp_alloc(type, 0));
    if (!obj) return obj;
    AnnotationEntryObject *self = as_entry(obj.get());
    self->ops = &annotation_entry_ops;
    self->aux = PyRef::borrow(Py_None).release();
    return obj;
}

int refuse_numeric_deletion() {
    PyErr_SetString(PyExc_TypeError, "can't delete numeric/char attribute");
    return -1;
}

// ---- time: a property rather than a plain member, because the host's member
// conversion overwrites the field before it reports a failed conversion.

PyObject *entry_get_time(PyObject *self, void *) { return PyLong_FromLong(as_entry(self)->time); }

int entry_set_time(PyObject *self, PyObject *value, void *) {
    if (value == nullptr) return refuse_numeric_deletion();
    PyRef index = PyRef::steal(PyNumber_Index(value));
    if (!index) return -1;
    long time = PyLong_AsLong(index.get());
    if (time == -1 && PyErr_Occurred()) return -1;
    as_entry(self)->time = time;
    return 0;
}

// ---- the 8-bit fields: any integer is accepted and its low 8 bits kept, read back signed.

signed char &byte_field(PyObject *self, void *closure) {
    auto offset = static_cast<size_t>(reinterpret_cast<uintptr_t>(closure));
    return *reinterpret_cast<signed char *>(reinterpret_cast<char *>(self) + offset);
}

void *byte_field_closure(size_t offset) { return reinterpret_cast<void *>(static_cast<uintptr_t>(offset)); }

PyObject *get_byte_field(PyObject *self, void *closure) { return PyLong_FromLong(byte_field(self, closure)); }

int set_byte_field(PyObject *self, PyObject *value, void *closure) {
    if (value == nullptr) return refuse_numeric_deletion();
    PyRef index = PyRef::steal(PyNumber_Index(value));
    if (!index) return -1;
    unsigned long bits = PyLong_AsUnsignedLongMask(index.get());
    if (bits == static_cast<unsigned long>(-1) && PyErr_Occurred()) return -1;
    byte_field(self, closure) = static_cast<signed char>(static_cast<unsigned char>(bits & 0xFFu));
    return 0;
}

// ---- type and its derived views

PyObject *entry_get_type(PyObject *self, void *) {
    return traced("_sigtrove.AnnotationEntry.type.__get__", PyLong_FromLong(as_entry(self)->type));
}

// Caller-assigned codes must be real annotation codes: 0 means "no code" and
// ACMAX is the largest one the tables know.
int store_checked_type(PyObject *self, PyObject *value) {
    PyRef index = PyRef::steal(PyNumber_Index(value));
    if (!index) return -1;
    int overflow = 0;
    long code = PyLong_AsLongAndOverflow(index.get(), &overflow);
    if (code == -1 && PyErr_Occurred()) return -1;
    if (overflow != 0 || code <= 0 || code > ACMAX) {
        PyErr_SetString(PyExc_ValueError, "annotation type value out of range");
        return -1;
    }
    as_entry(self)->type = static_cast<unsigned char>(code);
    return 0;
}

int entry_set_type(PyObject *self, PyObject *value, void *) {
    if (value == nullptr) return refuse_deletion("_sigtrove.AnnotationEntry.type.__set__");
    return traced_status("_sigtrove.AnnotationEntry.type.__set__", store_checked_type(self, value));
}

PyObject *entry_get_isqrs(PyObject *self, void *) {
    int code = as_entry(self)->type;
    return PyBool_FromLong(isqrs(code) ? 1 : 0);
}

PyObject *entry_get_typestr(PyObject *self, void *) {
    EngineAccess access;  // the code tables are the engine's, changed by annotation file opens
    return traced("_sigtrove.AnnotationEntry.typestr.__get__", engine_text(annstr(as_entry(self)->type)));
}

// The engine's code for a mnemonic; 0 (no code) when it has no such mnemonic.
bool code_of_mnemonic(PyObject *text, int &code) {
    const char *utf8 = text_without_nul(text);
    if (utf8 == nullptr) return false;
    std::string mnemonic(utf8);
    code = strann(mnemonic.data());
    return true;
}

int store_mnemonic(PyObject *self, PyObject *value) {
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "typestr must be str, not %.200s", Py_TYPE(value)->tp_name);
        return -1;
    }
    int code = 0;
    if (!code_of_mnemonic(value, code)) return -1;
    // No range test: an unknown mnemonic deliberately leaves code 0.
    as_entry(self)->type = static_cast<unsigned char>(code);
    return 0;
}

int entry_set_typestr(PyObject *self, PyObject *value, void *) {
    if (value == nullptr) return refuse_deletion("_sigtrove.AnnotationEntry.typestr.__set__");
    EngineAccess access;
    return traced_status("_sigtrove.AnnotationEntry.typestr.__set__", store_mnemonic(self, value));
}

PyObject *entry_get_description(PyObject *self, void *) {
    EngineAccess access;
    // Codes without a description in the tables read as "", as code 0 does.
    const char *description = anndesc(as_entry(self)->type);
    return traced("_sigtrove.AnnotationEntry.description.__get__", engine_text(description ? description : ""));
}

// ---- text forms

// timstr(t) without its padding; copied at once because timstr reuses its buffer.
PyObject *time_text(WFDB_Time t) {
    PyRef padded = PyRef::steal(engine_text(timstr(t)));
    if (!padded) return nullptr;
    return PyObject_CallMethod(padded.get(), "strip", nullptr);
}

PyObject *entry_text(PyObject *obj) {
    AnnotationEntryObject *self = as_entry(obj);
    PyRef aux = PyRef::borrow(self->aux);
    int has_aux = PyObject_IsTrue(aux.get());
    if (has_aux < 0) return nullptr;
    // Mnemonic and description are looked up as attributes so subclasses can override them.
    PyRef mnemonic = PyRef::steal(PyObject_GetAttrString(obj, "typestr"));
    if (!mnemonic) return nullptr;
    PyRef code = PyRef::steal(PyLong_FromLong(self->type));
    if (!code) return nullptr;
    PyRef time = PyRef::steal(PyLong_FromLong(self->time));
    if (!time) return nullptr;
    PyRef description = PyRef::steal(PyObject_GetAttrString(obj, "description"));
    if (!description) return nullptr;
    PyRef clock = PyRef::steal(time_text(self->time));
    if (!clock) return nullptr;
    PyRef values = PyRef::steal(
        has_aux ? PyTuple_Pack(6, mnemonic.get(), code.get(), time.get(), description.get(), clock.get(),
                               aux.get())
                : PyTuple_Pack(5, mnemonic.get(), code.get(), time.get(), description.get(), clock.get()));
    if (!values) return nullptr;
    PyRef format = PyRef::steal(
        PyUnicode_FromString(has_aux ? "[%s (%d) %d] - %s at %s, %s." : "[%s (%d) %d] - %s at %s."));
    if (!format) return nullptr;
    return PyUnicode_Format(format.get(), values.get());
}

PyObject *entry_str(PyObject *self) {
    EngineAccess access;  // the time text follows the engine's open record
    return traced("_sigtrove.AnnotationEntry.__str__", entry_text(self));
}

// repr goes through __str__ so that a subclass overriding __str__ changes both.
PyObject *entry_repr(PyObject *self) {
    return traced("_sigtrove.AnnotationEntry.__repr__", PyObject_CallMethod(self, "__str__", nullptr));
}

// ---- construction

// The aux argument as the str to keep: text without NULs, a plain str.
PyObject *aux_argument(PyObject *aux) {
    if (text_without_nul(aux) == nullptr) return nullptr;
    return PyUnicode_CheckExact(aux) ? PyRef::borrow(aux).release() : PyUnicode_FromObject(aux);
}

PyObject *make_entry(PyTypeObject *type, WFDB_Time time, unsigned short code, short subtype, short channel,
                     short annotator, PyRef aux) {
    PyRef obj = allocate_entry(type);
    if (!obj) return nullptr;
    AnnotationEntryObject *self = as_entry(obj.get());
    self->time = time;
    // Through the attribute, so the range test applies and a subclass's `type` sees the value.
    PyRef code_object = PyRef::steal(PyLong_FromLong(code));
    if (!code_object || PyObject_SetAttrString(obj.get(), "type", code_object.get()) < 0) return nullptr;
    // The low 8 bits, read back as signed values.
    self->subtype = static_cast<signed char>(static_cast<unsigned char>(subtype & 0xFF));
    self->channel = static_cast<signed char>(static_cast<unsigned char>(channel & 0xFF));
    self->annotator = static_cast<signed char>(static_cast<unsigned char>(annotator & 0xFF));
    if (aux) replace_field(self->aux, std::move(aux));
    return obj.release();
}

PyObject *entry_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"time", "type", "subtype", "channel", "annotator", "aux", nullptr};
    long time = 0;
    unsigned short code = 0;
    short subtype = 0, channel = 0, annotator = 0;
    PyObject *aux_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "lH|hhhU:AnnotationEntry", const_cast<char **>(keywords),
                                     &time, &code, &subtype, &channel, &annotator, &aux_arg))
        return nullptr;
    PyRef aux;
    if (aux_arg != nullptr) {
        aux = PyRef::steal(aux_argument(aux_arg));
        if (!aux) return nullptr;
    }
    return traced("_sigtrove.AnnotationEntry.__new__",
                  make_entry(type, time, code, subtype, channel, annotator, std::move(aux)));
}

// An annotation as a read takes it from the engine: its fields, and the text of
// its aux record (the bytes after WFDB's leading count byte, up to the first NUL:
// rhythm labels, measurements, notes), copied because the engine reuses its aux
// buffer at the next getann. May throw std::bad_alloc.
struct TakenAnnotation {
    WFDB_Annotation fields{};  // with aux cleared
    bool has_aux = false;
    std::string aux;

    explicit TakenAnnotation(const WFDB_Annotation &annotation) : fields(annotation) {
        fields.aux = nullptr;
        if (annotation.aux == nullptr) return;
        has_aux = true;
        const char *text = reinterpret_cast<const char *>(annotation.aux + 1);
        const size_t count = annotation.aux[0];
        const void *nul = std::memchr(text, '\0', count);
        aux.assign(text, nul ? static_cast<size_t>(static_cast<const char *>(nul) - text) : count);
    }
};

// An entry for an annotation read from a file: the file's code is kept as it is
// (0, or a code above ACMAX), since the range test guards caller-assigned values
// only; aux is the aux text, decoded as every engine text is, or None without one.
PyObject *entry_from_annotation(const TakenAnnotation &annotation) {
    PyRef aux;
    if (annotation.has_aux) {
        aux = PyRef::steal(engine_text(annotation.aux.data(), annotation.aux.size()));
        if (!aux) return nullptr;
    }
    PyRef obj = allocate_entry(&AnnotationEntryType);
    if (!obj) return nullptr;
    AnnotationEntryObject *self = as_entry(obj.get());
    const WFDB_Annotation &fields = annotation.fields;
    self->time = fields.time;
    self->type = static_cast<unsigned char>(fields.anntyp);
    self->subtype = fields.subtyp;
    self->channel = static_cast<signed char>(fields.chan);
    self->annotator = fields.num;
    if (aux) replace_field(self->aux, std::move(aux));
    return obj.release();
}

// ---- lifetime

int entry_traverse(PyObject *obj, visitproc visit, void *arg) {
    Py_VISIT(as_entry(obj)->aux);
    return 0;
}

int entry_clear(PyObject *obj) {
    replace_field(as_entry(obj)->aux, PyRef::borrow(Py_None));
    return 0;
}

void entry_dealloc(PyObject *obj) {
    PyObject_GC_UnTrack(obj);
    Py_CLEAR(as_entry(obj)->aux);
    Py_TYPE(obj)->tp_free(obj);
}

// ---- internal operation for other extension modules

int get_struct(PyObject *entry, WFDB_Annotation *out) {
    if (!PyObject_TypeCheck(entry, &AnnotationEntryType)) {
        PyErr_SetString(PyExc_TypeError, "get_struct needs an AnnotationEntry");
        return traced_status("_sigtrove.AnnotationEntry.get_struct", -1);
    }
    AnnotationEntryObject *self = as_entry(entry);
    out->time = self->time;
    out->anntyp = static_cast<char>(self->type);
    out->subtyp = self->subtype;
    out->chan = static_cast<unsigned char>(self->channel);
    out->num = self->annotator;
    out->aux = nullptr;  // an entry without aux text has no aux record
    if (PyUnicode_Check(self->aux)) {
        const char *text = PyUnicode_AsUTF8(self->aux);
        if (text == nullptr) return traced_status("_sigtrove.AnnotationEntry.get_struct", -1);
        out->aux = reinterpret_cast<unsigned char *>(const_cast<char *>(text));
    }
    return 0;
}

// aux is read-only; it is a property so that it keeps its place after annotator
// among the attributes (the type's members would all come before its properties).
PyObject *entry_get_aux(PyObject *self, void *) {
    PyObject *aux = as_entry(self)->aux;
    return PyRef::borrow(aux ? aux : Py_None).release();
}

PyGetSetDef entry_getset[] = {
    {"time", entry_get_time, entry_set_time, nullptr, nullptr},
    {"subtype", get_byte_field, set_byte_field, nullptr,
     byte_field_closure(offsetof(AnnotationEntryObject, subtype))},
    {"channel", get_byte_field, set_byte_field, nullptr,
     byte_field_closure(offsetof(AnnotationEntryObject, channel))},
    {"annotator", get_byte_field, set_byte_field, nullptr,
     byte_field_closure(offsetof(AnnotationEntryObject, annotator))},
    {"aux", entry_get_aux, nullptr, nullptr, nullptr},
    {"type", entry_get_type, entry_set_type, "Annotation type", nullptr},
    {"isqrs", entry_get_isqrs, nullptr, "Check if type is QRS", nullptr},
    {"typestr", entry_get_typestr, entry_set_typestr, "Return string representing type", nullptr},
    {"description", entry_get_description, nullptr, "Return description for type", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char entry_doc[] =
    "\n"
    "    Represents annotation event\n"
    "\n"
    "    AnnotationEntry(int time, int type, int subtype=0, int channel=0, int annotator=0, string aux=\"\")\n"
    "        \n"
    "        time      - annotation time, in sample intervals from the beginning of the record \n"
    "        type      - annotation type (see EcgCodes)\n"
    "        subtype   - annotation subtype\n"
    "        channel   - channel number\n"
    "        annotator - annotator number\n"
    "        aux       - auxiliary information \n"
    "\n"
    "    fields:\n"
    "\n"
    "        time      - annotation time, in sample intervals from the beginning of the record \n"
    "        type      - annotation type\n"
    "        subtype   - annotation subtype\n"
    "        channel   - channel number\n"
    "        annotator - annotator number\n"
    "        aux       - auxiliary information \n"
    "        isqrs     - if annotation is of qrs type\n"
    "        typestr   - string representation of annotation type\n"
    "        description - description of annotation type\n"
    "\n"
    "    ";

// ======================================================================
// Annotation
// ======================================================================

struct AnnotationObject {
    PyObject_HEAD
    PyObject *record_path;
    PyObject *record;
    PyObject *basedir;
    WFDB_Anninfo anninfo;  // name points to engine_annotator
    PyObject *name;
    // The annotator name as the engine reads it, owned here so that it never
    // depends on an object the cycle collector may clear.
    char *engine_annotator;
};

AnnotationObject *as_annotation(PyObject *o) { return reinterpret_cast<AnnotationObject *>(o); }

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

// Opens the object's annotation file in the engine and makes the object current;
// `directory` may already remember the working directory to come back to.
bool open_annotation_file(PyObject *obj, DirectorySwitch &directory) {
    AnnotationObject *self = as_annotation(obj);
    std::string record;
    if (!engine_name(self->record, record)) return false;
    if (!directory.enter(self->basedir)) return false;
    // annopen closes every annotation file the engine held, even when it fails,
    // so no Annotation may stay current past this point unless this open succeeds.
    set_current(nullptr);
    int status = annopen(record.data(), &self->anninfo, 1);
    if (status < 0) {
        if (!directory.restore()) return false;
        raise_engine_error();
        return false;
    }
    set_current(obj);
    return directory.restore();
}

PyRef allocate_annotation(PyTypeObject *type) {
    PyRef obj = PyRef::steal(type->tp_alloc(type, 0));
    if (!obj) return obj;
    AnnotationObject *self = as_annotation(obj.get());
    for (PyObject **field : {&self->record_path, &self->record, &self->basedir, &self->name})
        *field = PyRef::borrow(Py_None).release();
    return obj;
}

// Construction after the argument parsing: `path` is the record path as a str.
PyObject *make_annotation(PyTypeObject *type, PyRef path, PyObject *name, PyObject *stat) {
    if (!accept_stat(stat)) return nullptr;
    PyRef obj = allocate_annotation(type);
    if (!obj) return nullptr;
    AnnotationObject *self = as_annotation(obj.get());
    replace_field(self->record_path, std::move(path));
    if (!set_annotator_name(self, name)) return nullptr;
    if (!read_mode(stat, self->anninfo.stat)) return nullptr;
    RecordPath parts;
    DirectorySwitch directory;
    if (!split_record_path(self->record_path, parts, directory)) return nullptr;
    replace_field(self->basedir, std::move(parts.basedir));
    replace_field(self->record, std::move(parts.record));
    if (!open_annotation_file(obj.get(), directory)) return nullptr;
    return obj.release();
}

PyObject *annotation_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"record", "name", "stat", nullptr};
    PyObject *path_arg = nullptr;
    PyObject *name = globals.default_annotator;
    PyObject *stat = globals.default_stat;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OO:Annotation", const_cast<char **>(keywords),
                                     &path_arg, &name, &stat))
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
        if (code == 0 && std::strcmp(PyUnicode_AsUTF8(anntype), annstr(0)) != 0) {
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

// Makes the object current and returns with it still current: the directory
// change that ends an open runs Python code, which may open another file.
bool make_annotation_current(PyObject *obj) {
    for (int attempt = 0; attempt < reopen_attempts; ++attempt) {
        if (is_current(obj)) return true;
        DirectorySwitch directory;
        if (!open_annotation_file(obj, directory)) return false;
    }
    if (is_current(obj)) return true;
    AnnotationObject *self = as_annotation(obj);
    PyErr_Format(globals.init_error,
                 "annopen: annotator %s of record %S was closed by another open %d times in a row\n",
                 self->engine_annotator ? self->engine_annotator : "", self->record, reopen_attempts);
    return false;
}

// The annotations of a read, taken from the engine with no Python code run in
// between, so that they all come from this object's file.
struct AnnotationRun {
    std::vector<TakenAnnotation> annotations;
    bool failed = false;  // the engine could not read the file
};

// Takes annotations from the engine until the window ends or the list does.
// `annotator` other than 0 names no file the object opened: getann fails at once,
// which ends the list rather than failing the read. May throw std::bad_alloc.
void take_annotations(int annotator, const Window &window, const TypeFilter &filter, AnnotationRun &run) {
    WFDB_Annotation annotation{};
    for (;;) {
        int status = getann(static_cast<WFDB_Annotator>(annotator), &annotation);
        if (status != 0) {
            run.failed = status != -1 && annotator == 0;
            return;
        }
        if (window.ends_before(annotation)) return;
        if (!filter.admits(annotation)) continue;
        run.annotations.emplace_back(annotation);
    }
}

PyObject *read_annotations(PyObject *obj, WFDB_Time start, WFDB_Time length, PyObject *anntype,
                           int annotator) {
    TypeFilter filter;
    if (!type_filter(anntype, filter)) return nullptr;
    if (!make_annotation_current(obj)) return nullptr;
    if (start >= 0 && iannsettime(start) < 0) {
        PyRef text = PyRef::steal(engine_text(wfdberror()));
        if (text) PyErr_SetObject(PyExc_ValueError, text.get());
        return nullptr;
    }
    AnnotationRun run;
    try {
        take_annotations(annotator, Window(start, length), filter, run);
    } catch (const std::bad_alloc &) {
        return PyErr_NoMemory();
    }
    if (run.failed) return raise_engine_error();
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
                  PyUnicode_FromFormat("sigtrove.Annotation(%S, name='%U', stat=%d)", self->record_path,
                                       name.get(), self->anninfo.stat));
}

// ---- lifetime

int annotation_traverse(PyObject *obj, visitproc visit, void *arg) {
    AnnotationObject *self = as_annotation(obj);
    Py_VISIT(self->record_path);
    Py_VISIT(self->record);
    Py_VISIT(self->basedir);
    Py_VISIT(self->name);
    return 0;
}

int annotation_clear(PyObject *obj) {
    AnnotationObject *self = as_annotation(obj);
    for (PyObject **field : {&self->record_path, &self->record, &self->basedir, &self->name})
        replace_field(*field, PyRef::borrow(Py_None));
    return 0;
}

void annotation_dealloc(PyObject *obj) {
    AnnotationObject *self = as_annotation(obj);
    PyObject_GC_UnTrack(obj);
    // Releasing closes nothing in the engine; it only stops naming this object,
    // without the engine lock for the reason record_dealloc gives.
    forget_current(obj);
    Py_CLEAR(self->record_path);
    Py_CLEAR(self->record);
    Py_CLEAR(self->basedir);
    Py_CLEAR(self->name);
    PyMem_Free(self->engine_annotator);
    self->engine_annotator = nullptr;
    Py_TYPE(obj)->tp_free(obj);
}

PyMemberDef annotation_members[] = {
    {"record", T_OBJECT, offsetof(AnnotationObject, record), READONLY, nullptr},
    {"basedir", T_OBJECT, offsetof(AnnotationObject, basedir), READONLY, nullptr},
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
                  PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&AnnotationType),
                                               record_path_of(record), name, stat, nullptr));
}

const Sigtrove_AnnotationEntryOps annotation_entry_ops = {get_struct};

PyTypeObject AnnotationEntryType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.AnnotationEntry";
    t.tp_basicsize = sizeof(AnnotationEntryObject);
    t.tp_dealloc = entry_dealloc;
    t.tp_repr = entry_repr;
    t.tp_str = entry_str;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = entry_doc;
    t.tp_traverse = entry_traverse;
    t.tp_clear = entry_clear;
    t.tp_getset = entry_getset;
    t.tp_new = entry_new;
    return t;
}();

PyTypeObject AnnotationType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.Annotation";
    t.tp_basicsize = sizeof(AnnotationObject);
    t.tp_dealloc = annotation_dealloc;
    t.tp_repr = annotation_repr;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc = annotation_doc;
    t.tp_traverse = annotation_traverse;
    t.tp_clear = annotation_clear;
    t.tp_methods = annotation_methods;
    t.tp_members = annotation_members;
    t.tp_new = annotation_new;
    return t;
}();

}  // namespace sigtrove
