// Where a Record or an Annotation was opened from, and the record path rule.
// Both types start with the same three path fields and treat them alike
// (allocation, traversal, clearing, release); the rule that fills them splits a
// record path, and the directory part says where the engine looks the record's
// files up. The working directory is never changed.
#ifndef SIGTROVE_RECORD_LOCATION_H
#define SIGTROVE_RECORD_LOCATION_H

#include <string>

#include "paths/search_location.h"
#include "sigtrove.h"

namespace sigtrove {

// Calls the module attribute NAME (one of the host path functions the module
// binds) with ARG, or with nothing when ARG is null.
PyObject *call_module_function(const char *name, PyObject *arg);

// ---- the record path rule

// "data/100.hea" gives basedir "data" and record "100" ("data/x.edf" gives the
// record "x.edf": an EDF or BDF file is a record of its own name); a record name starting
// with '+' is refused with ValueError. The working directory is asked for
// (getcwdu) after the directory part is taken and before the name is, so a
// working directory that cannot be read is reported ahead of a refused name; it
// is what a relative basedir is taken from.
struct RecordPath {
    PyRef basedir;            // str, empty when the path has no directory part
    PyRef record;             // str
    PyRef working_directory;  // str, what getcwdu gave; null for a URL
};
bool split_record_path(PyObject *path, RecordPath &out);

// A path argument as a str (accepts str and os.PathLike giving str); null with
// TypeError/ValueError otherwise.
PyObject *path_argument(PyObject *arg);

// A record name as error texts show it: a URL without its user name and password.
PyObject *shown_record_name(PyObject *record);

// The record name as the engine wants it: encoded with the filesystem encoding.
bool engine_name(PyObject *record, std::string &out);

// The three path fields, laid out as both object types declare them.
struct RecordLocation {
    PyObject *record_path;  // the path exactly as the caller gave it (a str)
    PyObject *record;       // the record name: the last component, without extension (but for EDF)
    PyObject *basedir;      // the directory part; "" when the path has none

    // Every field None, as a freshly allocated object has them.
    void init();
    int traverse(visitproc visit, void *arg) const;
    // Every field None again (the cycle collector's clear).
    void clear();
    // Releases the fields (destruction).
    void release();
    // Keeps the path as given.
    void keep(PyRef path) { replace_field(record_path, std::move(path)); }
    // Sets basedir and record from the kept path by the record path rule, and
    // gives where the engine looks the record's files up from: the database path
    // (WFDB) with its relative components anchored at basedir, made absolute
    // against the working directory getcwdu gave. A basedir that is not a
    // directory that can be searched fails with the OSError that changing into
    // it gives (FileNotFoundError, NotADirectoryError, PermissionError), naming
    // it. `name` is the record name as the engine looks it up.
    bool locate(std::string &name, engine::SearchLocation &where);
};

}  // namespace sigtrove

#endif
