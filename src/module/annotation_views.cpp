// What an Annotation reads through its engine annotation file: no module lock,
// no working directory, its own position.
#include "annotation_object.h"
#include "engine_errors.h"
#include "time_texts.h"

namespace sigtrove {

PyObject *annotation_time_text(PyObject *obj, PyObject *args, PyObject *kwargs) {
    TimeTextRequest request;
    if (!request.parse(args, kwargs)) return nullptr;
    AnnotationEngine *engine = as_annotation(obj)->engine;
    if (engine == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the annotation file was not opened");
        return nullptr;
    }
    engine::TimeBasis basis;
    engine::Status status = engine->with_file([&](engine::AnnotationFile &file) {
        basis = file.time_basis();
        return engine::Status();
    });
    if (!status.ok()) return raise_failure(status);
    return time_text_object(request, basis);
}

}  // namespace sigtrove
