// What the package asks of the engine's own rules rather than copying them:
// whether a name is a URL, a text without a URL's credentials, the memory
// ceiling and how it is written, the gain a header's 0 stands for, and the files
// a record's header names.
#ifndef SIGTROVE_ENGINE_FACTS_H
#define SIGTROVE_ENGINE_FACTS_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace sigtrove {

// Adds _is_url, _without_credentials, _max_record_memory, _megabytes,
// _header_files and _DEFAULT_GAIN to the module.
bool add_engine_facts(PyObject *module);

}  // namespace sigtrove

#endif
