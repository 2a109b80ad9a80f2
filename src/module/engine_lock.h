// The one lock that serialises the original operations, which share what the
// whole process shares: the current-record slot, the files the original
// operations hold open, the annotation code table and the time basis of the
// record read last. An operation holds it also while it waits on a file or a
// server without the interpreter lock.
#ifndef SIGTROVE_ENGINE_LOCK_H
#define SIGTROVE_ENGINE_LOCK_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace sigtrove {

// Held by an operation from its first use of shared state to its return.
//
// Reentrant: Python code run inside an operation (a truth test, a path-rule
// hook, a finalizer run by an allocation) may start another operation on the
// same thread. A thread that has to wait lets other Python threads run while it
// waits, since the holder may itself be waiting for the interpreter (inside a
// truth test, for instance) before it can finish.
class EngineAccess {
public:
    EngineAccess();
    ~EngineAccess();
    EngineAccess(const EngineAccess &) = delete;
    EngineAccess &operator=(const EngineAccess &) = delete;
};

// Called once at import: a child process forked while another thread held the
// lock gets it free again (that thread does not exist in the child).
void prepare_engine_lock_for_fork();

}  // namespace sigtrove

#endif
