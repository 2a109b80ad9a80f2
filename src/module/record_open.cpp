// Opening a Record: its construction reads the header once into the object's
// engine record, and its signals are opened then and again whenever another
// object's open closed them (the original operations hold one record's signals
// at a time, as the C library did).
#include <memory>
#include <new>
#include <string>

#include "errors/error_state.h"
#include "record/frame_input.h"
#include "record_object.h"
#include "sigtrove.h"
#include "texts/hidden_credentials.h"

namespace sigtrove {

namespace {

// The record's sampling frequency as the record reports it: its frame frequency,
// times its most samples per frame when samples are read in high resolution (a
// multi-segment master's own lines list no signals).
double reported_frequency(const RecordEngine &engine) {
    const engine::Header &header = engine.description().header;
    const double frame = header.frame_frequency();
    if (!engine.high_resolution() || header.multi_segment) return frame;
    return frame * header.largest_spf();
}

// Opens the record's signals unless they are open, and makes the record current.
int open_signals(PyObject *obj) {
    RecordObject *self = as_record(obj);
    RecordEngine *engine = opened_engine(obj);
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
            return raise_no_memory();
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
    last_time_basis() = record_time_basis(*engine);
    return 0;
}

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
    last_time_basis() = record_time_basis(*engine);
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

}  // namespace

// What the original operations' time texts count by: the record's sampling rate
// (in high resolution, of its fastest signal) and base time.
engine::TimeBasis record_time_basis(const RecordEngine &engine) {
    const engine::Header &header = engine.description().header;
    double freq = header.frame_frequency();
    if (engine.high_resolution()) freq *= header.largest_spf();
    return engine::TimeBasis{freq, header.base_ms, header.base_date};
}

RecordEngine *opened_engine(PyObject *obj) {
    RecordEngine *engine = as_record(obj)->engine;
    if (engine == nullptr) PyErr_SetString(PyExc_ValueError, "the record was not opened");
    return engine;
}

int record_make_current(PyObject *obj) {
    if (is_current(obj)) return 0;
    return traced_status("_sigtrove.Record.reopen", open_signals(obj));
}

int record_reopen(PyObject *obj) {
    EngineAccess access;  // also reached from other extension modules through the capsule
    return record_make_current(obj);
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

}  // namespace sigtrove
