// The boundary between the WFDB C interface and the engine's C++: no exception
// may cross into a C caller. Running out of memory inside a call becomes the
// call's failure code, with the text the call records for it.
#ifndef SIGTROVE_ENGINE_C_BOUNDARY_H
#define SIGTROVE_ENGINE_C_BOUNDARY_H

#include <new>
#include <utility>

#include "errors/error_state.h"

namespace sigtrove::engine {

// The text recorded when memory runs out: a format with one %s, and what fills it.
struct OutOfMemoryText {
    const char *format;
    const char *subject;
};

// The texts of the signal calls ("getvec: not enough memory") and of the annotation calls.
inline OutOfMemoryText not_enough_memory(const char *call) { return {"%s: not enough memory\n", call}; }
inline OutOfMemoryText cannot_allocate(const char *call) { return {"%s: can't allocate memory\n", call}; }

struct NothingToUndo {
    void operator()() const {}
};

// Runs `body` and returns its result; should it run out of memory, runs `undo`
// (which must not allocate), records the text and returns `failure`.
template <class Result, class Body, class Undo = NothingToUndo>
Result guarded_call(OutOfMemoryText text, Result failure, Body &&body, Undo &&undo = NothingToUndo{}) {
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc &) {
        undo();
        record_error(text.format, text.subject);
        return failure;
    }
}

}  // namespace sigtrove::engine

#endif
