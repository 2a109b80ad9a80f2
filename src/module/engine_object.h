// The life of a Python object that owns an engine object: Record and Annotation
// lead the same one. Each object begins with its RecordLocation (the path fields),
// holds its engine object by pointer (`engine`, null until the construction made
// it, deleted with the object) and owns one Python field more, which its header
// names with an overload of `python_field` (and of `release_memory` for what it
// allocated beside). The type's slots and its __enter__ and __exit__ are these
// functions; its __reduce__ builds on reopening_path.
#ifndef SIGTROVE_ENGINE_OBJECT_H
#define SIGTROVE_ENGINE_OBJECT_H

#include "record_location.h"
#include "sigtrove.h"

namespace sigtrove {

template <class Object>
struct EngineObjectLife {
    static Object *of(PyObject *obj) { return reinterpret_cast<Object *>(obj); }

    static int traverse(PyObject *obj, visitproc visit, void *arg) {
        Object *self = of(obj);
        if (int rc = self->location.traverse(visit, arg)) return rc;
        Py_VISIT(python_field(*self));
        return 0;
    }

    static int clear(PyObject *obj) {
        Object *self = of(obj);
        self->location.clear();
        replace_field(python_field(*self), PyRef::borrow(Py_None));
        return 0;
    }

    static void dealloc(PyObject *obj) {
        Object *self = of(obj);
        PyObject_GC_UnTrack(obj);
        // Without the engine lock: destruction may run on any thread at any moment,
        // also at exit while a daemon thread holds the lock, and must never wait.
        // Emptying the slots that name this object disturbs no operation, since
        // none can be running on an object that is being destroyed.
        forget_current(obj);
        forget_holder(obj);
        self->location.release();
        Py_CLEAR(python_field(*self));
        release_memory(*self);
        delete self->engine;
        self->engine = nullptr;
        Py_TYPE(obj)->tp_free(obj);
    }

    // `with Record(path) as record:` gives the object itself.
    static PyObject *enter(PyObject *obj, PyObject *) { return PyRef::borrow(obj).release(); }

    // Closes the object's files (a later use opens them again); exceptions pass through.
    static PyObject *exit(PyObject *obj, PyObject *) {
        Object *self = of(obj);
        {
            EngineAccess access;
            if (is_current(obj)) set_current(nullptr);
        }
        if (self->engine != nullptr) self->engine->close();
        Py_RETURN_FALSE;
    }

    // The slots every such type fills alike.
    static void fill(PyTypeObject &type) {
        type.tp_basicsize = sizeof(Object);
        type.tp_dealloc = dealloc;
        type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
        type.tp_traverse = traverse;
        type.tp_clear = clear;
    }
};

// The path an object pickles by: DIRECTORY/RECORD, DIRECTORY (a str) being where
// its files were found, so that another process (another working directory)
// opens the same files; the path as the caller gave it when `as_given` (a URL).
inline PyObject *reopening_path(const RecordLocation &location, PyObject *directory, bool as_given) {
    if (as_given) return PyRef::borrow(location.record_path).release();
    return PyUnicode_FromFormat("%U/%U", directory, location.record);
}

}  // namespace sigtrove

#endif
