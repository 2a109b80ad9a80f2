// AnnotationEntry: one annotation event, built by callers or by Annotation.read.
#include "annotation_entry.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include <structmember.h>
#include "wfdb/ecgmap.h"
#include "wfdb/wfdb.h"

namespace sigtrove {

namespace {

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
    EngineAccess access;  // the code table is the process's, changed by annotation file opens
    std::string mnemonic;
    try {
        mnemonic = annotation_codes().mnemonic(as_entry(self)->type);
    } catch (const std::bad_alloc &) {
        return traced("_sigtrove.AnnotationEntry.typestr.__get__", PyErr_NoMemory());
    }
    return traced("_sigtrove.AnnotationEntry.typestr.__get__", engine_text(mnemonic.data(), mnemonic.size()));
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
    const char *description = annotation_codes().description(as_entry(self)->type);
    return traced("_sigtrove.AnnotationEntry.description.__get__", engine_text(description ? description : ""));
}

// ---- text forms

// The time text of t by the record whose header was read last, without its padding.
PyObject *time_text(WFDB_Time t) {
    char text[128];
    engine::format_time_text(t, last_time_basis(), false, text, sizeof text);
    PyRef padded = PyRef::steal(engine_text(text));
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
        has_aux ? PyTuple_Pack(6, mnemonic.get(), code.get(), time.get(), description.get(), clock.get(), aux.get())
                : PyTuple_Pack(5, mnemonic.get(), code.get(), time.get(), description.get(), clock.get()));
    if (!values) return nullptr;
    PyRef format =
        PyRef::steal(PyUnicode_FromString(has_aux ? "[%s (%d) %d] - %s at %s, %s." : "[%s (%d) %d] - %s at %s."));
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
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "lH|hhhU:AnnotationEntry", const_cast<char **>(keywords), &time,
                                     &code, &subtype, &channel, &annotator, &aux_arg))
        return nullptr;
    PyRef aux;
    if (aux_arg != nullptr) {
        aux = PyRef::steal(aux_argument(aux_arg));
        if (!aux) return nullptr;
    }
    return traced("_sigtrove.AnnotationEntry.__new__",
                  make_entry(type, time, code, subtype, channel, annotator, std::move(aux)));
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

// An entry pickles as a call of its type with its fields, and its code restored
// afterwards as it is: codes read from a file (0, or above 49) are not ones a
// caller may pass to the constructor.
PyObject *entry_reduce(PyObject *obj, PyObject *) {
    AnnotationEntryObject *self = as_entry(obj);
    PyRef args = PyRef::steal(PyUnicode_Check(self->aux)
                                  ? Py_BuildValue("(liiiiO)", static_cast<long>(self->time), 1, self->subtype,
                                                  self->channel, self->annotator, self->aux)
                                  : Py_BuildValue("(liiii)", static_cast<long>(self->time), 1, self->subtype,
                                                  self->channel, self->annotator));
    if (!args) return nullptr;
    return Py_BuildValue("(OO(i))", reinterpret_cast<PyObject *>(Py_TYPE(obj)), args.get(), self->type);
}

PyObject *entry_setstate(PyObject *obj, PyObject *state) {
    int code = 0;
    if (!PyArg_ParseTuple(state, "i:__setstate__", &code)) return nullptr;
    if (code < 0 || code > 255) {
        PyErr_SetString(PyExc_ValueError, "annotation code out of range");
        return nullptr;
    }
    as_entry(obj)->type = static_cast<unsigned char>(code);
    Py_RETURN_NONE;
}

PyMethodDef entry_methods[] = {
    {"__reduce__", entry_reduce, METH_NOARGS, "An entry pickles as its fields."},
    {"__setstate__", entry_setstate, METH_O, "Restores the annotation code of a pickled entry."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef entry_getset[] = {
    {"time", entry_get_time, entry_set_time, nullptr, nullptr},
    {"subtype", get_byte_field, set_byte_field, nullptr, byte_field_closure(offsetof(AnnotationEntryObject, subtype))},
    {"channel", get_byte_field, set_byte_field, nullptr, byte_field_closure(offsetof(AnnotationEntryObject, channel))},
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

}  // namespace

// The engine's code for a mnemonic; 0 (no code) when it has no such mnemonic.
bool code_of_mnemonic(PyObject *text, int &code) {
    const char *utf8 = text_without_nul(text);
    if (utf8 == nullptr) return false;
    code = annotation_codes().code_of(utf8);
    return true;
}

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
    t.tp_methods = entry_methods;
    t.tp_new = entry_new;
    return t;
}();

}  // namespace sigtrove
