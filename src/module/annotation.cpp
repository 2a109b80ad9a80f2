// AnnotationEntry (one annotation event) and Annotation (an opened annotation file).
#include "sigtrove.h"

#include <structmember.h>
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
    PyObject *aux;
};

struct AnnotationObject {
    PyObject_HEAD
    PyObject *record_path;
    PyObject *record;
    PyObject *basedir;
};

int entry_traverse(PyObject *obj, visitproc visit, void *arg) {
    Py_VISIT(reinterpret_cast<AnnotationEntryObject *>(obj)->aux);
    return 0;
}

int entry_clear(PyObject *obj) {
    auto *self = reinterpret_cast<AnnotationEntryObject *>(obj);
    replace_field(self->aux, PyRef::borrow(Py_None));
    return 0;
}

void entry_dealloc(PyObject *obj) {
    PyObject_GC_UnTrack(obj);
    Py_CLEAR(reinterpret_cast<AnnotationEntryObject *>(obj)->aux);
    Py_TYPE(obj)->tp_free(obj);
}

int annotation_traverse(PyObject *obj, visitproc visit, void *arg) {
    auto *self = reinterpret_cast<AnnotationObject *>(obj);
    Py_VISIT(self->record_path);
    Py_VISIT(self->record);
    Py_VISIT(self->basedir);
    return 0;
}

int annotation_clear(PyObject *obj) {
    auto *self = reinterpret_cast<AnnotationObject *>(obj);
    replace_field(self->record_path, PyRef::borrow(Py_None));
    replace_field(self->record, PyRef::borrow(Py_None));
    replace_field(self->basedir, PyRef::borrow(Py_None));
    return 0;
}

void annotation_dealloc(PyObject *obj) {
    auto *self = reinterpret_cast<AnnotationObject *>(obj);
    PyObject_GC_UnTrack(obj);
    if (is_current(obj)) set_current(nullptr);
    Py_CLEAR(self->record_path);
    Py_CLEAR(self->record);
    Py_CLEAR(self->basedir);
    Py_TYPE(obj)->tp_free(obj);
}

}  // namespace

PyObject *record_annotation(PyObject *, PyObject *, PyObject *) {
    PyErr_SetString(PyExc_NotImplementedError, "annotation files");
    return traced("_sigtrove.Record.annotation", nullptr);
}

const Sigtrove_AnnotationEntryOps annotation_entry_ops = {nullptr};

PyTypeObject AnnotationEntryType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.AnnotationEntry";
    t.tp_basicsize = sizeof(AnnotationEntryObject);
    t.tp_dealloc = entry_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_traverse = entry_traverse;
    t.tp_clear = entry_clear;
    return t;
}();

PyTypeObject AnnotationType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.Annotation";
    t.tp_basicsize = sizeof(AnnotationObject);
    t.tp_dealloc = annotation_dealloc;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_traverse = annotation_traverse;
    t.tp_clear = annotation_clear;
    return t;
}();

}  // namespace sigtrove
