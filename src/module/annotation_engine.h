// The engine annotation files an Annotation owns: where its file is looked up
// (the location its construction made from the record path), the reader that
// Annotation.read goes through in file order (opened by each open of the
// original interface, its position carried from read to read), and, opened on
// first use, an engine AnnotationFile for time texts and array reads, with a
// position of its own. Each has this object's lock; neither needs the working
// directory or changes anything process-wide.
#ifndef SIGTROVE_ANNOTATION_ENGINE_H
#define SIGTROVE_ANNOTATION_ENGINE_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "annotations/annotation_file.h"
#include "annotations/annotation_reader.h"
#include "record_header/record_header.h"

namespace sigtrove {

class AnnotationEngine {
public:
    AnnotationEngine(std::string record, std::string annotator, int stat, engine::SearchLocation location)
        : record_(std::move(record)),
          annotator_(std::move(annotator)),
          stat_(stat),
          location_(std::move(location)),
          edf_(annotator_ == "edf" && engine::names_edf_file(record_)) {}

    // Runs use(engine::AnnotationFile &) -> engine::Status on the file, opening it
    // first when it is not open, under this object's lock and without the
    // interpreter lock. `use` must not touch Python objects.
    template <class Use>
    engine::Status with_file(Use &&use) {
        engine::Status status;
        Py_BEGIN_ALLOW_THREADS
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (!file_) status = engine::AnnotationFile::open(record_, annotator_, stat_, location_, file_);
            if (status.ok()) status = use(*file_);
        }
        Py_END_ALLOW_THREADS
        return status;
    }

    // Opens the reader of Annotation.read afresh (looking the file up again), as
    // annopen opens a file: texts are recorded where the caller collects them.
    // False when the file can not be opened. Inside with_reader only.
    // `high_resolution`: times count high-resolution samples (WFDBGVMODE).
    bool open_reader(bool high_resolution);
    // The reader opened last (null when none is open). Inside with_reader only.
    engine::AnnotationReader *reader() { return reader_.get(); }

    // The annotator "edf" of an EDF file has no annotation file for a reader: its
    // annotation lists, read whole by open_reader, stand in for one, with a
    // cursor that Annotation.read moves as it moves a reader. Inside with_reader only.
    bool reads_edf_lists() const { return edf_; }
    const std::vector<engine::AnnotationRow> &edf_rows() const { return edf_rows_; }
    std::size_t &edf_cursor() { return edf_cursor_; }
    // How reading the lists ended: a failure after the rows read, reported when a read reaches it.
    const engine::Status &edf_ending() const { return edf_ending_; }

    // Runs use() -> R under this object's lock without the interpreter lock;
    // `use` must not touch Python objects and may throw std::bad_alloc.
    template <class Use>
    auto with_reader(Use &&use) {
        decltype(use()) result{};
        std::exception_ptr failure;
        Py_BEGIN_ALLOW_THREADS
        {
            std::lock_guard<std::mutex> guard(lock_);
            try {
                result = use();
            } catch (...) {
                failure = std::current_exception();
            }
        }
        Py_END_ALLOW_THREADS
        if (failure) std::rethrow_exception(failure);
        return result;
    }

    const engine::SearchLocation &location() const { return location_; }
    // The record's name as the engine looks it up (a URL for a record on a web server).
    const std::string &record() const { return record_; }

    // Closes the reader of Annotation.read; its next open starts at the file's beginning.
    void close_reader() {
        std::unique_ptr<engine::AnnotationReader> closed;
        Py_BEGIN_ALLOW_THREADS
        {
            std::lock_guard<std::mutex> guard(lock_);
            closed = std::move(reader_);
            edf_rows_.clear();
            edf_cursor_ = 0;
        }
        closed.reset();
        Py_END_ALLOW_THREADS
    }

    // Closes both; a later use opens them again.
    void close() {
        std::unique_ptr<engine::AnnotationFile> closed;
        std::unique_ptr<engine::AnnotationReader> closed_reader;
        Py_BEGIN_ALLOW_THREADS
        {
            std::lock_guard<std::mutex> guard(lock_);
            closed = std::move(file_);
            closed_reader = std::move(reader_);
            edf_rows_.clear();
            edf_cursor_ = 0;
        }
        closed.reset();
        closed_reader.reset();
        Py_END_ALLOW_THREADS
    }

private:
    std::string record_, annotator_;
    int stat_;
    engine::SearchLocation location_;
    std::mutex lock_;
    std::unique_ptr<engine::AnnotationFile> file_;
    std::unique_ptr<engine::AnnotationReader> reader_;
    bool edf_;
    std::vector<engine::AnnotationRow> edf_rows_;
    std::size_t edf_cursor_ = 0;
    engine::Status edf_ending_;
};

}  // namespace sigtrove

#endif
