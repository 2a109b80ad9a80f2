// Where a Record or an Annotation was opened from, and the record path rule.
// Both types start with the same three path fields and treat them alike
// (allocation, traversal, clearing, release); the rule that fills them splits a
// record path and changes into its directory around engine opens.
#ifndef SIGTROVE_RECORD_LOCATION_H
#define SIGTROVE_RECORD_LOCATION_H

#include <string>

#include "sigtrove.h"

namespace sigtrove {

// Calls the module attribute NAME (one of the host path functions the module
// binds) with ARG, or with nothing when ARG is null.
PyObject *call_module_function(const char *name, PyObject *arg);

// ---- the record path rule

// Changes into a record's directory and back. The working directory is restored
// by restore() or, at the latest, by the destructor, on every path out of an
// operation; an exception pending at that moment stays the one reported.
class DirectorySwitch {
public:
    DirectorySwitch() = default;
    DirectorySwitch(const DirectorySwitch &) = delete;
    DirectorySwitch &operator=(const DirectorySwitch &) = delete;
    ~DirectorySwitch();
    // Remembers the working directory to come back to.
    bool remember();
    // Changes into basedir when it is non-empty, remembering the working
    // directory first unless remember() already has.
    bool enter(PyObject *basedir);
    // Changes back; false with an exception set when that fails.
    bool restore();

private:
    PyRef saved_;            // the remembered directory
    bool switched_ = false;  // true between a change into basedir and the change back
};

// "data/100.hea" gives basedir "data" and record "100"; a record name starting
// with '+' is refused with ValueError. The working directory is remembered in
// `directory` after the directory part is taken and before the name is, so a
// working directory that cannot be read is reported ahead of a refused name.
struct RecordPath {
    PyRef basedir;  // str, empty when the path has no directory part
    PyRef record;   // str
};
bool split_record_path(PyObject *path, RecordPath &out, DirectorySwitch &directory);

// A path argument as a str (accepts str and os.PathLike giving str); null with
// TypeError/ValueError otherwise.
PyObject *path_argument(PyObject *arg);

// The record name as the engine wants it: encoded with the filesystem encoding.
bool engine_name(PyObject *record, std::string &out);

// The three path fields, laid out as both object types declare them.
struct RecordLocation {
    PyObject *record_path;  // the path exactly as the caller gave it (a str)
    PyObject *record;       // the record name: the last component, without extension
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
    // Sets basedir and record from the kept path by the record path rule;
    // `directory` remembers the working directory to come back to.
    bool split(DirectorySwitch &directory);
};

}  // namespace sigtrove

#endif
