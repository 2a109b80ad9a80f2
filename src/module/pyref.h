// Owned Python references: every reference has exactly one owner, so an early
// return can neither leak nor double-release.
#ifndef SIGTROVE_PYREF_H
#define SIGTROVE_PYREF_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace sigtrove {

// Owns one strong reference (or none).
class PyRef {
public:
    PyRef() = default;
    // Takes over a new reference (may be null, as returned by a failing API call).
    static PyRef steal(PyObject *o) { return PyRef(o); }
    // Adds a reference of its own to a borrowed one.
    static PyRef borrow(PyObject *o) {
        Py_XINCREF(o);
        return PyRef(o);
    }
    PyRef(const PyRef &) = delete;
    PyRef &operator=(const PyRef &) = delete;
    PyRef(PyRef &&other) noexcept : o_(other.o_) { other.o_ = nullptr; }
    PyRef &operator=(PyRef &&other) noexcept {
        if (this != &other) {
            PyObject *old = o_;
            o_ = other.o_;
            other.o_ = nullptr;
            Py_XDECREF(old);
        }
        return *this;
    }
    ~PyRef() { Py_XDECREF(o_); }

    PyObject *get() const { return o_; }
    explicit operator bool() const { return o_ != nullptr; }
    // Hands the reference over to the caller.
    PyObject *release() { return std::exchange(o_, nullptr); }

private:
    explicit PyRef(PyObject *o) : o_(o) {}
    PyObject *o_ = nullptr;
};

// Replaces an object field with a new reference and releases the old one last,
// so a destructor it triggers sees the field already updated.
inline void replace_field(PyObject *&field, PyRef value) {
    PyObject *old = field;
    field = value.release();
    Py_XDECREF(old);
}

}  // namespace sigtrove

#endif
