// The Annotation object's layout, shared by the units that implement its
// methods: the original interface (annotation.cpp) and the views on its engine file
// (annotation_views.cpp).
#ifndef SIGTROVE_ANNOTATION_OBJECT_H
#define SIGTROVE_ANNOTATION_OBJECT_H

#include "annotation_engine.h"
#include "record_location.h"
#include "sigtrove.h"
#include "wfdb/wfdb.h"

namespace sigtrove {

struct AnnotationObject {
    PyObject_HEAD
    RecordLocation location;
    WFDB_Anninfo anninfo;  // name points to engine_annotator
    PyObject *name;
    // The annotator name as the engine reads it, owned here so that it never
    // depends on an object the cycle collector may clear.
    char *engine_annotator;
    // The engine file behind time texts and array reads; made at the first
    // open, from the location that open found the file along.
    AnnotationEngine *engine;
};

inline AnnotationObject *as_annotation(PyObject *o) { return reinterpret_cast<AnnotationObject *>(o); }

// What its life (engine_object.h) owns beside the location and the engine file.
inline PyObject *&python_field(AnnotationObject &self) { return self.name; }
inline void release_memory(AnnotationObject &self) {
    PyMem_Free(self.engine_annotator);
    self.engine_annotator = nullptr;
}

// Methods beyond the original interface (annotation_views.cpp).
PyObject *annotation_time_text(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *annotation_arrays(PyObject *self, PyObject *args, PyObject *kwargs);
PyObject *annotation_reduce(PyObject *self, PyObject *);

}  // namespace sigtrove

#endif
