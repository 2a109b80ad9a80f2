// Writing records and annotation files: thin adapters over the engine's
// writers (src/engine/writers). The package's sigtrove.write_record and
// sigtrove.write_annotations check and lay out their arguments and call the
// module functions here; Record.write copies a window of the object's own engine
// record.
#ifndef SIGTROVE_WRITING_H
#define SIGTROVE_WRITING_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace sigtrove {

// Record.write(path, start=0, stop=None, signals=None, formats=None, *, overwrite=False, progress=None,
//              annotations=None, patient=None, recording=None); a path ending in .edf or .bdf goes to
// record_write_edf (edf_writing.h).
PyObject *record_write(PyObject *self, PyObject *args, PyObject *kwargs);

// _sigtrove._write_record(directory, name, frequency, columns, frames, samples_per_frame, names, units,
//                         formats, gains, baselines, adc_resolutions, base, comments, physical, overwrite)
PyObject *module_write_record(PyObject *self, PyObject *args, PyObject *kwargs);

// _sigtrove._write_annotations(directory, record, annotator, time, code, subtype, chan, num, aux, symbols,
//                              frequency, overwrite)
PyObject *module_write_annotations(PyObject *self, PyObject *args, PyObject *kwargs);

// _sigtrove._copy_annotations(annotation, directory, record, annotator, start, stop, frequency, overwrite)
PyObject *module_copy_annotations(PyObject *self, PyObject *args, PyObject *kwargs);

// The entries of the module's function table and of Record's method table (each
// used as one element of its table: `SIGTROVE_WRITING_FUNCTIONS,`).
#define SIGTROVE_WRITING_FUNCTIONS                                                                          \
    {"_write_record", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(module_write_record)), \
     METH_VARARGS | METH_KEYWORDS, "Writes a record of arrays (see sigtrove.write_record)."},               \
        {"_write_annotations",                                                                              \
         reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(module_write_annotations)),         \
         METH_VARARGS | METH_KEYWORDS, "Writes an annotation file (see sigtrove.write_annotations)."},      \
        {"_copy_annotations",                                                                               \
         reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(module_copy_annotations)),          \
         METH_VARARGS | METH_KEYWORDS, "Copies a window of an open annotation file beside a new record."}

#define SIGTROVE_RECORD_WRITE_METHOD                                                                    \
    {"write", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_write)),            \
     METH_VARARGS | METH_KEYWORDS,                                                                      \
     "write(path, start=0, stop=None, signals=None, formats=None, *, overwrite=False, progress=None,\n" \
     "      annotations=None, patient=None, recording=None) -> None\n\n"                                \
     "Writes frames [start, stop) of the chosen signals as a new record at path (\"folder/name\"):\n"   \
     "its header and signal files, every header field kept (names, units, gains, baselines, ADC\n"      \
     "resolutions, samples per frame, comments; the base time moved to the window's start), each\n"     \
     "signal in its own format or the one formats gives (one for all, or one per signal). start,\n"     \
     "stop and signals are taken as frames() takes them. The files are written under temporary\n"       \
     "names and put in place when complete; an existing record is replaced only with overwrite,\n"      \
     "and the record being read never. progress, if given, is called with the number of frames\n"       \
     "written so far. A path ending in .edf or .bdf writes one EDF+ (16-bit) or BDF+ (24-bit) file\n"   \
     "instead: the signals' names, units, gains, baselines and samples per frame kept, with the\n"      \
     "annotations given (what Annotation.arrays() returns; those in the window) and the header's\n"     \
     "patient and recording fields."}

}  // namespace sigtrove

#endif
