// _set_remote_timeout(seconds): seconds > 0 (at most a day), or None to go back
//     to SIGTROVE_TIMEOUT and its default.
// _set_remote_cache(directory): a directory ("" for no cache), or None to go back
//     to SIGTROVE_CACHE.
// _choose_database_path(setting): a WFDB value that records opened from now on
//     are looked up along, or None to go back to the WFDB variable.
#include "engine_settings.h"

#include <optional>
#include <string>

#include "network/remote_settings.h"
#include "paths/database_path_choice.h"

namespace sigtrove {
namespace {

// The text of `value` (a str), or nullopt for None; false with an exception for anything else.
bool optional_text(PyObject *value, const char *what, std::optional<std::string> &out) {
    if (value == Py_None) {
        out.reset();
        return true;
    }
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "%s must be a str or None, not %s", what, Py_TYPE(value)->tp_name);
        return false;
    }
    Py_ssize_t size = 0;
    const char *text = PyUnicode_AsUTF8AndSize(value, &size);
    if (!text) return false;
    out = std::string(text, static_cast<std::size_t>(size));
    if (out->find('\0') != std::string::npos) {
        PyErr_Format(PyExc_ValueError, "%s can not hold a null character", what);
        return false;
    }
    return true;
}

PyObject *set_remote_timeout(PyObject *, PyObject *value) {
    std::optional<double> seconds;
    if (value != Py_None) {
        seconds = PyFloat_AsDouble(value);
        if (*seconds == -1.0 && PyErr_Occurred()) return nullptr;
    }
    if (!engine::set_remote_timeout(seconds)) {
        PyErr_SetString(PyExc_ValueError, "the timeout must be a number of seconds greater than 0, at most 86400");
        return nullptr;
    }
    Py_RETURN_NONE;
}

PyObject *set_remote_cache(PyObject *, PyObject *value) {
    std::optional<std::string> directory;
    if (!optional_text(value, "the cache directory", directory)) return nullptr;
    engine::set_remote_cache_directory(std::move(directory));
    Py_RETURN_NONE;
}

PyObject *choose_database_path(PyObject *, PyObject *value) {
    std::optional<std::string> setting;
    if (!optional_text(value, "the database path", setting)) return nullptr;
    engine::choose_database_path(std::move(setting));
    Py_RETURN_NONE;
}

PyMethodDef settings_functions[] = {
    {"_set_remote_timeout", set_remote_timeout, METH_O, "Sets the remote timeout in seconds (None: SIGTROVE_TIMEOUT)."},
    {"_set_remote_cache", set_remote_cache, METH_O, "Sets the remote cache directory (None: SIGTROVE_CACHE)."},
    {"_choose_database_path", choose_database_path, METH_O, "Sets the database path (None: WFDB)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool add_engine_settings(PyObject *module) { return PyModule_AddFunctions(module, settings_functions) == 0; }

}  // namespace sigtrove
