#include "numpy_arrays.h"

#include <cstring>

#include "pyref.h"

namespace sigtrove {

namespace {

// The numpy module, imported at first use and kept.
PyObject *numpy() {
    static PyObject *module = nullptr;
    if (module == nullptr) module = PyImport_ImportModule("numpy");
    return module;
}

}  // namespace

const char *numpy_type_name(engine::SampleType type) {
    switch (type) {
        case engine::SampleType::int16: return "int16";
        case engine::SampleType::int32: return "int32";
        case engine::SampleType::int64: return "int64";
        case engine::SampleType::float32: return "float32";
        case engine::SampleType::float64: return "float64";
    }
    return "float64";
}

std::optional<engine::SampleType> sample_type_of(PyObject *dtype) {
    PyObject *np = numpy();
    if (np == nullptr) return std::nullopt;
    PyRef resolved = PyRef::steal(PyObject_CallMethod(np, "dtype", "O", dtype));
    if (!resolved) return std::nullopt;
    PyRef name = PyRef::steal(PyObject_GetAttrString(resolved.get(), "name"));
    if (!name) return std::nullopt;
    const char *text = PyUnicode_AsUTF8(name.get());
    if (text == nullptr) return std::nullopt;
    for (engine::SampleType type : {engine::SampleType::int16, engine::SampleType::int32, engine::SampleType::int64,
                                    engine::SampleType::float32, engine::SampleType::float64}) {
        if (std::strcmp(text, numpy_type_name(type)) == 0) return type;
    }
    PyErr_Format(PyExc_ValueError, "dtype %s is not one the reads fill (int16, int32, int64, float32, float64)", text);
    return std::nullopt;
}

PyObject *new_array(std::initializer_list<Py_ssize_t> shape, engine::SampleType type) {
    PyObject *np = numpy();
    if (np == nullptr) return nullptr;
    PyRef dims = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(shape.size())));
    if (!dims) return nullptr;
    Py_ssize_t i = 0;
    for (Py_ssize_t extent : shape) {
        PyObject *n = PyLong_FromSsize_t(extent);
        if (n == nullptr) return nullptr;
        PyTuple_SET_ITEM(dims.get(), i++, n);
    }
    return PyObject_CallMethod(np, "empty", "Os", dims.get(), numpy_type_name(type));
}

PyObject *object_array(PyObject *list) {
    PyObject *np = numpy();
    if (np == nullptr) return nullptr;
    PyRef array = PyRef::steal(PyObject_GetAttrString(np, "array"));
    if (!array) return nullptr;
    PyRef args = PyRef::steal(PyTuple_Pack(1, list));
    PyRef kwargs = PyRef::steal(Py_BuildValue("{s:s}", "dtype", "object"));
    if (!args || !kwargs) return nullptr;
    return PyObject_Call(array.get(), args.get(), kwargs.get());
}

bool resize_rows(PyObject *array, Py_ssize_t rows, Py_ssize_t columns) {
    PyRef resize = PyRef::steal(PyObject_GetAttrString(array, "resize"));
    if (!resize) return false;
    PyRef shape = PyRef::steal(columns < 0 ? Py_BuildValue("(n)", rows) : Py_BuildValue("(nn)", rows, columns));
    PyRef kwargs = PyRef::steal(Py_BuildValue("{s:O}", "refcheck", Py_False));
    if (!shape || !kwargs) return false;
    PyRef args = PyRef::steal(PyTuple_Pack(1, shape.get()));
    if (!args) return false;
    return PyRef::steal(PyObject_Call(resize.get(), args.get(), kwargs.get())).get() != nullptr;
}

ArrayMemory::ArrayMemory(PyObject *array) {
    held_ = PyObject_GetBuffer(array, &view_, PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS) == 0;
}

ArrayMemory::~ArrayMemory() {
    if (held_) PyBuffer_Release(&view_);
}

}  // namespace sigtrove
