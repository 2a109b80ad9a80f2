// What the module's writers share: their arguments as engine values (the
// destination, texts, numbers, arrays, the base time, a record's signals) and
// the loop's looks at the interpreter between blocks (progress, Ctrl-C).
#ifndef SIGTROVE_WRITING_ARGUMENTS_H
#define SIGTROVE_WRITING_ARGUMENTS_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <climits>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "errors/status.h"
#include "pyref.h"
#include "record/record.h"
#include "writers/new_record.h"

namespace sigtrove {

// Frames written between two looks at pending signals and the progress callback.
constexpr long long kFramesPerBlock = 1 << 16;

// Runs `work` (-> engine::Status) without the interpreter lock.
template <class Work>
engine::Status without_interpreter_lock(Work &&work) {
    engine::Status status;
    Py_BEGIN_ALLOW_THREADS
    status = work();
    Py_END_ALLOW_THREADS
    return status;
}

enum class DestinationKind { wfdb, edf, bdf };

// Where a record or annotation file goes: the absolute folder and the record's
// name, from a path "folder/name" (or "folder/name.hea"); for a name ending in
// ".edf" or ".bdf" (any case), the EDF file's name with its suffix.
struct Destination {
    std::string directory;
    std::string name;
    DestinationKind kind = DestinationKind::wfdb;
};

bool destination_of(PyObject *path_arg, Destination &out);
// As destination_of, for the writers of WFDB files only: ValueError for an EDF name.
bool wfdb_destination_of(PyObject *path_arg, Destination &out);

// A str argument as UTF-8 bytes (headers and annotation files hold bytes).
bool utf8_of(PyObject *text, std::string &out);

// The items of a list argument as a fast sequence of exactly `count` items.
PyRef items_of(PyObject *arg, Py_ssize_t count, const char *what);

template <class Value>
bool optional_number(PyObject *item, std::optional<Value> &out) {
    if (item == Py_None) return true;
    if constexpr (std::is_floating_point_v<Value>) {
        double v = PyFloat_AsDouble(item);
        if (v == -1 && PyErr_Occurred()) return false;
        out = v;
    } else {
        long long v = PyLong_AsLongLong(item);
        if (v == -1 && PyErr_Occurred()) return false;
        if (v < INT_MIN || v > INT_MAX) {
            PyErr_Format(PyExc_OverflowError, "%lld does not fit a header's integer", v);
            return false;
        }
        out = static_cast<Value>(v);
    }
    return true;
}

// The memory of the arrays a write reads, held (and the arrays kept from being
// resized) until the write is over.
class HeldBuffers {
public:
    HeldBuffers() = default;
    HeldBuffers(const HeldBuffers &) = delete;
    HeldBuffers &operator=(const HeldBuffers &) = delete;
    ~HeldBuffers() {
        for (Py_buffer &view : views_) PyBuffer_Release(&view);
    }

    // A C-contiguous buffer of 8-byte values of kind `kind` ('d' float64, 'q' int64), or of
    // 4-byte ones ('i' int32); null with an exception set otherwise.
    const Py_buffer *hold(PyObject *object, char kind) {
        views_.emplace_back();
        Py_buffer &view = views_.back();
        if (PyObject_GetBuffer(object, &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) {
            views_.pop_back();
            return nullptr;
        }
        const char *format = view.format ? view.format : "B";
        if (*format == '<' || *format == '=' || *format == '@') ++format;
        const bool integer64 = (*format == 'q' || *format == 'l') && view.itemsize == 8;
        const bool integer32 = (*format == 'i' || *format == 'l') && view.itemsize == 4;
        const bool ok = kind == 'd' ? (*format == 'd' && view.itemsize == 8) : kind == 'q' ? integer64 : integer32;
        if (!ok) {
            PyErr_Format(PyExc_TypeError, "an array of %s was expected, not of '%s'",
                         kind == 'd'   ? "float64"
                         : kind == 'q' ? "int64"
                                       : "int32",
                         view.format ? view.format : "B");
            return nullptr;
        }
        return &view;
    }

private:
    std::deque<Py_buffer> views_;  // a deque: the views handed out stay where they are
};

// Signal `s`'s samples as the package lays them out: `layout` is (array, offset, stride)
// in values, `spf_item` its samples per frame. The array is held in `buffers` and
// checked to hold `frames` frames of float64 (`physical`) or int64 values. False with
// an exception set otherwise.
bool sample_column_of(PyObject *layout, PyObject *spf_item, Py_ssize_t s, long long frames, bool physical,
                      HeldBuffers &buffers, int &samples_per_frame, engine::SampleColumn &column);

// The text of a base time: (milliseconds after midnight, (day, month, year) or None).
bool base_time_of(PyObject *base, engine::NewRecord &record);

// Calls progress(frames) (when given) and looks at pending signals; false with
// the exception set when either says to stop. Needs the interpreter lock.
bool carry_on(PyObject *progress, long long frames);

// A signal of a record's header by number (anything with __index__) or by name
// (the first signal so described); -1 with ValueError when there is none.
int header_signal(const engine::RecordDescription &description, PyObject *item);

bool chosen_signals(const engine::RecordDescription &description, PyObject *arg, std::vector<std::size_t> &out);

// formats: None (their own), one format for all, or one per signal copied.
bool chosen_formats(PyObject *arg, std::size_t count, std::vector<int> &out);

}  // namespace sigtrove

#endif
