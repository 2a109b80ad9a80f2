// numpy arrays made and filled without numpy's C headers: numpy is imported at
// first use, arrays are made by calling numpy.empty, and filled through the
// buffer protocol. The extension builds without numpy; the package needs it to run.
#ifndef SIGTROVE_NUMPY_ARRAYS_H
#define SIGTROVE_NUMPY_ARRAYS_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <initializer_list>
#include <optional>

#include "signals/array_sink.h"

namespace sigtrove {

// The numpy type name of a sample type ("float64", ...).
const char *numpy_type_name(engine::SampleType type);

// The sample type of a dtype argument (anything numpy.dtype accepts); none,
// with ValueError set, for a type the reads do not fill.
std::optional<engine::SampleType> sample_type_of(PyObject *dtype);

// A new, uninitialised C-contiguous array of this shape and type.
PyObject *new_array(std::initializer_list<Py_ssize_t> shape, engine::SampleType type);

// numpy.array(list, dtype=object): a column of Python objects.
PyObject *object_array(PyObject *list);

// Resizes an array this code made and alone refers to, in place (numpy's
// ndarray.resize): it keeps its first rows. Used to shrink a read to what the
// data gave, or to grow one whose length the data did not tell.
bool resize_rows(PyObject *array, Py_ssize_t rows, Py_ssize_t columns);

// The writable memory of an array, held while it is filled (the array can not
// be resized meanwhile); released on every path out.
class ArrayMemory {
public:
    explicit ArrayMemory(PyObject *array);
    ~ArrayMemory();
    ArrayMemory(const ArrayMemory &) = delete;
    ArrayMemory &operator=(const ArrayMemory &) = delete;

    // False, with an exception set, when the array exposes no writable C-contiguous memory.
    bool ok() const { return held_; }
    void *data() const { return view_.buf; }
    Py_ssize_t bytes() const { return view_.len; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

}  // namespace sigtrove

#endif
