// What the original operations say of a record's header: Record.signal_info (a
// dict per signal) and str(record) (the text of every signal line).
#include <string>
#include <type_traits>

#include "record_object.h"
#include "sigtrove.h"

#include "wfdb/wfdb.h"

namespace sigtrove {

namespace {

// Sets dict[key] = value, taking over the new reference `value`.
bool set_item(PyObject *dict, const char *key, PyObject *value) {
    PyRef owned = PyRef::steal(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

// The record's time text of sample t, as the C library's timstr writes it.
PyObject *time_text_of(PyObject *obj, WFDB_Time t) {
    char text[128];
    engine::format_time_text(t, record_time_basis(*as_record(obj)->engine), false, text, sizeof text);
    return engine_text(text);
}

PyObject *text_of(const std::string &text) { return engine_text(text.data(), text.size()); }

PyObject *units_text(const engine::SignalSpec &info) {
    return info.units ? text_of(*info.units) : PyUnicode_FromString("mV");
}

PyObject *signal_info_impl(PyObject *obj, PyObject *signal_id) {
    RecordObject *self = as_record(obj);
    int signal = record_signal_number(obj, signal_id);
    if (signal < 0 || record_make_current(obj) < 0) return nullptr;
    const engine::SignalSpec &info = signal_spec(obj, signal);
    const long nsamp = signal_length(obj, info);
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    PyObject *d = dict.get();
    bool ok =
        set_item(d, "record", PyRef::borrow(self->location.record).release()) &&
        set_item(d, "file", text_of(info.fname)) && set_item(d, "frequency", PyFloat_FromDouble(self->frequency)) &&
        set_item(d, "description", text_of(info.desc)) && set_item(d, "adc_zero", PyLong_FromLong(info.adczero)) &&
        set_item(d, "adc_resolution", PyLong_FromLong(info.adcres)) &&
        set_item(d, "initial_value", PyLong_FromLong(info.initval)) &&
        set_item(d, "storage_format", PyLong_FromLong(info.fmt)) &&
        set_item(d, "gain", PyFloat_FromDouble(info.gain == 0.0 ? WFDB_DEFGAIN : info.gain)) &&
        set_item(d, "units", units_text(info)) && set_item(d, "starting_time", time_text_of(obj, 0));
    if (ok && nsamp > 0) {
        ok = set_item(d, "length", time_text_of(obj, nsamp)) && set_item(d, "samples", PyLong_FromLong(nsamp)) &&
             set_item(d, "checksum", PyLong_FromLong(info.cksum));
    }
    // Last, so that the entries callers already know keep their order.
    ok = ok && set_item(d, "baseline", PyLong_FromLong(info.baseline));
    return ok ? dict.release() : nullptr;
}

// Collects the pieces of a text and joins them once at the end.
class Pieces {
public:
    Pieces() : list_(PyRef::steal(PyList_New(0))) {}
    // Appends format % (args...), formatted by Python's % operator.
    template <class... Args>
    bool add(const char *format, Args... args) {
        if (!list_) return false;
        PyRef values = PyRef::steal(Py_BuildValue(tuple_format<Args...>(), args...));
        PyRef text = PyRef::steal(PyUnicode_FromString(format));
        if (!values || !text) return false;
        PyRef piece = PyRef::steal(PyUnicode_Format(text.get(), values.get()));
        return piece && PyList_Append(list_.get(), piece.get()) == 0;
    }
    PyObject *join() {
        if (!list_) return nullptr;
        PyRef empty = PyRef::steal(PyUnicode_FromString(""));
        return empty ? PyUnicode_Join(empty.get(), list_.get()) : nullptr;
    }

private:
    template <class T>
    static constexpr char code() {
        if constexpr (std::is_same_v<T, PyObject *>)
            return 'N';  // takes over a new reference
        else if constexpr (std::is_same_v<T, double>)
            return 'd';
        else if constexpr (std::is_same_v<T, long>)
            return 'l';
        else
            return 'i';
    }
    template <class... Args>
    static const char *tuple_format() {
        static const char format[] = {'(', code<Args>()..., ')', '\0'};
        return format;
    }
    PyRef list_;
};

PyObject *record_str_impl(PyObject *obj) {
    RecordObject *self = as_record(obj);
    if (record_make_current(obj) < 0) return nullptr;
    const int nsig = self->nsig;
    Pieces p;
    bool ok = p.add("Record %s\n", PyRef::borrow(self->location.record).release()) &&
              p.add("Starting time:  %s\n", time_text_of(obj, 0)) &&
              p.add("Sampling frequency: %g Hz\n", self->frequency) && p.add("%d signals\n", nsig);
    for (int i = 0; ok && i < nsig; ++i) {
        const engine::SignalSpec &info = signal_spec(obj, i);
        const long nsamp = signal_length(obj, info);
        ok = p.add("Signal %d:\n", i) && p.add(" File: %s\n", text_of(info.fname)) &&
             p.add(" Description: %s\n", text_of(info.desc)) && p.add(" Gain: ") &&
             (info.gain == 0.0 ? p.add("uncalibrated assume %g", static_cast<int>(WFDB_DEFGAIN))
                               : p.add("%g", info.gain)) &&
             p.add(" adu/%s\n", units_text(info)) && p.add(" Initial value: %d\n", info.initval) &&
             p.add(" Storage format: %d\n", info.fmt) && p.add(" I/O: ") &&
             (info.bsize == 0 ? p.add("can be unbuffered\n") : p.add("%d-byte blocks\n", info.bsize)) &&
             p.add(" ADC resolution: %d bits\n", info.adcres) && p.add(" ADC zero: %d\n", info.adczero);
        if (ok && nsamp > 0) {
            ok = p.add(" Length: %s (%ld sample intervals)\n", time_text_of(obj, nsamp), nsamp) &&
                 p.add(" Checksum: %d\n", info.cksum);
        } else if (ok) {
            ok = p.add(" Length undefined\n");
        }
    }
    return ok ? p.join() : nullptr;
}

}  // namespace

PyObject *record_signal_info(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"signal_id", nullptr};
    PyObject *signal_id = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:signal_info", const_cast<char **>(keywords), &signal_id))
        return nullptr;
    EngineAccess access;
    return traced("_sigtrove.Record.signal_info", signal_info_impl(obj, signal_id));
}

PyObject *record_str(PyObject *obj) {
    EngineAccess access;
    return traced("_sigtrove.Record.__str__", record_str_impl(obj));
}

}  // namespace sigtrove
