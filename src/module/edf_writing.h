// Writing EDF+ and BDF+ files through the engine's EDF writer: Record.write to
// a name ending in ".edf" or ".bdf" copies a window of the object's own engine
// record; _sigtrove._write_edf writes a program's arrays (for
// sigtrove.write_record, which lays them out).
#ifndef SIGTROVE_EDF_WRITING_H
#define SIGTROVE_EDF_WRITING_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <vector>

#include "record_engine.h"
#include "writing_arguments.h"

namespace sigtrove {

// What Record.write asks of its record: the signals (header numbers, empty for
// all) and the frames [start, stop) (stop -1: to the end of the data).
struct EdfWindow {
    std::vector<std::size_t> signals;
    long long start = 0;
    long long stop = -1;
};

// Record.write(path.edf, ...) once its arguments are read: `annotations` is None
// or what Annotation.arrays() returns (times in the record's frames), `patient`
// and `recording` None or the header's fields.
PyObject *record_write_edf(RecordEngine &engine, const Destination &destination, const EdfWindow &window,
                           PyObject *annotations, PyObject *patient, PyObject *recording, bool overwrite,
                           PyObject *progress);

// _sigtrove._write_edf(path, frequency, columns, frames, samples_per_frame, names, units, gains,
//                      baselines, base, physical, overwrite, annotations, patient, recording)
PyObject *module_write_edf(PyObject *self, PyObject *args, PyObject *kwargs);

#define SIGTROVE_EDF_WRITING_FUNCTION                                                                 \
    {"_write_edf", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(module_write_edf)), \
     METH_VARARGS | METH_KEYWORDS, "Writes an EDF+ or BDF+ file of arrays (see sigtrove.write_record)."}

}  // namespace sigtrove

#endif
