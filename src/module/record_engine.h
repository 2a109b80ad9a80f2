// The engine record a Python Record owns: the description its construction read
// (header parsed once, files looked up from where the record was found) and,
// opened on first use, an engine Record with its own files, position and lock.
// The array reads and time texts of a Record work on it, never on the C
// interface's default instance, so they need neither the module lock nor the
// working directory, and different records read in parallel.
#ifndef SIGTROVE_RECORD_ENGINE_H
#define SIGTROVE_RECORD_ENGINE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <mutex>
#include <utility>

#include "record/record.h"

namespace sigtrove {

class RecordEngine {
public:
    explicit RecordEngine(std::shared_ptr<const engine::RecordDescription> description)
        : description_(std::move(description)) {}

    const engine::RecordDescription &description() const { return *description_; }

    // Runs use(engine::Record &) -> engine::Status on the record object, opening
    // it first when it is not open, under this object's lock and without the
    // interpreter lock (so other threads run meanwhile). `use` must not touch
    // Python objects.
    template <class Use>
    engine::Status with_record(Use &&use) {
        engine::Status status;
        Py_BEGIN_ALLOW_THREADS
        std::lock_guard<std::mutex> guard(lock_);
        if (!record_) status = engine::Record::open(description_, record_);
        if (status.ok()) status = use(*record_);
        Py_END_ALLOW_THREADS
        return status;
    }

    // Closes the record object's files and frees its buffers; a later use opens them again.
    void close() {
        std::unique_ptr<engine::Record> closed;
        Py_BEGIN_ALLOW_THREADS
        std::lock_guard<std::mutex> guard(lock_);
        closed = std::move(record_);
        Py_END_ALLOW_THREADS
    }

private:
    std::shared_ptr<const engine::RecordDescription> description_;
    std::mutex lock_;
    std::unique_ptr<engine::Record> record_;
};

}  // namespace sigtrove

#endif
