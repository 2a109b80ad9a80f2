// A window of an open record copied into an EDF+ or BDF+ file: a choice of its
// signals with their names, units, gains, baselines and samples per frame, the
// start moved to the window's first frame, and the annotations given (times in
// the record's frames; those of the window are kept). Stored values are copied
// as they are; a WFDB record's invalid samples become the format's lowest value.
// Like RecordCopy it goes a block at a time, and leaves nothing behind when it
// does not finish.
#ifndef SIGTROVE_ENGINE_EDF_COPY_H
#define SIGTROVE_ENGINE_EDF_COPY_H

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "errors/status.h"
#include "record/record.h"
#include "writers/edf_writer.h"

namespace sigtrove::engine {

struct EdfCopyRequest {
    std::string name;  // the file's name, with its suffix
    EdfKind kind = EdfKind::edf;
    long long start = 0;
    long long stop = -1;                            // exclusive; -1 to the end of the data
    std::vector<std::size_t> signals;               // header signal numbers in the copy's order; empty for all
    std::vector<EdfAnnotationAtFrame> annotations;  // frames of the record
    std::optional<std::string> patient, recording;
};

class EdfCopy {
public:
    static Status begin(Record &source, const std::string &directory, EdfCopyRequest request, bool overwrite,
                        std::unique_ptr<EdfCopy> &out);

    // Copies up to FRAMES more frames; `done` once the window (or the data) ends.
    Status step(long long frames, bool &done);

    // Puts the file in place (after the last step).
    Status finish();

    long long copied() const { return copied_; }
    long long total() const { return stop_ - start_; }

private:
    EdfCopy() = default;

    Record *source_ = nullptr;
    std::unique_ptr<EdfWriter> writer_;
    std::vector<std::size_t> columns_;  // the copied signals, as numbers into source_->opened()
    long long start_ = 0, stop_ = 0, copied_ = 0;
};

}  // namespace sigtrove::engine

#endif
