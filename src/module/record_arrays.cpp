// Record.frames and Record.signal: windows of a record as numpy arrays, read by
// the record's own engine object with the interpreter lock released; and
// Record.window, the frame numbers a window's start and stop name; and
// Record.readable_frames, how many frames a whole read delivers. They take
// neither the module lock nor the working directory: reads of different records
// run in parallel, and nothing the original operations do can disturb them.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine_errors.h"
#include "multi_segment/multi_segment_source.h"
#include "numpy_arrays.h"
#include "record_object.h"
#include "signals/array_sink.h"
#include "time_texts.h"

namespace sigtrove {

namespace {

using engine::SampleRate;
using engine::SampleType;
using engine::SampleValues;

// Bits a stored value of a format can need (format 8 accumulates differences).
int format_bits(int fmt) {
    switch (fmt) {
        case 0: return 16;  // only invalid samples
        case 80:
        case 508: return 8;
        case 310:
        case 311: return 10;
        case 212: return 12;
        case 16:
        case 61:
        case 160:
        case 516: return 16;
        case 24:
        case 524: return 24;
        default: return 32;
    }
}

// Bits a stored value of a record's signal can need. The segments of a variable
// layout are rescaled to the layout's gain and baseline, beyond any one format.
int stored_bits(const engine::Header &header, int signal) {
    if (engine::has_layout_segment(header)) return 32;
    return format_bits(header.signals[static_cast<std::size_t>(signal)].fmt);
}

// What a read of the record object needs to know of it, taken under its lock.
struct RecordFacts {
    long long frame_count = -1;       // the header's length, or what the data hold; -1 unknown
    long long deliverable = -1;       // at most this many frames from 0; -1 unknown
    std::vector<std::size_t> opened;  // header signal numbers of the object's signals
};

bool record_facts(RecordEngine &engine, RecordFacts &facts) {
    engine::Status status = engine.with_record([&](engine::Record &record) {
        facts.frame_count = record.frame_count();
        facts.deliverable = record.deliverable_frames();
        facts.opened = record.opened();
        return engine::Status();
    });
    if (!status.ok()) {
        raise_failure(status);
        return false;
    }
    return true;
}

// The record's facts, and the frames [start, stop) that start and stop name (frame
// numbers or times, as frames() takes them).
bool frame_window(RecordEngine &engine, PyObject *start_arg, PyObject *stop_arg, RecordFacts &facts, long long &start,
                  long long &stop) {
    return record_facts(engine, facts) && window_arguments(start_arg, stop_arg, engine.description().time_basis(),
                                                           facts.frame_count, true, start, stop);
}

// A signal given by number (anything with __index__) or by name (the first signal
// so described); -1 with ValueError naming it when the record has no such signal.
int signal_of(RecordObject *self, PyObject *item) {
    if (PyUnicode_Check(item)) {
        int found = signal_named(*self, item);
        if (found != -1) return found < 0 ? -1 : found;
        PyRef shown = PyRef::steal(shown_record_name(self->location.record));
        if (shown) PyErr_Format(PyExc_ValueError, "record %S has no signal named %R", shown.get(), item);
        return -1;
    }
    PyRef index = PyRef::steal(PyNumber_Index(item));
    if (!index) {
        PyErr_Format(PyExc_TypeError, "a signal is a number or a name, not %.200s", Py_TYPE(item)->tp_name);
        return -1;
    }
    int overflow = 0;
    long number = PyLong_AsLongAndOverflow(index.get(), &overflow);
    if (number == -1 && PyErr_Occurred()) return -1;
    if (overflow != 0 || number < 0 || number >= self->nsig) {
        PyRef shown = PyRef::steal(shown_record_name(self->location.record));
        if (shown)
            PyErr_Format(PyExc_ValueError, "record %S has no signal %R (it has %d)", shown.get(), item, self->nsig);
        return -1;
    }
    return static_cast<int>(number);
}

// The signals argument of frames: None for all, else a sequence of numbers and
// names (a single number or name alone is taken as one signal).
bool signals_argument(RecordObject *self, PyObject *signals, std::vector<int> &out) {
    if (signals == nullptr || signals == Py_None) {
        for (int i = 0; i < self->nsig; ++i) out.push_back(i);
        return true;
    }
    if (PyUnicode_Check(signals) || PyIndex_Check(signals)) {
        int s = signal_of(self, signals);
        if (s < 0) return false;
        out.push_back(s);
        return true;
    }
    PyRef items = PyRef::steal(PySequence_Fast(signals, "signals must be None, or a sequence of numbers and names"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        int s = signal_of(self, PySequence_Fast_GET_ITEM(items.get(), i));
        if (s < 0) return false;
        out.push_back(s);
    }
    return true;
}

// The type and values an array is filled with, from physical= and dtype=.
struct ArrayKind {
    SampleType type = SampleType::float64;
    SampleValues values = SampleValues::physical;
};

bool array_kind(PyObject *physical_arg, PyObject *dtype, const engine::Header &header, const std::vector<int> &chosen,
                ArrayKind &kind) {
    int physical = physical_arg ? PyObject_IsTrue(physical_arg) : 1;
    if (physical < 0) return false;
    kind.values = physical ? SampleValues::physical : SampleValues::stored;
    int bits = 0;
    for (int s : chosen) bits = std::max(bits, stored_bits(header, s));
    if (dtype == nullptr || dtype == Py_None) {
        kind.type = physical ? SampleType::float64 : bits <= 16 ? SampleType::int16 : SampleType::int32;
        return true;
    }
    std::optional<SampleType> type = sample_type_of(dtype);
    if (!type) return false;
    kind.type = *type;
    if (physical && kind.type != SampleType::float32 && kind.type != SampleType::float64) {
        PyErr_Format(PyExc_ValueError, "physical values need a float dtype (float64 or float32), not %s",
                     numpy_type_name(kind.type));
        return false;
    }
    int room = kind.type == SampleType::int16 ? 16 : kind.type == SampleType::float32 ? 24 : 64;
    if (!physical && bits > room) {
        PyErr_Format(PyExc_ValueError, "stored values of these signals need %d bits: they do not fit %s", bits,
                     numpy_type_name(kind.type));
        return false;
    }
    return true;
}

std::vector<engine::PhysicalScale> scales_of(const engine::Header &header, const std::vector<int> &chosen) {
    // A signal of an EDF file converts by the EDF definition, where every stored value is a sample.
    std::vector<engine::PhysicalScale> scales;
    for (int s : chosen) scales.push_back(engine::physical_scale(header.signals[static_cast<std::size_t>(s)]));
    return scales;
}

// The record object's signal numbers for header signals (the object opens them all).
bool object_signals(const RecordFacts &facts, const std::vector<int> &chosen, std::vector<std::size_t> &out) {
    for (int s : chosen) {
        auto at = std::find(facts.opened.begin(), facts.opened.end(), static_cast<std::size_t>(s));
        if (at == facts.opened.end()) {
            PyErr_Format(globals.init_error, "signal %d of the record can no longer be read\n", s);
            return false;
        }
        out.push_back(static_cast<std::size_t>(at - facts.opened.begin()));
    }
    return true;
}

// Frames [start, stop) of the chosen signals (object signal numbers) into a new
// array of `columns` columns (none: one dimension), `per_frame` rows per frame.
// The array is sized by what the data can deliver, not by what the window or a
// header claims; it grows only when the data's size could not be told.
PyObject *read_window(RecordEngine &engine, const RecordFacts &facts, long long start, long long stop,
                      const std::vector<std::size_t> &signals, std::optional<Py_ssize_t> columns, Py_ssize_t per_frame,
                      SampleRate rate, const ArrayKind &kind, const std::vector<engine::PhysicalScale> &scales) {
    const long long wanted = stop - start;
    long long capacity = wanted;
    if (facts.deliverable >= 0)
        capacity = std::min(capacity, std::max(0LL, facts.deliverable - start));
    else
        capacity = std::min(capacity, 1LL << 16);
    const Py_ssize_t width = columns.value_or(1);
    if (capacity > PY_SSIZE_T_MAX / std::max<Py_ssize_t>(width * per_frame, 1)) return PyErr_NoMemory();
    auto shape = [&](long long frames) { return static_cast<Py_ssize_t>(frames) * per_frame; };
    PyRef array = PyRef::steal(columns ? new_array({shape(capacity), width}, kind.type)
                                       : new_array({shape(capacity)}, kind.type));
    if (!array) return nullptr;
    const std::size_t row_bytes = engine::sample_size(kind.type) * static_cast<std::size_t>(width * per_frame);
    long long got = 0;
    for (;;) {
        engine::BulkOutcome outcome;
        engine::Status status;
        {
            ArrayMemory memory(array.get());
            if (!memory.ok()) return nullptr;
            auto *first = static_cast<unsigned char *>(memory.data()) + static_cast<std::size_t>(got) * row_bytes;
            auto sink =
                engine::make_array_sink(kind.type, kind.values, first, static_cast<std::size_t>(width), rate, scales);
            status = engine.with_record([&](engine::Record &record) {
                return record.read(start + got, capacity - got, signals, *sink, outcome);
            });
        }
        if (!status.ok()) return raise_failure(status);
        got += outcome.frames;
        if (got == wanted || outcome.stop != 0) break;
        // The data hold more than their size told: read on into a larger array.
        capacity = std::min(wanted, std::max(capacity * 2, capacity + 1));
        if (!resize_rows(array.get(), shape(capacity), columns ? width : -1)) return nullptr;
    }
    if (got < capacity && !resize_rows(array.get(), shape(got), columns ? width : -1)) return nullptr;
    return array.release();
}

}  // namespace

PyObject *record_frames(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"start", "stop", "signals", "physical", "dtype", nullptr};
    PyObject *start_arg = nullptr, *stop_arg = nullptr, *signals_arg = nullptr, *physical = nullptr, *dtype = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OOOOO:frames", const_cast<char **>(keywords), &start_arg,
                                     &stop_arg, &signals_arg, &physical, &dtype))
        return nullptr;
    RecordObject *self = as_record(obj);
    RecordEngine *engine = opened_engine(obj);
    if (engine == nullptr) return nullptr;
    const engine::Header &header = engine->description().header;
    std::vector<int> chosen;
    ArrayKind kind;
    if (!signals_argument(self, signals_arg, chosen) || !array_kind(physical, dtype, header, chosen, kind))
        return nullptr;
    RecordFacts facts;
    long long start = 0, stop = 0;
    if (!frame_window(*engine, start_arg, stop_arg, facts, start, stop)) return nullptr;
    std::vector<std::size_t> signals;
    if (!object_signals(facts, chosen, signals)) return nullptr;
    return read_window(*engine, facts, start, stop, signals, static_cast<Py_ssize_t>(signals.size()), 1,
                       SampleRate::frame, kind, scales_of(header, chosen));
}

PyObject *record_window(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"start", "stop", nullptr};
    PyObject *start_arg = nullptr, *stop_arg = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO:window", const_cast<char **>(keywords), &start_arg, &stop_arg))
        return nullptr;
    RecordEngine *engine = opened_engine(obj);
    if (engine == nullptr) return nullptr;
    RecordFacts facts;
    long long start = 0, stop = 0;
    if (!frame_window(*engine, start_arg, stop_arg, facts, start, stop)) return nullptr;
    // No stop and no known length: the window runs to wherever the data end.
    const bool open_ended = facts.frame_count < 0 && (stop_arg == nullptr || stop_arg == Py_None);
    if (open_ended) return Py_BuildValue("(LO)", start, Py_None);
    // A window past a known end is the empty one at the end.
    if (facts.frame_count >= 0) {
        start = std::min(start, facts.frame_count);
        stop = std::min(stop, facts.frame_count);
    }
    return Py_BuildValue("(LL)", start, std::max(stop, start));
}

PyObject *record_get_readable_frames(PyObject *obj, void *) {
    RecordEngine *engine = opened_engine(obj);
    if (engine == nullptr) return nullptr;
    RecordFacts facts;
    if (!record_facts(*engine, facts)) return nullptr;
    if (facts.deliverable < 0) Py_RETURN_NONE;
    return PyLong_FromLongLong(facts.deliverable);
}

PyObject *record_signal(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"signal", "start", "stop", "physical", "dtype", nullptr};
    PyObject *signal_arg = nullptr, *start_arg = nullptr, *stop_arg = nullptr, *physical = nullptr, *dtype = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOO:signal", const_cast<char **>(keywords), &signal_arg,
                                     &start_arg, &stop_arg, &physical, &dtype))
        return nullptr;
    RecordObject *self = as_record(obj);
    RecordEngine *engine = opened_engine(obj);
    if (engine == nullptr) return nullptr;
    const engine::Header &header = engine->description().header;
    int s = signal_of(self, signal_arg);
    if (s < 0) return nullptr;
    std::vector<int> chosen{s};
    ArrayKind kind;
    if (!array_kind(physical, dtype, header, chosen, kind)) return nullptr;
    RecordFacts facts;
    if (!record_facts(*engine, facts)) return nullptr;
    // Positions count this signal's own samples: spf of them in every frame.
    const long long spf = std::max(header.signals[static_cast<std::size_t>(s)].spf, 1);
    engine::TimeBasis basis = engine->description().time_basis();
    basis.freq *= static_cast<double>(spf);
    const long long samples = facts.frame_count >= 0 ? facts.frame_count * spf : -1;
    long long start = 0, stop = 0;
    if (!window_arguments(start_arg, stop_arg, basis, samples, true, start, stop)) return nullptr;
    std::vector<std::size_t> signals;
    if (!object_signals(facts, chosen, signals)) return nullptr;
    // Whole frames are read; the samples before start and from stop on are cut off by a view.
    const long long first_frame = start / spf;
    const long long end_frame = stop / spf + (stop % spf != 0 ? 1 : 0);
    PyRef frames =
        PyRef::steal(read_window(*engine, facts, first_frame, std::max(end_frame, first_frame), signals, std::nullopt,
                                 static_cast<Py_ssize_t>(spf), SampleRate::own, kind, scales_of(header, chosen)));
    if (!frames || spf == 1) return frames.release();
    Py_ssize_t length = PyObject_Length(frames.get());
    if (length < 0) return nullptr;
    const Py_ssize_t from = static_cast<Py_ssize_t>(start - first_frame * spf);
    const Py_ssize_t to = std::min<Py_ssize_t>(length, static_cast<Py_ssize_t>(stop - first_frame * spf));
    PyRef low = PyRef::steal(PyLong_FromSsize_t(from));
    PyRef high = PyRef::steal(PyLong_FromSsize_t(std::max(to, from)));
    if (!low || !high) return nullptr;
    PyRef slice = PyRef::steal(PySlice_New(low.get(), high.get(), nullptr));
    if (!slice) return nullptr;
    return PyObject_GetItem(frames.get(), slice.get());
}

}  // namespace sigtrove
