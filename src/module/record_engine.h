// The engine record a Python Record owns: the description its construction read
// (header parsed once, files looked up from where the record was found) and,
// opened when an operation needs it, the record's signals with their own files,
// position and lock, read as getvec reads them (a FrameInput of its own). Every
// operation of a Record works on it, never on the C interface's default
// instance: none needs the working directory, and different records read in
// parallel.
#ifndef SIGTROVE_RECORD_ENGINE_H
#define SIGTROVE_RECORD_ENGINE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <exception>
#include <memory>
#include <mutex>
#include <utility>

#include "record/frame_input.h"
#include "record/record.h"

namespace sigtrove {

class RecordEngine {
public:
    // `mode` is the getvec mode the record's samples are read in (WFDBGVMODE).
    RecordEngine(std::shared_ptr<const engine::RecordDescription> description, int mode)
        : description_(std::move(description)) {
        input_.set_mode(mode);
    }

    const engine::RecordDescription &description() const { return *description_; }
    const std::shared_ptr<const engine::RecordDescription> &shared_description() const { return description_; }
    // High-resolution reading was asked for (WFDBGVMODE).
    bool high_resolution() const { return input_.high_mode(); }

    // Runs use(engine::Record &) -> engine::Status on the record object, opening
    // it first when it is not open, under this object's lock and without the
    // interpreter lock (so other threads run meanwhile). `use` must not touch
    // Python objects.
    template <class Use>
    engine::Status with_record(Use &&use) {
        engine::Status status;
        Py_BEGIN_ALLOW_THREADS
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++epoch_;
            if (input_.record_count() == 0) status = open_with_status();
            if (status.ok()) status = use(input_.record(0));
        }
        Py_END_ALLOW_THREADS
        return status;
    }

    // Inside with_input only: opens the record's signals when they are not open,
    // recording the engine's texts where the caller collects them (an
    // ErrorCapture of its own, or the process's last text): how many signals are
    // open (> 0), or the engine's failure code (0 or less). Throws std::bad_alloc.
    int open_signals();

    // Runs use(engine::FrameInput &) on the open signals (open_signals() must
    // have succeeded) under this object's lock, without the interpreter lock;
    // returns what `use` returns. Texts are recorded as open_signals says; `use`
    // must not touch Python objects and may throw std::bad_alloc.
    template <class Use>
    auto with_input(Use &&use) {
        decltype(use(input_)) result{};
        std::exception_ptr failure;
        Py_BEGIN_ALLOW_THREADS
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++epoch_;
            try {
                result = use(input_);
            } catch (...) {
                failure = std::current_exception();
            }
        }
        Py_END_ALLOW_THREADS
        if (failure) std::rethrow_exception(failure);
        return result;
    }

    // Counts every use of the record object: a caller that ran Python code between
    // two uses compares it to learn whether the position it left was moved.
    unsigned long epoch() const { return epoch_.load(); }

    // Closes the record object's files and frees its buffers; a later use opens them again.
    void close() {
        Py_BEGIN_ALLOW_THREADS
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++epoch_;
            input_.close();
        }
        Py_END_ALLOW_THREADS
    }

private:
    engine::Status open_with_status();

    std::shared_ptr<const engine::RecordDescription> description_;
    std::mutex lock_;
    engine::FrameInput input_;  // holds the one engine Record when it is open
    std::atomic<unsigned long> epoch_{0};
};

}  // namespace sigtrove

#endif
