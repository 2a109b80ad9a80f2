// What an Annotation reads through its engine annotation file (no module lock,
// no working directory, its own position): time texts and the annotations of a
// window as numpy columns; and the Annotation pickled by its path.
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "annotation_object.h"
#include "engine_errors.h"
#include "engine_object.h"
#include "numpy_arrays.h"
#include "paths/path_search.h"
#include "time_texts.h"

namespace sigtrove {

namespace {

AnnotationEngine *engine_of(PyObject *obj) {
    AnnotationEngine *engine = as_annotation(obj)->engine;
    if (engine == nullptr) PyErr_SetString(PyExc_ValueError, "the annotation file was not opened");
    return engine;
}

// A numeric column of `rows` values of `type`, each value(i).
template <class Value, class Get>
PyObject *numeric_column(std::size_t rows, engine::SampleType type, Get value) {
    PyRef column = PyRef::steal(new_array({static_cast<Py_ssize_t>(rows)}, type));
    if (!column) return nullptr;
    ArrayMemory memory(column.get());
    if (!memory.ok()) return nullptr;
    auto *out = static_cast<Value *>(memory.data());
    for (std::size_t i = 0; i < rows; ++i) out[i] = value(i);
    return column.release();
}

// A column of Python objects, object(i) a new reference (null on failure).
template <class Make>
PyObject *object_column(std::size_t rows, Make object) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(rows)));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < rows; ++i) {
        PyObject *item = object(i);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return object_array(list.get());
}

// The low 8 bits read back signed, as entries carry subtype, channel and number.
inline std::int32_t as_signed_byte(int value) { return static_cast<signed char>(static_cast<unsigned char>(value)); }

}  // namespace

PyObject *annotation_time_text(PyObject *obj, PyObject *args, PyObject *kwargs) {
    TimeTextRequest request;
    if (!request.parse(args, kwargs)) return nullptr;
    AnnotationEngine *engine = engine_of(obj);
    if (engine == nullptr) return nullptr;
    engine::TimeBasis basis;
    engine::Status status = engine->with_file([&](engine::AnnotationFile &file) {
        basis = file.time_basis();
        return engine::Status();
    });
    if (!status.ok()) return raise_failure(status);
    return time_text_object(request, basis);
}

PyObject *annotation_arrays(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"start", "stop", nullptr};
    PyObject *start_arg = nullptr, *stop_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO:arrays", const_cast<char **>(keywords), &start_arg, &stop_arg))
        return nullptr;
    AnnotationEngine *engine = engine_of(obj);
    if (engine == nullptr) return nullptr;
    engine::TimeBasis basis;
    long length = 0;
    engine::Status status = engine->with_file([&](engine::AnnotationFile &file) {
        basis = file.time_basis();
        length = file.record_length();
        return engine::Status();
    });
    if (!status.ok()) return raise_failure(status);
    long long start = 0, stop = 0;
    // Annotations may lie past the record's stated length: only an explicit stop bounds the window.
    if (!window_arguments(start_arg, stop_arg, basis, length > 0 ? length : -1, false, start, stop)) return nullptr;
    const bool bounded = stop_arg != nullptr && stop_arg != Py_None;
    std::vector<engine::AnnotationRow> rows;
    std::vector<std::string> symbols;  // the file's mnemonic of every code, looked up once
    status = engine->with_file([&](engine::AnnotationFile &file) {
        for (int code = 0; code < 256; ++code) symbols.push_back(file.codes().mnemonic(code));
        std::optional<WFDB_Time> end;
        if (bounded) end = static_cast<WFDB_Time>(std::min<long long>(stop, LONG_MAX));
        return file.read(static_cast<WFDB_Time>(std::min<long long>(start, LONG_MAX)), end, rows);
    });
    if (!status.ok()) return raise_failure(status);

    PyRef symbol_objects[256];
    for (int code = 0; code < 256; ++code) {
        symbol_objects[code] = PyRef::steal(engine_text(symbols[code].data(), symbols[code].size()));
        if (!symbol_objects[code]) return nullptr;
    }
    const std::size_t n = rows.size();
    PyRef columns = PyRef::steal(PyDict_New());
    if (!columns) return nullptr;
    auto put = [&](const char *name, PyObject *column) {
        PyRef owned = PyRef::steal(column);
        return owned && PyDict_SetItemString(columns.get(), name, owned.get()) == 0;
    };
    using engine::SampleType;
    bool ok =
        put("time", numeric_column<std::int64_t>(n, SampleType::int64, [&](std::size_t i) { return rows[i].time; })) &&
        // EDF annotations: the onset in seconds as written, and the duration (NaN where none is given).
        (!engine->reads_edf_lists() ||
         (put("onset", numeric_column<double>(n, SampleType::float64,
                                              [&](std::size_t i) { return rows[i].onset.value_or(Py_NAN); })) &&
          put("duration", numeric_column<double>(n, SampleType::float64,
                                                 [&](std::size_t i) { return rows[i].duration.value_or(Py_NAN); })))) &&
        put("code", numeric_column<std::int32_t>(n, SampleType::int32, [&](std::size_t i) { return rows[i].code; })) &&
        put("symbol", object_column(n,
                                    [&](std::size_t i) {
                                        return PyRef::borrow(symbol_objects[rows[i].code & 0xFF].get()).release();
                                    })) &&
        put("subtype", numeric_column<std::int32_t>(n, SampleType::int32,
                                                    [&](std::size_t i) { return as_signed_byte(rows[i].subtype); })) &&
        put("chan", numeric_column<std::int32_t>(n, SampleType::int32,
                                                 [&](std::size_t i) { return as_signed_byte(rows[i].channel); })) &&
        put("num", numeric_column<std::int32_t>(n, SampleType::int32,
                                                [&](std::size_t i) { return as_signed_byte(rows[i].number); })) &&
        put("aux", object_column(n, [&](std::size_t i) -> PyObject * {
                const std::optional<std::string> &aux = rows[i].aux;
                return aux ? engine_text(aux->data(), aux->size()) : PyRef::borrow(Py_None).release();
            }));
    return ok ? columns.release() : nullptr;
}

PyObject *annotation_reduce(PyObject *obj, PyObject *) {
    AnnotationObject *self = as_annotation(obj);
    AnnotationEngine *engine = engine_of(obj);
    if (engine == nullptr) return nullptr;
    // By the directory the file was opened from, so that another process (another
    // working directory) opens the same file; a file on a web server by its URL.
    const std::string &base = engine->location().base();
    PyRef directory = PyRef::steal(PyUnicode_DecodeFSDefaultAndSize(base.data(), static_cast<Py_ssize_t>(base.size())));
    if (!directory) return nullptr;
    const bool as_given = base.empty() || engine::is_url(engine->record());
    PyRef path = PyRef::steal(reopening_path(self->location, directory.get(), as_given));
    if (!path) return nullptr;
    return Py_BuildValue("(O(OOi))", reinterpret_cast<PyObject *>(Py_TYPE(obj)), path.get(), self->name,
                         self->anninfo.stat);
}

}  // namespace sigtrove
