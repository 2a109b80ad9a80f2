// _prefetch_headers: the headers of many remote records asked for at once, then
// the heads of the signal files they name (the engine's prefetch_records), so
// that opening each of them next needs no request; and
// _fetch_remote_file: a small remote file (a database's RECORDS list) whole, by
// the engine's client, so that every remote name (s3://, physionet://) works.
#ifndef SIGTROVE_MODULE_REMOTE_PREFETCH_H
#define SIGTROVE_MODULE_REMOTE_PREFETCH_H

#include <Python.h>

namespace sigtrove {

PyObject *module_prefetch_headers(PyObject *self, PyObject *args);
PyObject *module_fetch_remote_file(PyObject *self, PyObject *args);

}  // namespace sigtrove

// The module's table entry (one element of its table: `SIGTROVE_PREFETCH_FUNCTIONS,`).
#define SIGTROVE_PREFETCH_FUNCTIONS                                                                             \
    {"_prefetch_headers", reinterpret_cast<PyCFunction>(module_prefetch_headers), METH_VARARGS,                 \
     "Asks for the headers of many remote records at once, then their signal files' heads (record names, each " \
     "without .hea)."},                                                                                         \
        {"_fetch_remote_file", reinterpret_cast<PyCFunction>(module_fetch_remote_file), METH_VARARGS,           \
         "The bytes of a remote file (at most LIMIT + 1), or None when it is not there; OSError says why not."}

#endif
