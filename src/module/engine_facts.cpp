// _is_url(name) -> bool: a remote name: an http:// or https:// URL (the scheme in any
//     case), an s3:// or a physionet:// name.
// _without_credentials(text) -> str: every URL's "user:password@" removed.
// _max_record_memory() -> int: the memory ceiling in bytes, as the engine holds a record to it.
// _megabytes(amount) -> str: "256 MB", as the engine's texts say an amount.
// _header_files(directory, record) -> (multi_segment, signal files, segments): what
//     RECORD.hea in DIRECTORY names, parsed by the engine; the engine's error otherwise.
// _DEFAULT_GAIN: the gain a header's gain of 0 stands for.
#include "engine_facts.h"

#include <string>

#include "engine_errors.h"
#include "limits/memory_ceiling.h"
#include "paths/path_search.h"
#include "pyref.h"
#include "record_header/header_files.h"
#include "texts/hidden_credentials.h"
#include "wfdb/wfdb.h"

namespace sigtrove {
namespace {

bool utf8_text(PyObject *value, std::string &out) {
    Py_ssize_t size = 0;
    const char *text = PyUnicode_AsUTF8AndSize(value, &size);
    if (!text) return false;
    out.assign(text, static_cast<std::size_t>(size));
    return true;
}

PyObject *text_object(const std::string &text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
}

PyObject *is_url(PyObject *, PyObject *name) {
    if (!PyUnicode_Check(name)) return PyBool_FromLong(0);
    std::string text;
    if (!utf8_text(name, text)) return nullptr;
    return PyBool_FromLong(engine::is_url(text));
}

PyObject *without_credentials(PyObject *, PyObject *value) {
    if (!PyUnicode_Check(value)) {
        PyErr_Format(PyExc_TypeError, "_without_credentials takes a str, not %s", Py_TYPE(value)->tp_name);
        return nullptr;
    }
    // Surrogates (undecodable bytes of file names) pass through as they are.
    PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(value, "utf-8", "surrogatepass"));
    if (!bytes) return nullptr;
    const std::string shown = engine::without_credentials(
        std::string_view(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))));
    return PyUnicode_DecodeUTF8(shown.data(), static_cast<Py_ssize_t>(shown.size()), "surrogatepass");
}

PyObject *max_record_memory(PyObject *, PyObject *) { return PyLong_FromLongLong(engine::max_record_memory()); }

PyObject *megabytes(PyObject *, PyObject *amount) {
    long long bytes = PyLong_AsLongLong(amount);
    if (bytes == -1 && PyErr_Occurred()) return nullptr;
    return text_object(engine::megabytes(bytes));
}

PyObject *text_list(const std::vector<std::string> &texts) {
    PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(texts.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        PyObject *item = text_object(texts[i]);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
}

PyObject *header_files(PyObject *, PyObject *args) {
    PyObject *directory_arg = nullptr, *record_arg = nullptr;
    if (!PyArg_ParseTuple(args, "O&O&:_header_files", PyUnicode_FSConverter, &directory_arg, PyUnicode_FSConverter,
                          &record_arg))
        return nullptr;
    PyRef directory_bytes = PyRef::steal(directory_arg), record_bytes = PyRef::steal(record_arg);
    const std::string directory(PyBytes_AS_STRING(directory_arg),
                                static_cast<std::size_t>(PyBytes_GET_SIZE(directory_arg)));
    const std::string record(PyBytes_AS_STRING(record_arg), static_cast<std::size_t>(PyBytes_GET_SIZE(record_arg)));
    engine::HeaderFiles files;
    engine::Status status;
    Py_BEGIN_ALLOW_THREADS
    status = engine::read_header_files(directory, record, files);
    Py_END_ALLOW_THREADS
    if (!status) return raise_failure(status);
    PyRef signal_files = PyRef::steal(text_list(files.signal_files));
    PyRef segments = PyRef::steal(text_list(files.segments));
    if (!signal_files || !segments) return nullptr;
    return Py_BuildValue("(OOO)", files.multi_segment ? Py_True : Py_False, signal_files.get(), segments.get());
}

PyMethodDef fact_functions[] = {
    {"_is_url", is_url, METH_O,
     "Whether a name is a remote name (http://, https://, s3://, physionet://), as the engine reads it."},
    {"_without_credentials", without_credentials, METH_O, "A text with every URL's user name and password removed."},
    {"_max_record_memory", max_record_memory, METH_NOARGS, "The memory ceiling of one record, in bytes."},
    {"_megabytes", megabytes, METH_O, "An amount of memory as the engine's texts write it."},
    {"_header_files", header_files, METH_VARARGS, "What a record's header names: its signal files and segments."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool add_engine_facts(PyObject *module) {
    if (PyModule_AddFunctions(module, fact_functions) != 0) return false;
    return PyModule_AddObject(module, "_DEFAULT_GAIN", PyFloat_FromDouble(WFDB_DEFGAIN)) == 0;
}

}  // namespace sigtrove
