// Record: an opened WFDB record as a Python type, each operation on the object's
// own engine record: the header is read once, by the construction
// (record_open.cpp), files are found from where the record was named, and waits
// on files and servers let other threads run. Here: the type, its tables and its
// life (engine_object.h); the original read, signal_info and str in
// record_read.cpp and record_signal_info.cpp, the array and header views in
// record_arrays.cpp and record_header.cpp.
#include "engine_object.h"
#include "record_object.h"
#include "sigtrove.h"
#include "writing.h"

#include <structmember.h>
#include "wfdb/wfdb.h"

namespace sigtrove {

namespace {

PyObject *record_close(PyObject *self, PyObject *) {
    EngineAccess access;
    if (is_current(self)) set_current(nullptr);
    Py_RETURN_NONE;
}

PyObject *record_repr(PyObject *self) {
    return traced("_sigtrove.Record.__repr__",
                  PyUnicode_FromFormat("sigtrove.Record(%S)", as_record(self)->location.record_path));
}

PyObject *record_get_name(PyObject *self, void *) { return PyRef::borrow(as_record(self)->location.record).release(); }

PyMemberDef record_members[] = {
    {"record", T_OBJECT, offsetof(RecordObject, location.record), READONLY, nullptr},
    {"basedir", T_OBJECT, offsetof(RecordObject, location.basedir), READONLY, nullptr},
    {"nsig", T_INT, offsetof(RecordObject, nsig), READONLY, nullptr},
    {"frequency", T_DOUBLE, offsetof(RecordObject, frequency), READONLY, nullptr},
    {"signal_names", T_OBJECT, offsetof(RecordObject, signal_names), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

#define SIGTROVE_METHOD(f) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(f))

PyGetSetDef record_getset[] = {
    {"name", record_get_name, nullptr, nullptr, nullptr},
    {"signals", record_get_signals, nullptr,
     "What the header says of each signal, in signal order: a tuple of read-only records (name, file, "
     "format, samples_per_frame, gain, baseline, adc_zero, adc_resolution, initial_value, units, length, "
     "checksum, block_size, skew, byte_offset).",
     nullptr},
    {"comments", record_get_comments, nullptr,
     "The header's comment lines, in order, without their '#' and the blanks around it.", nullptr},
    {"base_datetime", record_get_base_datetime, nullptr,
     "When the record starts: a datetime.datetime when the header gives a base date, a datetime.time when "
     "it gives only a time of day, None when it gives neither.",
     nullptr},
    {"frame_count", record_get_frame_count, nullptr,
     "The record's length in frames as its header gives it; None when the header does not.", nullptr},
    {"readable_frames", record_get_readable_frames, nullptr,
     "How many frames frames() delivers from frame 0, known before reading them: the header's length, less "
     "the frames a skew cuts off and no more than the signal files hold, or for a record whose header gives "
     "no length what its signal files hold. None when the files can not tell (a FLAC stream that does not "
     "state its length).",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef record_methods[] = {
    {"read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_read)), METH_VARARGS | METH_KEYWORDS,
     "\n        read(signal_id, start=0, length=0, correct_gain=True) -> list\n        \n            signal_id    - "
     "signal number or signal name in record\n            start        - index in sample intervals from the "
     "beginning of the record \n            length       - sample count, if 0 - read all annotations\n           "
     " correct_gain - return values in real physical units instead of sampled data file values\n        "},
    {"annotation", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_annotation)),
     METH_VARARGS | METH_KEYWORDS,
     "\n        annotation(name='atr', stat=STAT_READ) -> Annotation\n            name - annotation name (file "
     "extension)\n\n        Returns Annotation object for record.\n        "},
    {"signal_info", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_signal_info)),
     METH_VARARGS | METH_KEYWORDS,
     "\n        signal_info(signal_id) -> dict\n            signal_id   - signal number or signal name in "
     "record\n\n        Returns dictionary with information about specified signal.\n        "},
    {"close", record_close, METH_NOARGS, "\n        Close record files.\n        "},
    {"frames", SIGTROVE_METHOD(record_frames), METH_VARARGS | METH_KEYWORDS,
     "frames(start=0, stop=None, signals=None, physical=True, dtype=None) -> numpy.ndarray\n\n"
     "Frames [start, stop) of the record as a C-contiguous array of shape (frames, signals), one row\n"
     "per frame (a signal with several samples per frame gives their mean, as WFDB's getvec does).\n\n"
     "start, stop  a frame number, or a time as the WFDB tools take it: \"0:10\", \"1:02:03.5\",\n"
     "             \"[10:00:00 01/01/2000]\", \"s1200\" (a sample number), \"e\" (the end). stop is\n"
     "             exclusive and clamps at the end; None is the end.\n"
     "signals      None for all, or numbers and names in the order wanted (repeats allowed).\n"
     "physical     True: (v - baseline) / gain (a gain of 0 counts as 200), invalid samples NaN,\n"
     "             float64 unless dtype is numpy.float32. False: the stored values, invalid\n"
     "             samples -32768, int16 when every chosen format fits 16 bits, else int32,\n"
     "             or the dtype asked for when every value fits it.\n"
     "The read releases the interpreter lock; records may be read from any number of threads."},
    {"signal", SIGTROVE_METHOD(record_signal), METH_VARARGS | METH_KEYWORDS,
     "signal(signal, start=0, stop=None, physical=True, dtype=None) -> numpy.ndarray\n\n"
     "One signal, by number or name, at its own sampling rate: every sample, where frames() gives\n"
     "one value per frame. start and stop count this signal's samples (times are converted at its\n"
     "own rate); physical and dtype as for frames()."},
    {"__enter__", EngineObjectLife<RecordObject>::enter, METH_NOARGS,
     "The record itself: `with Record(path) as record:`."},
    {"__exit__", EngineObjectLife<RecordObject>::exit, METH_VARARGS,
     "Closes the record's files (a later use opens them again); exceptions pass through."},
    {"__reduce__", record_reduce, METH_NOARGS,
     "A Record pickles as the path of its header's directory and its name, and opens again when unpickled."},
    {"time_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(record_time_text)),
     METH_VARARGS | METH_KEYWORDS,
     "time_text(sample, *, milliseconds=False) -> str\n\n"
     "The WFDB time text of a sample number of this record: elapsed time (\"1:02:03\"), or the\n"
     "time of day in brackets for a negative number when the header gives a base time, as the\n"
     "WFDB tools write it; with milliseconds, to the millisecond."},
    {"window", SIGTROVE_METHOD(record_window), METH_VARARGS | METH_KEYWORDS,
     "window(start=0, stop=None) -> (int, int or None)\n\n"
     "The frame numbers [start, stop) that frames(start, stop) reads, with start and stop as\n"
     "frames() takes them: both clamped at the record's length, and stop None when none is given\n"
     "and the length can not be told (the window then runs to the end of the data). For reading a\n"
     "long window in blocks, or placing a window's frames in time."},
    SIGTROVE_RECORD_WRITE_METHOD,
    {nullptr, nullptr, 0, nullptr},
};

int is_current_op(PyObject *obj) { return is_current(obj) ? 1 : 0; }

}  // namespace

const Sigtrove_RecordOps record_ops = {record_reopen, is_current_op, record_signal_number};

PyTypeObject RecordType = [] {
    PyTypeObject t = blank_type();
    t.tp_name = "_sigtrove.Record";
    EngineObjectLife<RecordObject>::fill(t);
    t.tp_repr = record_repr;
    t.tp_str = record_str;
    t.tp_doc =
        "Access MIT-BIH database records.\n\n    Record(string record)\n\n        record - path to "
        "record (without extension. i.e. c:/physiobank/100)\n\n    fields:\n\n        record       - "
        "record name\n        nsig         - number of signals in record\n        frequency    - "
        "sampling frequency\n        signal_names - signals names\n        name         - alias for "
        "record\n    ";
    t.tp_methods = record_methods;
    t.tp_members = record_members;
    t.tp_getset = record_getset;
    t.tp_new = record_new;
    return t;
}();

PyObject *record_path_of(PyObject *record) { return as_record(record)->location.record_path; }

}  // namespace sigtrove
