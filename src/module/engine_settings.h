// The engine's process-wide settings as the package sets them, instead of
// through the environment (which reads made without the interpreter lock may be
// looking at): the remote timeout and cache directory, and the database path.
#ifndef SIGTROVE_ENGINE_SETTINGS_H
#define SIGTROVE_ENGINE_SETTINGS_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace sigtrove {

// Adds _set_remote_timeout, _set_remote_cache and _choose_database_path to the module.
bool add_engine_settings(PyObject *module);

}  // namespace sigtrove

#endif
