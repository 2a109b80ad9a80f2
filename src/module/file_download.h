// _sigtrove._FileDownload: one file of a web server fetched through the engine's
// HTTP client (engine/network/file_download.h), for the download command.
#ifndef SIGTROVE_FILE_DOWNLOAD_H
#define SIGTROVE_FILE_DOWNLOAD_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace sigtrove {

// Adds the type to the module; false with an exception set when it can not.
bool add_file_download_type(PyObject *module);

}  // namespace sigtrove

#endif
