// A window of an open record copied into a new single-segment record: a choice
// of its signals, each in its own format or another, with every header field
// that still holds kept (names, units, gains, baselines, ADC resolutions and
// zeros, samples per frame, block sizes, frequencies, comments) and the base
// time and counter moved to the window's first frame. Every sample is kept
// (a signal with several samples per frame keeps them all), and the copy of a
// record in its own formats holds its signal files' bytes again. A copy goes a
// block at a time, so that its caller can show progress and stop it; a copy
// that does not finish leaves nothing under the new record's names.
#ifndef SIGTROVE_ENGINE_RECORD_COPY_H
#define SIGTROVE_ENGINE_RECORD_COPY_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "errors/status.h"
#include "record/record.h"
#include "writers/record_writer.h"

namespace sigtrove::engine {

struct CopyRequest {
    std::string name;  // the new record's name
    long long start = 0;
    long long stop = -1;               // exclusive; -1 to the end of the data
    std::vector<std::size_t> signals;  // header signal numbers in the copy's order; empty for all
    std::vector<int> formats;          // one per copied signal (0: its own); empty for their own
};

// The header a copy is written with (its length, initial values and checksums
// are the writer's). A signal the source has in format 0 (no samples stored, as
// in a variable layout's layout header) is written in format 16 unless another
// is asked for. Signals that shared a file in the source and share a format
// share one in the copy; a file's name is the source's with the record's name
// at its start replaced by the new one (100.dat for 100 becomes NEW.dat), or
// NEW.dat, NEW_1.dat, ... where that does not make distinct names.
Status copy_layout(const Header &source, const CopyRequest &request, Header &layout);

// The base time of SOURCE's frame FRAMES, into LAYOUT: the time of day its time
// text shows (to the millisecond, rounded as the text rounds), the date moved on
// by whole days.
void move_base_time(const Header &source, long long frames, Header &layout);

// The files an open record reads: its header, its signal files, and for a
// multi-segment record its segments' headers and signal files.
std::vector<FileIdentity> record_file_identities(const RecordDescription &description);

class RecordCopy {
public:
    // Starts copying SOURCE's window into DIRECTORY. The source's own files are
    // never written over (see WriteOptions::protected_files).
    static Status begin(Record &source, const std::string &directory, const CopyRequest &request, bool overwrite,
                        std::unique_ptr<RecordCopy> &out);

    // Copies up to FRAMES more frames; `done` once the window (or the data) ends.
    Status step(long long frames, bool &done);

    // Puts the copy in place (after the last step).
    Status finish();

    long long copied() const { return copied_; }
    // The window's length, or -1 when it runs to an end the data do not tell.
    long long total() const { return stop_ < 0 ? -1 : stop_ - start_; }
    const Header &header() const { return writer_->header(); }

private:
    RecordCopy() = default;

    Record *source_ = nullptr;
    std::unique_ptr<RecordWriter> writer_;
    std::vector<std::size_t> columns_;  // the copied signals, as numbers into source_->opened()
    long long start_ = 0, stop_ = -1, copied_ = 0;
};

}  // namespace sigtrove::engine

#endif
