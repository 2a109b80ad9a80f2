// WFDB time texts as Python values: a sample number shown as a time text, and
// the argument forms the array reads take for a position (a number, or a time
// text as the WFDB tools take it).
#ifndef SIGTROVE_TIME_TEXTS_H
#define SIGTROVE_TIME_TEXTS_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "texts/time_text.h"

namespace sigtrove {

// The arguments of time_text(sample, *, milliseconds=False).
struct TimeTextRequest {
    long sample = 0;
    bool milliseconds = false;

    bool parse(PyObject *args, PyObject *kwargs);
};

// The engine's time text of a sample number by this basis, without its left padding.
PyObject *time_text_object(const TimeTextRequest &request, const engine::TimeBasis &basis);

}  // namespace sigtrove

#endif
