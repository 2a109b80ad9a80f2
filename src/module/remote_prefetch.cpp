#include "remote_prefetch.h"

#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "network/prefetched_files.h"
#include "network/remote_file.h"
#include "paths/path_search.h"
#include "pyref.h"
#include "record/record_prefetch.h"
#include "record_location.h"

namespace sigtrove {

PyObject *module_prefetch_headers(PyObject *, PyObject *args) {
    PyObject *names = nullptr;
    if (!PyArg_ParseTuple(args, "O:_prefetch_headers", &names)) return nullptr;
    PyRef sequence = PyRef::steal(PySequence_Fast(names, "_prefetch_headers takes a sequence of record names"));
    if (!sequence) return nullptr;
    std::vector<std::string> urls;
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(sequence.get());
    for (Py_ssize_t i = 0; i < count; ++i) {
        PyObject *name = PySequence_Fast_GET_ITEM(sequence.get(), i);
        if (!PyUnicode_Check(name)) {
            PyErr_SetString(PyExc_TypeError, "_prefetch_headers takes record names (str)");
            return nullptr;
        }
        std::string text;
        if (!engine_name(name, text)) return nullptr;
        // Only remote records are asked for; a local name needs no request.
        if (engine::is_url(text)) urls.push_back(std::move(text));
    }
    Py_BEGIN_ALLOW_THREADS
    try {
        engine::prefetch_records(urls);
    } catch (const std::bad_alloc &) {
        // Nothing kept: each open asks for what it needs.
    }
    Py_END_ALLOW_THREADS
    Py_RETURN_NONE;
}

PyObject *module_fetch_remote_file(PyObject *, PyObject *args) {
    PyObject *name = nullptr;
    long long limit = 0;
    if (!PyArg_ParseTuple(args, "UL:_fetch_remote_file", &name, &limit)) return nullptr;
    std::string text;
    if (!engine_name(name, text)) return nullptr;
    if (!engine::is_url(text) || limit < 0) {
        PyErr_SetString(PyExc_ValueError, "_fetch_remote_file takes a remote name and a limit of bytes >= 0");
        return nullptr;
    }
    std::vector<std::uint8_t> bytes;
    std::string failure;
    bool found = false;
    Py_BEGIN_ALLOW_THREADS
    try {
        engine::RemoteOpening opening = engine::open_remote_file(text, engine::RemoteAccess::from_start);
        failure = opening.failure;
        if (opening.source) {
            found = true;
            std::uint8_t chunk[64 * 1024];
            while (static_cast<long long>(bytes.size()) <= limit) {
                long long got = opening.source->read(chunk, sizeof chunk);
                if (got < 0) {
                    failure = opening.source->failure();
                    if (failure.empty()) failure = text + ": the file could not be read";
                    break;
                }
                if (got == 0) break;
                bytes.insert(bytes.end(), chunk, chunk + got);
            }
        }
    } catch (const std::bad_alloc &) {
        failure = text + ": out of memory";
    }
    Py_END_ALLOW_THREADS
    if (!failure.empty()) {
        PyErr_SetString(PyExc_OSError, failure.c_str());
        return nullptr;
    }
    if (!found) Py_RETURN_NONE;
    return PyBytes_FromStringAndSize(reinterpret_cast<const char *>(bytes.data()),
                                     static_cast<Py_ssize_t>(bytes.size()));
}

}  // namespace sigtrove
