// Writes one signal file: the sample stream of a group of signals (every frame
// holds each signal's samples in turn) in the group's format.
#ifndef SIGTROVE_ENGINE_GROUP_WRITER_H
#define SIGTROVE_ENGINE_GROUP_WRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "errors/status.h"
#include "io/output_file.h"

namespace sigtrove::engine {

class GroupWriter {
public:
    virtual ~GroupWriter() = default;

    // FRAMES frames of the group's stream: the stored values ready for the format
    // (invalid samples as its code, format 8 as steps).
    virtual Status write(const std::int32_t *stream, std::size_t frames) = 0;

    // Writes what is left and finishes the file (all written out); it is put
    // in place by its owner.
    virtual Status finish() = 0;

    OutputFile &file() { return *file_; }

protected:
    explicit GroupWriter(std::unique_ptr<OutputFile> file) : file_(std::move(file)) {}
    std::unique_ptr<OutputFile> file_;
};

// A writer for FORMAT into FILE, whose group has signals with these samples per
// frame. The FLAC formats need every signal of the group to have the same
// samples per frame, at most 8 signals, and an engine built with libFLAC
// (bad_request otherwise).
Status open_group_writer(std::unique_ptr<OutputFile> file, int format, const std::vector<int> &samples_per_frame,
                         std::unique_ptr<GroupWriter> &out);

// The FLAC writer (flac_group_writer.cpp).
Status open_flac_group_writer(std::unique_ptr<OutputFile> file, int bits, const std::vector<int> &samples_per_frame,
                              std::unique_ptr<GroupWriter> &out);

}  // namespace sigtrove::engine

#endif
