/* The C interface that _sigtrove publishes to other extension modules.
 *
 *     Sigtrove_CAPI *api = (Sigtrove_CAPI *)PyCapsule_Import("_sigtrove._C_API", 0);
 *
 * Check api->version before using any field; a slot whose operation the module
 * does not provide is NULL.
 */
#ifndef SIGTROVE_CAPI_H
#define SIGTROVE_CAPI_H

#include <Python.h>

#include "wfdb/wfdb.h"

#ifdef __cplusplus
extern "C" {
#endif

#define SIGTROVE_CAPI_VERSION 1
#define SIGTROVE_CAPI_NAME "_sigtrove._C_API"

/* Internal operations of Record, in slot order. Each returns 0 on success and
 * -1 with a Python exception set on failure, except is_current, which returns
 * 1 or 0. */
typedef struct {
    int (*reopen)(PyObject *record);
    int (*is_current)(PyObject *obj);
    /* Turns a signal number or name into a signal number (>= 0), or -1 with an
     * exception set. */
    int (*signal_number)(PyObject *record, PyObject *signal_id);
} Sigtrove_RecordOps;

/* Internal operations of AnnotationEntry. get_struct fills *out from the entry;
 * out->aux points into storage owned by the entry (NULL when it has no aux) and
 * stays valid while the entry is alive and unchanged. It is the entry's aux text
 * as stored (UTF-8), not WFDB's aux record, whose first byte counts the bytes
 * that follow: the entries Annotation.read builds hold the text alone, so a
 * caller that hands *out on to WFDB builds that record itself. */
typedef struct {
    int (*get_struct)(PyObject *entry, WFDB_Annotation *out);
} Sigtrove_AnnotationEntryOps;

typedef struct {
    int version; /* SIGTROVE_CAPI_VERSION */
    PyTypeObject *RecordType;
    PyTypeObject *AnnotationType;
    const Sigtrove_RecordOps *record_ops;
    const Sigtrove_AnnotationEntryOps *annotation_entry_ops;
    /* The engine's version line, as wfdberror() gave it before any error. */
    const char *engine_version_line;
} Sigtrove_CAPI;

#ifdef __cplusplus
}
#endif

#endif
