#include "writing_arguments.h"

#include <algorithm>
#include <cctype>

#include "record_location.h"
#include "time/julian_date.h"

namespace sigtrove {

bool destination_of(PyObject *path_arg, Destination &out) {
    PyRef path = PyRef::steal(path_argument(path_arg));
    if (!path) return false;
    PyRef os_path = PyRef::steal(PyImport_ImportModule("os.path"));
    if (!os_path) return false;
    // The name is the path's last part as written ("folder/" names no record, "folder/.." none
    // either); only the folder is made absolute.
    PyRef parts = PyRef::steal(PyObject_CallMethod(os_path.get(), "split", "O", path.get()));
    if (!parts) return false;
    PyObject *folder = PyTuple_GetItem(parts.get(), 0), *base = PyTuple_GetItem(parts.get(), 1);
    if (folder == nullptr || base == nullptr) return false;
    PyRef here = PyRef::steal(PyUnicode_FromString("."));
    if (!here) return false;
    PyRef directory = PyRef::steal(
        PyObject_CallMethod(os_path.get(), "abspath", "O", PyUnicode_GET_LENGTH(folder) > 0 ? folder : here.get()));
    if (!directory) return false;
    if (!engine_name(directory.get(), out.directory) || !engine_name(base, out.name)) return false;
    auto ends_with = [&](const char *suffix) {
        std::string lower = out.name;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        const std::string s(suffix);
        return lower.size() > s.size() && lower.compare(lower.size() - s.size(), s.size(), s) == 0;
    };
    if (ends_with(".edf")) {
        out.kind = DestinationKind::edf;
        return true;
    }
    if (ends_with(".bdf")) {
        out.kind = DestinationKind::bdf;
        return true;
    }
    if (ends_with(".hea")) out.name.resize(out.name.size() - 4);
    return true;
}

bool wfdb_destination_of(PyObject *path_arg, Destination &out) {
    if (!destination_of(path_arg, out)) return false;
    if (out.kind != DestinationKind::wfdb) {
        PyErr_Format(PyExc_ValueError,
                     "%s names an EDF file: a record is written into it with write_record or Record.write, "
                     "annotations with their annotations argument",
                     out.name.c_str());
        return false;
    }
    return true;
}

// A str argument as UTF-8 bytes (headers and annotation files hold bytes).
bool utf8_of(PyObject *text, std::string &out) {
    Py_ssize_t size = 0;
    const char *data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

// The items of a list argument as a fast sequence of exactly `count` items.
PyRef items_of(PyObject *arg, Py_ssize_t count, const char *what) {
    PyRef items = PyRef::steal(PySequence_Fast(arg, what));
    if (items && count >= 0 && PySequence_Fast_GET_SIZE(items.get()) != count) {
        PyErr_Format(PyExc_ValueError, "%s: %zd values for %zd signals", what, PySequence_Fast_GET_SIZE(items.get()),
                     count);
        return PyRef();
    }
    return items;
}

// The text of a base time: (milliseconds after midnight, (day, month, year) or None).
bool base_time_of(PyObject *base, engine::NewRecord &record) {
    if (base == Py_None) return true;
    long ms = 0;
    PyObject *date = nullptr;
    if (!PyArg_ParseTuple(base, "lO", &ms, &date)) return false;
    record.has_base = true;
    record.base_ms = ms;
    if (date != Py_None) {
        int day = 0, month = 0;
        long year = 0;
        if (!PyArg_ParseTuple(date, "iil", &day, &month, &year)) return false;
        if (year == 0 || year > engine::kMaxCalendarYear || year < -engine::kMaxCalendarYear || month < 1 ||
            month > 12 || day < 1 || day > 31) {
            PyErr_SetString(PyExc_ValueError, "the base date is no calendar date");
            return false;
        }
        record.base_date = engine::julian_day_number(engine::CalendarDate{day, month, year});
    }
    return true;
}

// Calls progress(frames) (when given) and looks at pending signals; false with
// the exception set when either says to stop. Needs the interpreter lock.
bool carry_on(PyObject *progress, long long frames) {
    if (progress != nullptr && progress != Py_None) {
        PyRef count = PyRef::steal(PyLong_FromLongLong(frames));
        if (!count) return false;
        PyRef result = PyRef::steal(PyObject_CallOneArg(progress, count.get()));
        if (!result) return false;
    }
    return PyErr_CheckSignals() == 0;
}

// A signal of a record's header by number (anything with __index__) or by name
// (the first signal so described); -1 with ValueError when there is none.
int header_signal(const engine::RecordDescription &description, PyObject *item) {
    const std::vector<engine::SignalSpec> &signals = description.header.signals;
    if (PyUnicode_Check(item)) {
        std::string name;
        if (!utf8_of(item, name)) return -1;
        for (std::size_t s = 0; s < signals.size(); ++s)
            if (signals[s].desc == name) return static_cast<int>(s);
        PyErr_Format(PyExc_ValueError, "record %s has no signal named %R", description.name.c_str(), item);
        return -1;
    }
    PyRef index = PyRef::steal(PyNumber_Index(item));
    if (!index) {
        PyErr_Format(PyExc_TypeError, "a signal is a number or a name, not %.200s", Py_TYPE(item)->tp_name);
        return -1;
    }
    long long number = PyLong_AsLongLong(index.get());
    if (number == -1 && PyErr_Occurred()) return -1;
    if (number < 0 || number >= static_cast<long long>(signals.size())) {
        PyErr_Format(PyExc_ValueError, "record %s has no signal %R (it has %zu)", description.name.c_str(), item,
                     signals.size());
        return -1;
    }
    return static_cast<int>(number);
}

bool chosen_signals(const engine::RecordDescription &description, PyObject *arg, std::vector<std::size_t> &out) {
    if (arg == nullptr || arg == Py_None) return true;
    if (PyUnicode_Check(arg) || PyIndex_Check(arg)) {
        int s = header_signal(description, arg);
        if (s < 0) return false;
        out.push_back(static_cast<std::size_t>(s));
        return true;
    }
    PyRef items = PyRef::steal(PySequence_Fast(arg, "signals must be None, or a sequence of numbers and names"));
    if (!items) return false;
    if (PySequence_Fast_GET_SIZE(items.get()) == 0) {
        PyErr_SetString(PyExc_ValueError, "signals is empty: a record is written with at least one signal");
        return false;
    }
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        int s = header_signal(description, PySequence_Fast_GET_ITEM(items.get(), i));
        if (s < 0) return false;
        out.push_back(static_cast<std::size_t>(s));
    }
    return true;
}

// formats: None (their own), one format for all, or one per signal copied.
bool chosen_formats(PyObject *arg, std::size_t count, std::vector<int> &out) {
    if (arg == nullptr || arg == Py_None) return true;
    if (PyIndex_Check(arg)) {
        long v = PyLong_AsLong(arg);
        if (v == -1 && PyErr_Occurred()) return false;
        out.assign(count, static_cast<int>(std::clamp<long>(v, INT_MIN, INT_MAX)));
        return true;
    }
    PyRef items = items_of(arg, static_cast<Py_ssize_t>(count), "formats must be None, a format, or one per signal");
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        std::optional<int> format;
        if (!optional_number(PySequence_Fast_GET_ITEM(items.get(), i), format)) return false;
        out.push_back(format.value_or(0));
    }
    return true;
}

bool sample_column_of(PyObject *layout, PyObject *spf_item, Py_ssize_t s, long long frames, bool physical,
                      HeldBuffers &buffers, int &samples_per_frame, engine::SampleColumn &column) {
    PyObject *array = nullptr;
    Py_ssize_t offset = 0, stride = 0;
    if (!PyArg_ParseTuple(layout, "Onn", &array, &offset, &stride)) return false;
    long per_frame = PyLong_AsLong(spf_item);
    if (per_frame == -1 && PyErr_Occurred()) return false;
    if (per_frame < 1 || per_frame > INT_MAX || stride < per_frame || offset < 0) {
        PyErr_Format(PyExc_ValueError, "signal %zd: improper samples per frame (%ld) or layout", s, per_frame);
        return false;
    }
    const Py_buffer *view = buffers.hold(array, physical ? 'd' : 'q');
    if (view == nullptr) return false;
    const long long values = view->len / 8;
    if (frames > 0 && (frames - 1 > (LLONG_MAX - offset - per_frame) / stride ||
                       offset + (frames - 1) * stride + per_frame > values)) {
        PyErr_Format(PyExc_ValueError, "signal %zd holds fewer than %lld frames", s, frames);
        return false;
    }
    samples_per_frame = static_cast<int>(per_frame);
    column.kind = physical ? engine::SampleColumn::Kind::physical : engine::SampleColumn::Kind::stored64;
    column.first = static_cast<const char *>(view->buf) + offset * 8;
    column.stride = static_cast<std::size_t>(stride);
    return true;
}

}  // namespace sigtrove
