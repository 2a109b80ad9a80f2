// The record location shared by Record and Annotation, and the record path rule.
#include "record_location.h"

#include "texts/hidden_credentials.h"

#include <cerrno>
#include <vector>

#include "network/url_text.h"
#include "paths/database_path.h"
#include "paths/directory_access.h"
#include "paths/path_search.h"
#include "record_header/record_header.h"

namespace sigtrove {

PyObject *call_module_function(const char *name, PyObject *arg) {
    PyObject *function = PyDict_GetItemString(module_dict(), name);
    if (function == nullptr) {
        PyErr_Format(PyExc_AttributeError, "module '_sigtrove' has no attribute '%s'", name);
        return nullptr;
    }
    return arg ? PyObject_CallOneArg(function, arg) : PyObject_CallNoArgs(function);
}

void RecordLocation::init() {
    for (PyObject **field : {&record_path, &record, &basedir}) *field = PyRef::borrow(Py_None).release();
}

int RecordLocation::traverse(visitproc visit, void *arg) const {
    Py_VISIT(record_path);
    Py_VISIT(record);
    Py_VISIT(basedir);
    return 0;
}

void RecordLocation::clear() {
    for (PyObject **field : {&record_path, &record, &basedir}) replace_field(*field, PyRef::borrow(Py_None));
}

void RecordLocation::release() {
    Py_CLEAR(record_path);
    Py_CLEAR(record);
    Py_CLEAR(basedir);
}

PyObject *path_argument(PyObject *arg) {
    PyRef path = PyRef::steal(PyOS_FSPath(arg));
    if (!path) return nullptr;
    if (!PyUnicode_Check(path.get())) {
        PyErr_Format(PyExc_TypeError, "record path must be str, not %.200s", Py_TYPE(path.get())->tp_name);
        return nullptr;
    }
    // Searched as characters, not as UTF-8: a path holding undecodable file-name
    // bytes (surrogate escapes) is valid in the filesystem encoding.
    Py_ssize_t nul = PyUnicode_FindChar(path.get(), 0, 0, PyUnicode_GET_LENGTH(path.get()), 1);
    if (nul == -2) return nullptr;
    if (nul >= 0) {
        PyErr_SetString(PyExc_ValueError, "embedded null character");
        return nullptr;
    }
    // A plain str: a subclass's own __str__ must not change what repr shows.
    return PyUnicode_FromObject(path.get());
}

namespace {

// True (1) for a record path that is a URL: the engine reads such a record on its
// server, so no directory of it is entered. -1 with an exception set on failure.
int is_url_path(PyObject *path) {
    // The scheme is all the engine's test looks at: the first sixteen characters decide.
    PyRef start = PyRef::steal(PyUnicode_Substring(path, 0, 16));
    if (!start) return -1;
    const char *text = PyUnicode_AsUTF8(start.get());
    if (!text) {
        // A name with undecodable bytes in its first characters is no URL.
        PyErr_Clear();
        return 0;
    }
    return engine::is_url(text) ? 1 : 0;
}

// The record name of the last part of a path: without its last extension
// ("100.hea" is "100"), except that an EDF or BDF file is a record of its own
// name ("chb01_01.edf" stays whole), as the field's tools name such records.
PyObject *record_name_of(PyObject *last_part) {
    PyRef parts = PyRef::steal(call_module_function("splitext", last_part));
    if (!parts) return nullptr;
    PyObject *extension = PySequence_GetItem(parts.get(), 1);
    if (!extension) return nullptr;
    PyRef owned_extension = PyRef::steal(extension);
    std::string whole;
    if (PyUnicode_Check(extension) && PyUnicode_GET_LENGTH(extension) == 4 && PyUnicode_Check(last_part)) {
        if (!engine_name(last_part, whole)) return nullptr;
        if (engine::names_edf_file(whole)) return PyRef::borrow(last_part).release();
    }
    return PySequence_GetItem(parts.get(), 0);
}

}  // namespace

bool split_record_path(PyObject *path, RecordPath &out) {
    int url = is_url_path(path);
    if (url < 0) return false;
    if (url) {
        // The directory steps do not apply: no basedir, and the record is the URL
        // without the extension of its last part ("https://host/db/100.hea" is ".../100";
        // an EDF file keeps its own: "https://host/db/x.edf").
        out.basedir = PyRef::steal(PyUnicode_FromString(""));
        if (!out.basedir) return false;
        out.record = PyRef::steal(record_name_of(path));
        return static_cast<bool>(out.record);
    }
    out.basedir = PyRef::steal(call_module_function("dirname", path));
    if (!out.basedir) return false;
    out.working_directory = PyRef::steal(call_module_function("getcwdu", nullptr));
    if (!out.working_directory) return false;
    PyRef base = PyRef::steal(call_module_function("basename", path));
    if (!base) return false;
    out.record = PyRef::steal(record_name_of(base.get()));
    if (!out.record) return false;
    PyRef plus = PyRef::steal(PyObject_CallMethod(out.record.get(), "startswith", "s", "+"));
    if (!plus) return false;
    int starts = PyObject_IsTrue(plus.get());
    if (starts < 0) return false;
    if (starts) {
        PyErr_SetString(PyExc_ValueError, "Record name can not start with '+'");
        return false;
    }
    return true;
}

bool engine_name(PyObject *record, std::string &out) {
    PyRef encoded = PyRef::steal(PyUnicode_EncodeFSDefault(record));
    if (!encoded) return false;
    out.assign(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
    return true;
}

namespace {

// A path text as the file system takes it; false with an exception when it is not text.
bool file_system_text(PyObject *text, std::string &out) {
    if (!PyUnicode_Check(text)) {
        PyErr_Format(PyExc_TypeError, "expected a str path, not %.200s", Py_TYPE(text)->tp_name);
        return false;
    }
    return engine_name(text, out);
}

// The absolute directory relative database-path components stand on: basedir,
// made absolute against the working directory the path rule asked for; that
// directory itself for a path without a directory part.
bool search_base(const RecordPath &parts, std::string &base) {
    std::string working, directory;
    if (!file_system_text(parts.working_directory.get(), working)) return false;
    if (!file_system_text(parts.basedir.get(), directory)) return false;
    if (directory.empty()) {
        base = working;
        return true;
    }
    base =
        directory[0] == '/' ? directory : working + (working.empty() || working.back() != '/' ? "/" : "") + directory;
    int error = 0;
    Py_BEGIN_ALLOW_THREADS
    error = engine::directory_access_error(base);
    Py_END_ALLOW_THREADS
    if (error != 0) {
        // What os.chdir(basedir) raises, as the directory switch of earlier versions did.
        errno = error;
        PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, parts.basedir.get());
        return false;
    }
    return true;
}

}  // namespace

bool RecordLocation::locate(std::string &name, engine::SearchLocation &where) {
    RecordPath parts;
    if (!split_record_path(record_path, parts)) return false;
    replace_field(basedir, PyRef::borrow(parts.basedir.get()));
    replace_field(record, PyRef::borrow(parts.record.get()));
    if (!engine_name(parts.record.get(), name)) return false;
    // The engine's own form of the name, as its opening calls take one (a trailing ".hea" goes).
    name = engine::record_name_for_open(name.c_str(), nullptr);
    std::string base;
    if (parts.working_directory && !search_base(parts, base)) return false;
    // Read under the interpreter lock, which Python code changing the environment holds too.
    std::string setting = engine::database_path_setting();
    std::vector<engine::PathComponent> path;
    Py_BEGIN_ALLOW_THREADS
    // Following an @file in WFDB reads a file: not with the interpreter lock held.
    path = engine::database_path_of(setting);
    Py_END_ALLOW_THREADS
    where = engine::SearchLocation::at(std::move(path), std::move(base), name);
    return true;
}

PyObject *shown_record_name(PyObject *record) {
    std::string name;
    if (!engine_name(record, name)) return nullptr;
    return engine_text(engine::without_credentials(name).c_str());
}

}  // namespace sigtrove
