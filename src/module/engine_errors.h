// The one place where engine failures become Python exceptions: the C
// interface's last text (what the original operations raise), and the failures
// the engine's record and annotation objects return as values.
#ifndef SIGTROVE_ENGINE_ERRORS_H
#define SIGTROVE_ENGINE_ERRORS_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "errors/status.h"

namespace sigtrove {

// Raises InitError with the engine's last error text; returns null for `return raise_engine_error();`.
PyObject *raise_engine_error();

// Raises the exception for a failure of an engine object: InitError with the
// engine's text for a record or file that can not be found, used or read (on a
// web server too);
// ValueError for a request the record can not honour; FileExistsError for a file
// that writing would replace; OSError for a file that can not be written;
// MemoryError when memory ran out. Returns null.
PyObject *raise_failure(const engine::Status &status);

}  // namespace sigtrove

#endif
