// Record: an opened WFDB record and its original operations (construction,
// read, signal_info, str, close), each on the object's own engine record: the
// header is read once, by the construction, files are found from where the
// record was named, and waits on files and servers let other threads run.
#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "errors/error_state.h"
#include "record/frame_input.h"
#include "record_object.h"
#include "signals/sample_kernels.h"
#include "sigtrove.h"
#include "texts/hidden_credentials.h"
#include "writing.h"

#include <structmember.h>
#include "wfdb/wfdb.h"

namespace sigtrove {

namespace {

// The most samples per frame among the signals of `header`.
int largest_spf(const engine::Header &header) {
    int spf = 1;
    for (const engine::SignalSpec &signal : header.signals) spf = std::max(spf, signal.spf);
    return spf;
}

// The record's sampling frequency as the record reports it: its frame frequency,
// times its most samples per frame when samples are read in high resolution (a
// multi-segment master's own lines list no signals).
double reported_frequency(const RecordEngine &engine) {
    const engine::Header &header = engine.description().header;
    const double frame = header.frame_frequency();
    if (!engine.high_resolution() || header.multi_segment) return frame;
    return frame * largest_spf(header);
}

// What the original operations' time texts count by: the record's sampling rate
// (in high resolution, of its fastest signal) and base time.
engine::TimeBasis reported_time_basis(const RecordEngine &engine) {
    const engine::Header &header = engine.description().header;
    double freq = header.frame_frequency();
    if (engine.high_resolution()) freq *= largest_spf(header);
    return engine::TimeBasis{freq, header.base_ms, header.base_date};
}

// Raises what an engine call that ran out of memory gives: MemoryError.
int no_memory() {
    PyErr_NoMemory();
    return -1;
}

// The signals of an object whose construction read its header.
RecordEngine *engine_of(PyObject *obj) {
    RecordEngine *engine = as_record(obj)->engine;
    if (engine == nullptr) PyErr_SetString(PyExc_ValueError, "the record was not opened");
    return engine;
}

// Opens the record's signals unless they are open, and makes the record current.
int open_signals(PyObject *obj) {
    RecordObject *self = as_record(obj);
    RecordEngine *engine = engine_of(obj);
    if (engine == nullptr) return -1;
    // An open replaces whatever the original operations held: no object is
    // current until it succeeds.
    set_current(nullptr);
    int n = 0;
    {
        engine::ErrorCapture texts;
        try {
            n = engine->with_input([&](engine::FrameInput &) { return engine->open_signals(); });
        } catch (const std::bad_alloc &) {
            texts.forward();
            return no_memory();
        }
        // The texts go where the C interface records them: the last one is the failure's, and verbose mode prints them.
        texts.forward();
    }
    if (n < self->nsig) {
        // Fewer signals than the header lists (or none): refuse rather than
        // leave signals unread that the header promises.
        if (n > 0) {
            engine->close();
            PyErr_Format(globals.init_error, "isigopen: only %d of the %d signals of record %s are readable\n", n,
                         self->nsig, engine::without_credentials(engine->description().name).c_str());
        } else {
            raise_engine_error();
        }
        return -1;
    }
    hold_signals(obj);
    set_current(obj);
    last_time_basis() = reported_time_basis(*engine);
    return 0;
}

// The internal operation reopen: makes the record current, opening its signals
// when another object's open closed them.
int reopen(PyObject *obj) {
    EngineAccess access;  // also reached from other extension modules through the capsule
    if (is_current(obj)) return 0;
    return traced_status("_sigtrove.Record.reopen", open_signals(obj));
}

int is_current_op(PyObject *obj) { return is_current(obj) ? 1 : 0; }

// A fresh Record of `type` with every object field holding None. Fields are set
// here rather than in tp_alloc, which Python subclasses do not inherit.
PyRef allocate_record(PyTypeObject *type) {
    PyRef obj = PyRef::steal(type->tp_alloc(type, 0));
    if (!obj) return obj;
    RecordObject *self = as_record(obj.get());
    self->ops = &record_ops;
    self->location.init();
    self->signal_names = PyRef::borrow(Py_None).release();
    return obj;
}

// Reads the header of `name` along `where` into a description. 0, or the engine's
// failure code after its texts were recorded as the C interface records them.
int describe(const std::string &name, engine::SearchLocation &where,
             std::shared_ptr<const engine::RecordDescription> &description) {
    engine::ErrorCapture texts;
    int rc = 0;
    Py_BEGIN_ALLOW_THREADS
    try {
        rc = engine::describe_record(name, where, description);
    } catch (const std::bad_alloc &) {
        engine::record_error("WFDB: can't allocate memory to read the header of record %s\n", name.c_str());
        rc = -2;
    }
    Py_END_ALLOW_THREADS
    texts.forward();
    return rc;
}

// Construction after the argument parsing: `path` is the record path as a str.
PyObject *make_record(PyTypeObject *type, PyRef path, bool signals_required) {
    PyRef obj = allocate_record(type);
    if (!obj) return nullptr;
    RecordObject *self = as_record(obj.get());
    self->location.keep(std::move(path));
    self->signals_optional = !signals_required;
    std::string name;
    engine::SearchLocation where;
    if (!self->location.locate(name, where)) return nullptr;

    // Reading a header replaces what the original operations held open.
    set_current(nullptr);
    std::shared_ptr<const engine::RecordDescription> description;
    if (describe(name, where, description) < 0) {
        // A header that can not be read leaves no frequency behind, rather than the previous record's.
        last_time_basis().freq = 0;
        return raise_engine_error();
    }
    const int mode = engine::getvec_mode_from_environment();
    RecordEngine *engine = new (std::nothrow) RecordEngine(description, mode);
    if (engine == nullptr) return PyErr_NoMemory();
    self->engine = engine;
    const engine::Header &header = description->header;
    self->frequency = reported_frequency(*engine);
    last_time_basis() = reported_time_basis(*engine);
    if (header.nsig <= 0) return raise_engine_error();
    self->nsig = header.nsig;
    if (open_signals(obj.get()) < 0) {
        if (signals_required) return traced("_sigtrove.Record.reopen", nullptr);
        // Kept without its signals: only what needs them fails, when it is asked for.
        PyErr_Clear();
    }

    PyRef names = PyRef::steal(PyTuple_New(self->nsig));
    if (!names) return nullptr;
    for (int i = 0; i < self->nsig; ++i) {
        const std::string &desc = header.signals[static_cast<size_t>(i)].desc;
        PyObject *text = engine_text(desc.data(), desc.size());
        if (text == nullptr) return nullptr;
        PyTuple_SET_ITEM(names.get(), i, text);
    }
    replace_field(self->signal_names, std::move(names));
    return obj.release();
}

// Takes the keyword-only signals_required out of `kwargs` (into `rest`, a copy
// without it), so that every other call is parsed, and refused with the parser's
// texts, exactly as a constructor of one argument always was.
bool take_signals_required(PyObject *kwargs, PyRef &rest, bool &signals_required) {
    signals_required = true;
    if (kwargs == nullptr) return true;
    PyObject *flag = PyDict_GetItemString(kwargs, "signals_required");  // borrowed
    if (flag == nullptr) return true;
    int truth = PyObject_IsTrue(flag);
    if (truth < 0) return false;
    signals_required = truth != 0;
    rest = PyRef::steal(PyDict_Copy(kwargs));
    return rest && PyDict_DelItemString(rest.get(), "signals_required") == 0;
}

PyObject *record_new(PyTypeObject *type, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"record", nullptr};
    PyObject *arg = nullptr;
    bool signals_required = true;
    PyRef rest;
    if (!take_signals_required(kwargs, rest, signals_required)) return nullptr;
    if (rest) kwargs = rest.get();
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:Record", const_cast<char **>(keywords), &arg)) return nullptr;
    // The path's conversion stands in for the argument parser: its errors name no operation.
    PyRef path = PyRef::steal(path_argument(arg));
    if (!path) return nullptr;
    EngineAccess access;
    return traced("_sigtrove.Record.__new__", make_record(type, std::move(path), signals_required));
}

int record_traverse(PyObject *obj, visitproc visit, void *arg) {
    RecordObject *self = as_record(obj);
    if (int rc = self->location.traverse(visit, arg)) return rc;
    Py_VISIT(self->signal_names);
    return 0;
}

int record_clear(PyObject *obj) {
    RecordObject *self = as_record(obj);
    self->location.clear();
    replace_field(self->signal_names, PyRef::borrow(Py_None));
    return 0;
}

void record_dealloc(PyObject *obj) {
    RecordObject *self = as_record(obj);
    PyObject_GC_UnTrack(obj);
    // Without the engine lock: destruction may run on any thread at any moment,
    // also at exit while a daemon thread holds the lock, and must never wait.
    // Emptying the slot of this object disturbs no operation, since none can be
    // running on an object that is being destroyed.
    forget_current(obj);
    forget_holder(obj);
    self->location.release();
    Py_CLEAR(self->signal_names);
    delete self->engine;
    self->engine = nullptr;
    Py_TYPE(obj)->tp_free(obj);
}

// ---- signal selection and sample reading

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
    if (PyUnicode_CheckExact(signal_id) && PyTuple_Check(self->signal_names)) {
        int found = PySequence_Contains(self->signal_names, signal_id);
        if (found < 0) return -1;
        if (found) {
            Py_ssize_t count = PyTuple_GET_SIZE(self->signal_names);
            for (Py_ssize_t i = 0; i < count; ++i) {
                int equal = PyObject_RichCompareBool(signal_id, PyTuple_GET_ITEM(self->signal_names, i), Py_EQ);
                if (equal < 0) return -1;
                if (equal) return static_cast<int>(i);
            }
        }
    }
    PyErr_SetString(PyExc_ValueError, "Wrong signal number or name");
    return -1;
}

int signal_number(PyObject *obj, PyObject *signal_id) {
    return traced_status("_sigtrove.Record.signal_number", signal_number_impl(obj, signal_id));
}

// Makes the record current (reopening it if need be), for an operation that needs its signals.
int make_current(PyObject *obj) {
    if (is_current(obj)) return 0;
    return traced_status("_sigtrove.Record.reopen", open_signals(obj));
}

// What a header's line for one signal says, as the original operations show it.
const engine::SignalSpec &signal_spec(PyObject *obj, int signal) {
    return as_record(obj)->engine->description().header.signals[static_cast<size_t>(signal)];
}

// The sample count the original operations hold a signal to: the header's
// length for a signal whose line has a checksum, else 0.
long signal_length(const engine::SignalSpec &spec) { return spec.nsamp; }

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
    }

    // Items [first, first + n) from n samples.
    bool fill(Py_ssize_t first, const WFDB_Sample *samples, Py_ssize_t n) {
        if (physical_) {
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

    static constexpr size_t kRun = 16;
    PyObject *list_;
    bool physical_;
    long long adczero_;
    double gain_[kRun], baseline_[kRun];
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
            return no_memory();
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
bool read_block(RecordEngine &engine, int signal, Py_ssize_t length, WFDB_Sample *samples, Py_ssize_t &delivered) {
    engine::SignalRun run;
    {
        engine::ErrorCapture texts;
        try {
            run = engine.with_input(
                [&](engine::FrameInput &input) { return input.read_signal(signal, length, samples); });
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
    int signal = signal_number(obj, signal_id);
    if (signal < 0 || make_current(obj) < 0) return nullptr;
    if (signal >= self->nsig) {
        PyErr_SetString(PyExc_ValueError, "invalid signal number");
        return nullptr;
    }
    RecordEngine &engine = *self->engine;
    const engine::SignalSpec &spec = signal_spec(obj, signal);
    const WFDB_Time n = signal_length(spec);
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
    Py_ssize_t done = 0;
    while (done < static_cast<Py_ssize_t>(length)) {
        // Python code (the truth test, a finalizer run while the last block's
        // objects were made) may have opened another record, closing this one's
        // signals, or read this one elsewhere: the input must be open and stand
        // where this read stands before reading on.
        if (!is_current(obj) || engine.epoch() != positioned) {
            if (make_current(obj) < 0 || seek(engine, start + done) < 0) return nullptr;
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
        if (!read_block(engine, signal, wanted, samples.get(), delivered)) return nullptr;
        positioned = engine.epoch();
        if (!items->fill(done, samples.get(), delivered)) return nullptr;
        done += delivered;
        if (delivered < wanted) break;  // the data end early: the list ends there too
    }
    if (done < slots && PyList_SetSlice(list.get(), done, slots, nullptr) < 0) return nullptr;
    return list.release();
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

// ---- signal information and the record description

// Sets dict[key] = value, taking over the new reference `value`.
bool set_item(PyObject *dict, const char *key, PyObject *value) {
    PyRef owned = PyRef::steal(value);
    return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

// The record's time text of sample t, as the C library's timstr writes it.
PyObject *time_text_of(PyObject *obj, WFDB_Time t) {
    char text[128];
    engine::format_time_text(t, reported_time_basis(*as_record(obj)->engine), false, text, sizeof text);
    return engine_text(text);
}

PyObject *text_of(const std::string &text) { return engine_text(text.data(), text.size()); }

PyObject *units_text(const engine::SignalSpec &info) {
    return info.units ? text_of(*info.units) : PyUnicode_FromString("mV");
}

PyObject *signal_info_impl(PyObject *obj, PyObject *signal_id) {
    RecordObject *self = as_record(obj);
    int signal = signal_number(obj, signal_id);
    if (signal < 0 || make_current(obj) < 0) return nullptr;
    const engine::SignalSpec &info = signal_spec(obj, signal);
    const long nsamp = signal_length(info);
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

PyObject *record_signal_info(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"signal_id", nullptr};
    PyObject *signal_id = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:signal_info", const_cast<char **>(keywords), &signal_id))
        return nullptr;
    EngineAccess access;
    return traced("_sigtrove.Record.signal_info", signal_info_impl(obj, signal_id));
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
    if (make_current(obj) < 0) return nullptr;
    const int nsig = self->nsig;
    Pieces p;
    bool ok = p.add("Record %s\n", PyRef::borrow(self->location.record).release()) &&
              p.add("Starting time:  %s\n", time_text_of(obj, 0)) &&
              p.add("Sampling frequency: %g Hz\n", self->frequency) && p.add("%d signals\n", nsig);
    for (int i = 0; ok && i < nsig; ++i) {
        const engine::SignalSpec &info = signal_spec(obj, i);
        const long nsamp = signal_length(info);
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

PyObject *record_str(PyObject *obj) {
    EngineAccess access;
    return traced("_sigtrove.Record.__str__", record_str_impl(obj));
}

PyObject *record_close(PyObject *self, PyObject *) {
    EngineAccess access;
    if (is_current(self)) set_current(nullptr);
    Py_RETURN_NONE;
}

PyObject *record_repr(PyObject *self) {
    return traced("_sigtrove.Record.__repr__",
                  PyUnicode_FromFormat("sigtrove.Record(%S)", as_record(self)->location.record_path));
}

PyObject *record_get_name(PyObject *self, void *) { return PyRef::borrow(as_record(self)->location.record).release(); }

PyMemberDef record_members[] = {
    {"record", T_OBJECT, offsetof(RecordObject, location.record), READONLY, nullptr},
    {"basedir", T_OBJECT, offsetof(RecordObject, location.basedir), READONLY, nullptr},
    {"nsig", T_INT, offsetof(RecordObject, nsig), READONLY, nullptr},
    {"frequency", T_DOUBLE, offsetof(RecordObject, frequency), READONLY, nullptr},
    {"signal_names", T_OBJECT, offsetof(RecordObject, signal_names), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

#define SIGTROVE_METHOD(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

PyGetSetDef record_getset[] = {
    {"name", record_get_name, nullptr, nullptr, nullptr},
    {"signals", record_get_signals, nullptr,
     "What the header says of each signal, in signal order: a tuple of read-only records (name, file, "
     "format, samples_per_frame, gain, baseline, adc_zero, adc_resolution, initial_value, units, length, "
     "checksum, block_size, skew, byte_offset).",
     nullptr},
    {"comments", record_get_comments, nullptr,
     "The header's comment lines, in order, without their '#' and the blanks around it.", nullptr},
    {"base_datetime", record_get_base_datetime, nullptr,
     "When the record starts: a datetime.datetime when the header gives a base date, a datetime.time when "
     "it gives only a time of day, None when it gives neither.",
     nullptr},
    {"frame_count", record_get_frame_count, nullptr,
     "The record's length in frames as its header gives it; None when the header does not.", nullptr},
    {"readable_frames", record_get_readable_frames, nullptr,
     "How many frames frames() delivers from frame 0, known before reading them: the header's length, less "
     "the frames a skew cuts off and no more than the signal files hold, or for a record whose header gives "
     "no length what its signal files hold. None when the files can not tell (a FLAC stream that does not "
     "state its length).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef record_methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_read)), METH_VARARGS | METH_KEYWORDS,
     "\n        read(signal_id, start=0, length=0, correct_gain=True) -> list\n        \n            signal_id    - "
     "signal number or signal name in record\n            start        - index in sample intervals from the "
     "beginning of the record \n            length       - sample count, if 0 - read all annotations\n           "
     " correct_gain - return values in real physical units instead of sampled data file values\n        "},
    {"annotation", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_annotation)),
     METH_VARARGS | METH_KEYWORDS,
     "\n        annotation(name='atr', stat=STAT_READ) -> Annotation\n            name - annotation name (file "
     "extension)\n\n        Returns Annotation object for record.\n        "},
    {"signal_info", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_signal_info)),
     METH_VARARGS | METH_KEYWORDS,
     "\n        signal_info(signal_id) -> dict\n            signal_id   - signal number or signal name in "
     "record\n\n        Returns dictionary with information about specified signal.\n        "},
    {"close", record_close, METH_NOARGS, "\n        Close record files.\n        "},
    {"frames", SIGTROVE_METHOD(record_frames), METH_VARARGS | METH_KEYWORDS,
     "frames(start=0, stop=None, signals=None, physical=True, dtype=None) -> numpy.ndarray\n\n"
     "Frames [start, stop) of the record as a C-contiguous array of shape (frames, signals), one row\n"
     "per frame (a signal with several samples per frame gives their mean, as WFDB's getvec does).\n\n"
     "start, stop  a frame number, or a time as the WFDB tools take it: \"0:10\", \"1:02:03.5\",\n"
     "             \"[10:00:00 01/01/2000]\", \"s1200\" (a sample number), \"e\" (the end). stop is\n"
     "             exclusive and clamps at the end; None is the end.\n"
     "signals      None for all, or numbers and names in the order wanted (repeats allowed).\n"
     "physical     True: (v - baseline) / gain (a gain of 0 counts as 200), invalid samples NaN,\n"
     "             float64 unless dtype is numpy.float32. False: the stored values, invalid\n"
     "             samples -32768, int16 when every chosen format fits 16 bits, else int32,\n"
     "             or the dtype asked for when every value fits it.\n"
     "The read releases the interpreter lock; records may be read from any number of threads."},
    {"signal", SIGTROVE_METHOD(record_signal), METH_VARARGS | METH_KEYWORDS,
     "signal(signal, start=0, stop=None, physical=True, dtype=None) -> numpy.ndarray\n\n"
     "One signal, by number or name, at its own sampling rate: every sample, where frames() gives\n"
     "one value per frame. start and stop count this signal's samples (times are converted at its\n"
     "own rate); physical and dtype as for frames()."},
    {"__enter__", record_enter, METH_NOARGS, "The record itself: `with Record(path) as record:`."},
    {"__exit__", record_exit, METH_VARARGS,
     "Closes the record's files (a later use opens them again); exceptions pass through."},
    {"__reduce__", record_reduce, METH_NOARGS,
     "A Record pickles as the path of its header's directory and its name, and opens again when unpickled."},
    {"time_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_time_text)),
     METH_VARARGS | METH_KEYWORDS,
     "time_text(sample, *, milliseconds=False) -> str\n\n"
     "The WFDB time text of a sample number of this record: elapsed time (\"1:02:03\"), or the\n"
     "time of day in brackets for a negative number when the header gives a base time, as the\n"
     "WFDB tools write it; with milliseconds, to the millisecond."},
    {"window", SIGTROVE_METHOD(record_window), METH_VARARGS | METH_KEYWORDS,
     "window(start=0, stop=None) -> (int, int or None)\n\n"
     "The frame numbers [start, stop) that frames(start, stop) reads, with start and stop as\n"
     "frames() takes them: both clamped at the record's length, and stop None when none is given\n"
     "and the length can not be told (the window then runs to the end of the data). For reading a\n"
     "long window in blocks, or placing a window's frames in time."},
    SIGTROVE_RECORD_WRITE_METHOD,
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

const Sigtrove_RecordOps record_ops = {reopen, is_current_op, signal_number};

PyTypeObject RecordType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.Record";
    t.tp_basicsize = sizeof(RecordObject);
    t.tp_dealloc = record_dealloc;
    t.tp_repr = record_repr;
    t.tp_str = record_str;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;
    t.tp_doc =
        "Access MIT-BIH database records.\n\n    Record(string record)\n\n        record - path to "
        "record (without extension. i.e. c:/physiobank/100)\n\n    fields:\n\n        record       - "
        "record name\n        nsig         - number of signals in record\n        frequency    - "
        "sampling frequency\n        signal_names - signals names\n        name         - alias for "
        "record\n    ";
    t.tp_traverse = record_traverse;
    t.tp_clear = record_clear;
    t.tp_methods = record_methods;
    t.tp_members = record_members;
    t.tp_getset = record_getset;
    t.tp_new = record_new;
    return t;
}();

PyObject *record_path_of(PyObject *record) { return as_record(record)->location.record_path; }

}  // namespace sigtrove
