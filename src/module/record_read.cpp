// Record.read: one signal's samples as a list, and the signal numbers and
// names the original operations take.
#include <algorithm>
#include <memory>
#include <new>

#include "errors/error_state.h"
#include "record/frame_input.h"
#include "record_object.h"
#include "signals/array_sink.h"
#include "signals/sample_kernels.h"
#include "sigtrove.h"

#include "wfdb/wfdb.h"

namespace sigtrove {

namespace {

// A signal number (type exactly int) or a signal name (type exactly str) as a number.
int signal_number_impl(PyObject *obj, PyObject *signal_id) {
    RecordObject *self = as_record(obj);
    if (PyLong_CheckExact(signal_id)) {
        int overflow = 0;
        long number = PyLong_AsLongAndOverflow(signal_id, &overflow);
        if (number == -1 && PyErr_Occurred()) return -1;
        if (overflow != 0 || number < 0 || number >= self->nsig) {
            PyErr_SetString(PyExc_ValueError, "invalid signal number");
            return -1;
        }
        return static_cast<int>(number);
    }
    if (PyUnicode_CheckExact(signal_id)) {
        int found = signal_named(*self, signal_id);
        if (found != -1) return found < 0 ? -1 : found;
    }
    PyErr_SetString(PyExc_ValueError, "Wrong signal number or name");
    return -1;
}

// Fills a read's list, block by block: each block's values are converted in a C
// array first (no Python objects), and the list's items are then made from it
// as from any C array, so converting costs next to nothing beside the objects.
class SampleList {
public:
    static constexpr Py_ssize_t block = 8192;

    SampleList(PyObject *list, bool physical, const engine::SignalSpec &info)
        : list_(list),
          physical_(physical),
          // Physical zero is the header's baseline, as for every WFDB reader (the
          // ADC zero is where the converter's range is centred, which need not be
          // it); a sample the record marks invalid (a gap, a missing segment, a
          // signal a segment lacks) has no physical value.
          adczero_(info.adczero) {
        // The conversion runs over repeated copies so that its loop is long enough to vectorise.
        std::fill_n(gain_, kRun, info.gain == 0.0 ? WFDB_DEFGAIN : info.gain);
        std::fill_n(baseline_, kRun, static_cast<double>(info.baseline));
        if (info.edf) {
            const engine::PhysicalScale scale = engine::physical_scale(info);
            edf_ = true;
            std::fill_n(digital_min_, kRun, scale.digital_min);
            std::fill_n(physical_min_, kRun, scale.physical_min);
            std::fill_n(physical_span_, kRun, scale.physical_span);
            std::fill_n(digital_span_, kRun, scale.digital_span);
        }
    }

    // Items [first, first + n) from n samples; `invalid` (EDF signals, physical
    // values) says which lie in a gap.
    bool fill(Py_ssize_t first, const WFDB_Sample *samples, const unsigned char *invalid, Py_ssize_t n) {
        if (physical_ && edf_) {
            // Every stored value of an EDF signal is a sample; its physical value is the EDF definition's.
            engine::edf_physical_runs(samples, static_cast<size_t>(n), edf_coefficients(), kRun, floats_);
            for (Py_ssize_t k = 0; k < n; ++k)
                if (!put(first + k, PyFloat_FromDouble(invalid && invalid[k] ? Py_NAN : floats_[k]))) return false;
        } else if (physical_) {
            engine::physical_runs(samples, static_cast<size_t>(n), baseline_, gain_, kRun, floats_);
            for (Py_ssize_t k = 0; k < n; ++k)
                if (!put(first + k, PyFloat_FromDouble(floats_[k]))) return false;
        } else {
            for (Py_ssize_t k = 0; k < n; ++k)
                if (!put(first + k, PyLong_FromLongLong(static_cast<long long>(samples[k]) - adczero_))) return false;
        }
        return true;
    }

private:
    bool put(Py_ssize_t k, PyObject *item) {
        if (item == nullptr) return false;
        // Storing into a fresh list at an index inside it can not fail.
        PyList_SET_ITEM(list_, k, item);
        return true;
    }

    engine::EdfCoefficients edf_coefficients() const {
        return engine::EdfCoefficients{digital_min_, physical_min_, physical_span_, digital_span_};
    }

    static constexpr size_t kRun = 16;
    PyObject *list_;
    bool physical_;
    bool edf_ = false;
    long long adczero_;
    double gain_[kRun], baseline_[kRun];
    double digital_min_[kRun], physical_min_[kRun], physical_span_[kRun], digital_span_[kRun];
    double floats_[block];
};

// Positions the record's input at sample t: 0, or -1 with InitError raised.
int seek(RecordEngine &engine, WFDB_Time t) {
    int rc = 0;
    {
        engine::ErrorCapture texts;
        try {
            rc = engine.with_input([&](engine::FrameInput &input) { return input.seek(t, true); });
        } catch (const std::bad_alloc &) {
            texts.forward();
            return raise_no_memory();
        }
        texts.forward();
    }
    if (rc < 0) {
        raise_engine_error();
        return -1;
    }
    return 0;
}

// Reads up to `length` samples of `signal` from the record's input into
// `samples`, as that many getvec calls would (stopping at the end of the data);
// false with an exception when the data could not be read.
bool read_block(RecordEngine &engine, int signal, Py_ssize_t length, WFDB_Sample *samples, unsigned char *invalid,
                Py_ssize_t &delivered) {
    engine::SignalRun run;
    {
        engine::ErrorCapture texts;
        try {
            run = engine.with_input(
                [&](engine::FrameInput &input) { return input.read_signal(signal, length, samples, invalid); });
        } catch (const std::bad_alloc &) {
            engine::record_error("getvec: not enough memory\n");
            run = engine::SignalRun{0, -3};
        }
        texts.forward();
    }
    delivered = static_cast<Py_ssize_t>(run.delivered);
    // -1 is the end of the data; a checksum warning (-4) never stops a run.
    if (run.status < -1) {
        raise_engine_error();
        return false;
    }
    return true;
}

PyObject *read_impl(PyObject *obj, PyObject *signal_id, WFDB_Time start, WFDB_Time length, PyObject *correct_gain) {
    RecordObject *self = as_record(obj);
    int signal = record_signal_number(obj, signal_id);
    if (signal < 0 || record_make_current(obj) < 0) return nullptr;
    if (signal >= self->nsig) {
        PyErr_SetString(PyExc_ValueError, "invalid signal number");
        return nullptr;
    }
    RecordEngine &engine = *self->engine;
    const engine::SignalSpec &spec = signal_spec(obj, signal);
    const WFDB_Time n = signal_length(obj, spec);
    // A negative start names no sample: it is refused like one past the end.
    if (start >= n || start < 0) {
        PyErr_Format(PyExc_ValueError, "start index out of range (%ld)", static_cast<long>(n));
        return nullptr;
    }
    if (length < 0) {
        PyErr_SetString(PyExc_ValueError, "invalid length");
        return nullptr;
    }
    if (length == 0) length = n;
    if (length > n - start) length = n - start;  // never computes start + length
    if (seek(engine, start) < 0) return nullptr;
    unsigned long positioned = engine.epoch();
    // A header may claim far more frames than its file holds: past a first block
    // the list grows (doubling) only as frames arrive.
    constexpr Py_ssize_t kFirstSlots = Py_ssize_t{1} << 20;
    Py_ssize_t slots = std::min(static_cast<Py_ssize_t>(length), kFirstSlots);
    PyRef list = PyRef::steal(PyList_New(slots));
    if (!list) return nullptr;
    int as_float = PyObject_IsTrue(correct_gain);
    if (as_float < 0) return nullptr;
    std::unique_ptr<SampleList> items(new (std::nothrow) SampleList(list.get(), as_float != 0, spec));
    if (!items) return PyErr_NoMemory();
    std::unique_ptr<WFDB_Sample[]> samples(new (std::nothrow) WFDB_Sample[SampleList::block]);
    if (!samples) return PyErr_NoMemory();
    // Physical values of an EDF signal: which samples lie in a gap (every stored value is a sample).
    std::unique_ptr<unsigned char[]> invalid;
    if (as_float && spec.edf) {
        invalid.reset(new (std::nothrow) unsigned char[SampleList::block]);
        if (!invalid) return PyErr_NoMemory();
    }
    Py_ssize_t done = 0;
    while (done < static_cast<Py_ssize_t>(length)) {
        // Python code (the truth test, a finalizer run while the last block's
        // objects were made) may have opened another record, closing this one's
        // signals, or read this one elsewhere: the input must be open and stand
        // where this read stands before reading on.
        if (!is_current(obj) || engine.epoch() != positioned) {
            if (record_make_current(obj) < 0 || seek(engine, start + done) < 0) return nullptr;
        }
        const Py_ssize_t wanted = std::min<Py_ssize_t>(SampleList::block, static_cast<Py_ssize_t>(length) - done);
        if (done + wanted > slots) {
            Py_ssize_t more = std::min(slots, static_cast<Py_ssize_t>(length) - slots);
            PyRef empty = PyRef::steal(PyList_New(more));
            if (!empty || PyList_SetSlice(list.get(), slots, slots, empty.get()) < 0) return nullptr;
            slots += more;
            if (!is_current(obj) || engine.epoch() != positioned) continue;
        }
        Py_ssize_t delivered = 0;
        if (!read_block(engine, signal, wanted, samples.get(), invalid.get(), delivered)) return nullptr;
        positioned = engine.epoch();
        if (!items->fill(done, samples.get(), invalid.get(), delivered)) return nullptr;
        done += delivered;
        if (delivered < wanted) break;  // the data end early: the list ends there too
    }
    if (done < slots && PyList_SetSlice(list.get(), done, slots, nullptr) < 0) return nullptr;
    return list.release();
}

}  // namespace

int signal_named(const RecordObject &self, PyObject *name) {
    if (!PyTuple_Check(self.signal_names)) return -1;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(self.signal_names); ++i) {
        int equal = PyObject_RichCompareBool(name, PyTuple_GET_ITEM(self.signal_names, i), Py_EQ);
        if (equal < 0) return -2;
        if (equal) return static_cast<int>(i);
    }
    return -1;
}

int record_signal_number(PyObject *obj, PyObject *signal_id) {
    return traced_status("_sigtrove.Record.signal_number", signal_number_impl(obj, signal_id));
}

PyObject *record_read(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"signal_id", "start", "length", "correct_gain", nullptr};
    static_assert(sizeof(WFDB_Time) == sizeof(long), "WFDB_Time is parsed as a C long");
    PyObject *signal_id = nullptr;
    long start = 0, length = 0;
    PyObject *correct_gain = globals.true_object;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|llO:read", const_cast<char **>(keywords), &signal_id, &start,
                                     &length, &correct_gain))
        return nullptr;
    EngineAccess access;
    return traced("_sigtrove.Record.read", read_impl(obj, signal_id, start, length, correct_gain));
}

}  // namespace sigtrove
