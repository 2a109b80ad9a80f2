// The module frame: namespace, exceptions, defaults, print mode, and the helpers
// every operation shares (current record, path rule, error mapping, tracebacks).
#include "annotation_object.h"
#include "record_object.h"
#include "sigtrove.h"

#include <frameobject.h>

#include <atomic>

#include "edf_writing.h"
#include "engine_facts.h"
#include "engine_settings.h"
#include "file_download.h"
#include "remote_prefetch.h"
#include "wfdb/wfdb.h"
#include "writing.h"

namespace sigtrove {

ModuleGlobals globals;

namespace {

// Borrowed; see is_current(). Atomic because destruction empties it without the lock.
std::atomic<PyObject *> current_object{nullptr};

// Borrowed, emptied by destruction as the slot is; see hold_signals().
std::atomic<PyObject *> signal_holder{nullptr};
std::atomic<PyObject *> annotation_holder{nullptr};

// Makes `obj` the holder in `holder`, closing the files of the one it replaces.
// The replaced object is kept alive while its files close: closing waits for its
// lock without the interpreter lock, and another thread may drop it meanwhile.
template <class Close>
void replace_holder(std::atomic<PyObject *> &holder, PyObject *obj, Close close) {
    PyObject *previous = holder.exchange(obj);
    if (previous == nullptr || previous == obj) return;
    PyRef kept = PyRef::borrow(previous);
    close(previous);
}

std::string engine_version;  // wfdberror() before the first error, kept for the capsule

Sigtrove_CAPI c_api = {
    SIGTROVE_CAPI_VERSION, &RecordType, &AnnotationType, &record_ops, &annotation_entry_ops, nullptr,
};

PyObject *verbose(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"flag", nullptr};
    PyObject *flag = globals.true_object;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|O:verbose", const_cast<char **>(keywords), &flag)) return nullptr;
    int on = PyObject_IsTrue(flag);
    if (on < 0) return traced("_sigtrove.verbose", nullptr);
    EngineAccess access;
    if (on)
        wfdbverbose();
    else
        wfdbquiet();
    Py_RETURN_NONE;
}

PyMethodDef module_methods[] = {
    {"verbose", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(verbose)), METH_VARARGS | METH_KEYWORDS,
     "\n    Set wfdblib to verbose mode (prints some extra info on error).\n    Debug only.\n    "},
    SIGTROVE_WRITING_FUNCTIONS,
    SIGTROVE_EDF_WRITING_FUNCTION,
    SIGTROVE_PREFETCH_FUNCTIONS,
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_sigtrove", nullptr, -1, module_methods, nullptr, nullptr, nullptr, nullptr,
};

bool bind(PyObject *dict, const char *name, PyObject *value) {
    return value != nullptr && PyDict_SetItemString(dict, name, value) == 0;
}

bool bind_type(PyObject *dict, const char *name, PyTypeObject *type) {
    type->tp_free = PyObject_GC_Del;
    if (PyType_Ready(type) < 0) return false;
    return bind(dict, name, reinterpret_cast<PyObject *>(type));
}

// from MODULE import NAMES..., through the builtin __import__ (so an import hook
// sees it), binding each name in our namespace; `rename_from` is the attribute
// to take for the name `rename_to`.
bool import_names(PyObject *dict, PyObject *builtins, const char *module, std::initializer_list<const char *> names,
                  const char *rename_from = nullptr, const char *rename_to = nullptr) {
    PyRef fromlist = PyRef::steal(PyList_New(0));
    if (!fromlist) return false;
    for (const char *name : names) {
        const char *attr = (rename_to && std::string(name) == rename_to) ? rename_from : name;
        PyRef s = PyRef::steal(PyUnicode_FromString(attr));
        if (!s || PyList_Append(fromlist.get(), s.get()) < 0) return false;
    }
    PyRef locals = PyRef::steal(PyDict_New());
    if (!locals) return false;
    PyRef import = PyRef::steal(PyObject_GetAttrString(builtins, "__import__"));
    if (!import) return false;
    PyRef imported =
        PyRef::steal(PyObject_CallFunction(import.get(), "sOOO", module, dict, locals.get(), fromlist.get()));
    if (!imported) return false;
    for (const char *name : names) {
        const char *attr = (rename_to && std::string(name) == rename_to) ? rename_from : name;
        PyRef value = PyRef::steal(PyObject_GetAttrString(imported.get(), attr));
        if (!bind(dict, name, value.get())) return false;
    }
    return true;
}

PyObject *new_exception(const char *qualified, PyObject *base) {
    PyRef class_dict = PyRef::steal(PyDict_New());
    if (!class_dict) return nullptr;
    return PyErr_NewException(qualified, base, class_dict.get());
}

bool initialise(PyObject *module) {
    prepare_engine_lock_for_fork();
    engine_version = wfdberror();
    c_api.engine_version_line = engine_version.c_str();
    PyObject *dict = PyModule_GetDict(module);
    globals.module = module;
    PyRef builtins = PyRef::steal(PyImport_ImportModule("builtins"));
    if (!bind(dict, "__builtins__", builtins.get())) return false;
    if (!bind_type(dict, "Record", &RecordType)) return false;
    if (!bind_type(dict, "AnnotationEntry", &AnnotationEntryType)) return false;
    if (!bind_type(dict, "Annotation", &AnnotationType)) return false;
    if (!import_names(dict, builtins.get(), "os.path", {"dirname", "basename", "isdir", "splitext"})) return false;
    // Python 3's os.getcwd already returns text: it stands in for getcwdu.
    if (!import_names(dict, builtins.get(), "os", {"chdir", "getcwdu"}, "getcwd", "getcwdu")) return false;
    set_current(nullptr);

    globals.true_object = PyObject_GetAttrString(builtins.get(), "True");
    if (globals.true_object == nullptr) return false;

    globals.error = new_exception("_sigtrove.Error", PyExc_Exception);
    if (!bind(dict, "Error", globals.error)) return false;
    PyObject *error = PyDict_GetItemString(dict, "Error");
    globals.init_error = new_exception("_sigtrove.InitError", error);
    if (!bind(dict, "InitError", globals.init_error)) return false;

    PyRef read = PyRef::steal(PyLong_FromLong(WFDB_READ));
    if (!bind(dict, "STAT_READ", read.get())) return false;
    PyRef read_aha = PyRef::steal(PyLong_FromLong(WFDB_AHA_READ));
    if (!bind(dict, "STAT_READ_AHA", read_aha.get())) return false;

    globals.default_annotator = PyUnicode_InternFromString("atr");
    if (globals.default_annotator == nullptr) return false;
    globals.default_stat = PyDict_GetItemString(dict, "STAT_READ");
    Py_XINCREF(globals.default_stat);

    PyRef quiet = PyRef::steal(PyObject_CallFunction(PyDict_GetItemString(dict, "verbose"), "i", 0));
    if (!quiet) return false;

    PyRef all = PyRef::steal(Py_BuildValue("[sssssss]", "Record", "Annotation", "AnnotationEntry", "InitError",
                                           "verbose", "STAT_READ", "STAT_READ_AHA"));
    if (!bind(dict, "__all__", all.get())) return false;

    PyRef capsule = PyRef::steal(PyCapsule_New(&c_api, SIGTROVE_CAPI_NAME, nullptr));
    if (!bind(dict, "_C_API", capsule.get())) return false;
    // For the package, beside the capsule: the engine's version line, and the type
    // of Record.signals' items (which it exports as sigtrove.Signal).
    PyRef version = PyRef::steal(engine_text(engine_version.c_str()));
    if (!bind(dict, "_engine_version", version.get())) return false;
    if (!add_engine_settings(module)) return false;
    if (!add_engine_facts(module)) return false;
    if (!add_file_download_type(module)) return false;
    return ready_signal_type() && bind(dict, "_Signal", signal_type_object());
}

}  // namespace

PyObject *module_dict() { return PyModule_GetDict(globals.module); }

bool is_current(PyObject *obj) { return obj != nullptr && obj == current_object.load(); }

void set_current(PyObject *obj) { current_object.store(obj == Py_None ? nullptr : obj); }

void forget_current(PyObject *obj) {
    PyObject *expected = obj;
    current_object.compare_exchange_strong(expected, nullptr);
}

void hold_signals(PyObject *record) {
    replace_holder(signal_holder, record, [](PyObject *previous) {
        if (RecordEngine *engine = as_record(previous)->engine) engine->close();
    });
}

void hold_annotation_file(PyObject *annotation) {
    replace_holder(annotation_holder, annotation, [](PyObject *previous) {
        if (AnnotationEngine *engine = as_annotation(previous)->engine) engine->close_reader();
    });
}

void forget_holder(PyObject *obj) {
    for (std::atomic<PyObject *> *holder : {&signal_holder, &annotation_holder}) {
        PyObject *expected = obj;
        holder->compare_exchange_strong(expected, nullptr);
    }
}

engine::AnnotationCodeTable &annotation_codes() {
    static engine::AnnotationCodeTable table;
    return table;
}

engine::TimeBasis &last_time_basis() {
    // No header read yet: time texts count seconds at 1 Hz, as the C library's do.
    static engine::TimeBasis basis;
    return basis;
}

void add_traceback(const char *operation) {
    PyObject *globals_dict = globals.module ? module_dict() : nullptr;
    PyRef owned_globals;
    if (globals_dict == nullptr) {
        owned_globals = PyRef::steal(PyDict_New());
        globals_dict = owned_globals.get();
    }
    if (globals_dict == nullptr) return;
    PyCodeObject *code = PyCode_NewEmpty("_sigtrove.cpp", operation, 0);
    if (code == nullptr) return;
    PyFrameObject *frame = PyFrame_New(PyThreadState_Get(), code, globals_dict, nullptr);
    Py_DECREF(code);
    if (frame == nullptr) return;
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

PyObject *engine_text(const char *text) { return engine_text(text, text ? strlen(text) : 0); }

PyObject *engine_text(const char *text, size_t size) {
    if (text == nullptr) text = "";
    Py_ssize_t length = static_cast<Py_ssize_t>(size);
    PyObject *s = PyUnicode_DecodeUTF8(text, length, "strict");
    if (s == nullptr && PyErr_ExceptionMatches(PyExc_UnicodeDecodeError)) {
        PyErr_Clear();
        s = PyUnicode_DecodeLatin1(text, length, "strict");
    }
    return s;
}

}  // namespace sigtrove

PyMODINIT_FUNC PyInit__sigtrove(void) {
    using namespace sigtrove;
    PyObject *module = PyModule_Create(&module_def);
    if (module == nullptr) return nullptr;
    if (!initialise(module)) {
        add_traceback("_sigtrove");
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}
