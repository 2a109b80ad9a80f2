// The engine annotation file an Annotation owns beside the C interface's open
// files: where the file was found (the location captured when the Annotation
// opened it) and, opened on first use, an engine AnnotationFile with its own
// position, code table and lock. Time texts and array reads of an Annotation go
// through it: no module lock, no working directory.
#ifndef SIGTROVE_ANNOTATION_ENGINE_H
#define SIGTROVE_ANNOTATION_ENGINE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "annotations/annotation_file.h"

namespace sigtrove {

class AnnotationEngine {
public:
    AnnotationEngine(std::string record, std::string annotator, int stat, engine::SearchLocation location)
        : record_(std::move(record)), annotator_(std::move(annotator)), stat_(stat), location_(std::move(location)) {}

    // Runs use(engine::AnnotationFile &) -> engine::Status on the file, opening it
    // first when it is not open, under this object's lock and without the
    // interpreter lock. `use` must not touch Python objects.
    template <class Use>
    engine::Status with_file(Use &&use) {
        engine::Status status;
        Py_BEGIN_ALLOW_THREADS
        std::lock_guard<std::mutex> guard(lock_);
        if (!file_) status = engine::AnnotationFile::open(record_, annotator_, stat_, location_, file_);
        if (status.ok()) status = use(*file_);
        Py_END_ALLOW_THREADS
        return status;
    }

    const engine::SearchLocation &location() const { return location_; }
    // The record's name as the engine looks it up (a URL for a record on a web server).
    const std::string &record() const { return record_; }

    // Closes the file; a later use opens it again.
    void close() {
        std::unique_ptr<engine::AnnotationFile> closed;
        Py_BEGIN_ALLOW_THREADS
        std::lock_guard<std::mutex> guard(lock_);
        closed = std::move(file_);
        Py_END_ALLOW_THREADS
    }

private:
    std::string record_, annotator_;
    int stat_;
    engine::SearchLocation location_;
    std::mutex lock_;
    std::unique_ptr<engine::AnnotationFile> file_;
};

}  // namespace sigtrove

#endif
