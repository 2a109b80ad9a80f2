// What a record's header says, as Python values, read from the description its
// engine record holds (no engine call, no lock, no working directory); and the
// Record pickled by its path.
#include <string>

#include "engine_errors.h"
#include "engine_object.h"
#include "paths/path_search.h"
#include "record_object.h"
#include "time/julian_date.h"
#include "time_texts.h"

namespace sigtrove {

namespace {

// The description of a record whose construction finished (it opened once).
const engine::RecordDescription *description_of(PyObject *obj) {
    RecordEngine *engine = opened_engine(obj);
    return engine != nullptr ? &engine->description() : nullptr;
}

PyStructSequence_Field signal_fields[] = {
    {"name", "the signal's description in the header, the name Record.read takes"},
    {"file", "the file that holds it, as the header names it"},
    {"format", "its storage format (212, 16, ...)"},
    {"samples_per_frame", "its samples in each frame"},
    {"gain", "ADC units per physical unit; 0 for an uncalibrated signal (read as 200)"},
    {"baseline", "the ADC value of physical zero"},
    {"adc_zero", "the ADC value in the middle of the converter's range"},
    {"adc_resolution", "the converter's resolution in bits"},
    {"initial_value", "the value of its first sample"},
    {"units", "its physical units (\"mV\" when the header names none)"},
    {"length", "its length in frames, or None when the header does not give it"},
    {"checksum", "the checksum of its samples, or None when the header gives none"},
    {"block_size", "the block size of its file in bytes (0: none)"},
    {"skew", "its skew in frames"},
    {"byte_offset", "the bytes before its group's first frame in the file"},
    {nullptr, nullptr},
};

PyStructSequence_Desc signal_description = {
    "sigtrove.Signal",
    "What a record's header says of one of its signals.",
    signal_fields,
    15,
};

PyTypeObject *signal_type = nullptr;

PyObject *signal_record(const engine::SignalSpec &s, long record_length) {
    PyRef item = PyRef::steal(PyStructSequence_New(signal_type));
    if (!item) return nullptr;
    PyObject *values[] = {
        engine_text(s.desc.data(), s.desc.size()),
        engine_text(s.fname.data(), s.fname.size()),
        PyLong_FromLong(s.fmt),
        PyLong_FromLong(std::max(s.spf, 1)),
        PyFloat_FromDouble(s.gain),
        PyLong_FromLong(s.baseline),
        PyLong_FromLong(s.adczero),
        PyLong_FromLong(s.adcres),
        PyLong_FromLong(s.initval),
        s.units ? engine_text(s.units->data(), s.units->size()) : PyUnicode_FromString("mV"),
        record_length > 0 ? PyLong_FromLong(record_length) : PyRef::borrow(Py_None).release(),
        s.has_cksum ? PyLong_FromLong(s.cksum) : PyRef::borrow(Py_None).release(),
        PyLong_FromLong(s.bsize),
        PyLong_FromLong(s.skew),
        PyLong_FromLong(s.offset),
    };
    bool ok = true;
    for (Py_ssize_t i = 0; i < 15; ++i) {
        ok = ok && values[i] != nullptr;
        PyStructSequence_SET_ITEM(item.get(), i, values[i] ? values[i] : PyRef::borrow(Py_None).release());
    }
    return ok ? item.release() : nullptr;
}

PyObject *datetime_module() {
    static PyObject *module = nullptr;
    if (module == nullptr) module = PyImport_ImportModule("datetime");
    return module;
}

}  // namespace

bool ready_signal_type() {
    if (signal_type == nullptr) signal_type = PyStructSequence_NewType(&signal_description);
    return signal_type != nullptr;
}

PyObject *signal_type_object() { return reinterpret_cast<PyObject *>(signal_type); }

PyObject *record_time_text(PyObject *obj, PyObject *args, PyObject *kwargs) {
    TimeTextRequest request;
    if (!request.parse(args, kwargs)) return nullptr;
    const engine::RecordDescription *description = description_of(obj);
    if (description == nullptr) return nullptr;
    return time_text_object(request, description->time_basis());
}

PyObject *record_get_signals(PyObject *obj, void *) {
    const engine::RecordDescription *description = description_of(obj);
    if (description == nullptr) return nullptr;
    const engine::Header &header = description->header;
    PyRef signals = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(header.signals.size())));
    if (!signals) return nullptr;
    for (std::size_t i = 0; i < header.signals.size(); ++i) {
        PyObject *item =
            signal_record(header.signals[i],
                          header.signals[i].has_cksum || header.multi_segment ? header.nsamp : header.signals[i].nsamp);
        if (item == nullptr) return nullptr;
        PyTuple_SET_ITEM(signals.get(), static_cast<Py_ssize_t>(i), item);
    }
    return signals.release();
}

PyObject *record_get_comments(PyObject *obj, void *) {
    const engine::RecordDescription *description = description_of(obj);
    if (description == nullptr) return nullptr;
    const std::vector<std::string> &comments = description->header.comments;
    PyRef tuple = PyRef::steal(PyTuple_New(static_cast<Py_ssize_t>(comments.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < comments.size(); ++i) {
        PyObject *text = engine_text(comments[i].data(), comments[i].size());
        if (text == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), text);
    }
    return tuple.release();
}

PyObject *record_get_base_datetime(PyObject *obj, void *) {
    const engine::RecordDescription *description = description_of(obj);
    if (description == nullptr) return nullptr;
    const engine::Header &header = description->header;
    if (!header.has_base) Py_RETURN_NONE;
    PyObject *datetime = datetime_module();
    if (datetime == nullptr) return nullptr;
    long long ms = header.base_ms;
    long long days = ms / 86400000;
    ms %= 86400000;
    const int hour = static_cast<int>(ms / 3600000), minute = static_cast<int>(ms / 60000 % 60);
    const int second = static_cast<int>(ms / 1000 % 60), micro = static_cast<int>(ms % 1000) * 1000;
    if (header.base_date == 0) return PyObject_CallMethod(datetime, "time", "iiii", hour, minute, second, micro);
    engine::CalendarDate date = engine::calendar_date(header.base_date + static_cast<long>(days));
    if (date.year < 1 || date.year > 9999) {
        PyErr_Format(PyExc_ValueError, "the base date's year %ld is beyond what datetime holds", date.year);
        return nullptr;
    }
    return PyObject_CallMethod(datetime, "datetime", "iiiiiii", static_cast<int>(date.year), date.month, date.day, hour,
                               minute, second, micro);
}

PyObject *record_get_frame_count(PyObject *obj, void *) {
    const engine::RecordDescription *description = description_of(obj);
    if (description == nullptr) return nullptr;
    if (description->header.nsamp <= 0) Py_RETURN_NONE;
    return PyLong_FromLong(description->header.nsamp);
}

PyObject *record_reduce(PyObject *obj, PyObject *) {
    RecordObject *self = as_record(obj);
    const engine::RecordDescription *description = description_of(obj);
    if (description == nullptr) return nullptr;
    // By where the header was found, so that another process (another working
    // directory) opens the same record; a record on a web server by its URL.
    const bool as_given = engine::is_url(description->name);
    PyRef directory;
    if (!as_given) {
        directory = PyRef::steal(engine_text(description->directory.data(), description->directory.size()));
        if (!directory) return nullptr;
    }
    PyRef path = PyRef::steal(reopening_path(self->location, directory.get(), as_given));
    if (!path) return nullptr;
    if (!self->signals_optional) return Py_BuildValue("(O(O))", reinterpret_cast<PyObject *>(Py_TYPE(obj)), path.get());
    // Made without needing its signals: made so again, by the keyword that said so.
    PyRef copyreg = PyRef::steal(PyImport_ImportModule("copyreg"));
    if (!copyreg) return nullptr;
    PyRef make = PyRef::steal(PyObject_GetAttrString(copyreg.get(), "__newobj_ex__"));
    if (!make) return nullptr;
    return Py_BuildValue("(O(O(O){s:O}))", make.get(), reinterpret_cast<PyObject *>(Py_TYPE(obj)), path.get(),
                         "signals_required", Py_False);
}

}  // namespace sigtrove
