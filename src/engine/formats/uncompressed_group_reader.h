// The group readers behind open_uncompressed_group_reader: one for stored
// sample streams, one that turns format 8 differences into running values,
// one for format 0 groups, which have no file.
#ifndef SIGTROVE_ENGINE_UNCOMPRESSED_GROUP_READER_H
#define SIGTROVE_ENGINE_UNCOMPRESSED_GROUP_READER_H

#include <memory>

#include "formats/group_reader.h"
#include "formats/sample_formats.h"

namespace sigtrove::engine {

// Reads a file of packed or byte-per-sample values (every uncompressed format
// with a file; format 8 yields its raw differences).
std::unique_ptr<GroupReader> open_stream_group_reader(const GroupLayout &layout, const SampleFormat &format,
                                                      std::shared_ptr<SignalFileHandle> file);

// Wraps the reader of a format 8 file: running values start at INITVAL at
// frame 0 and are recomputed after a seek from checkpoints kept while reading.
std::unique_ptr<GroupReader> open_difference_group_reader(const GroupLayout &layout,
                                                          std::unique_ptr<GroupReader> differences);

// A format 0 group: every sample invalid, layout.frame_limit frames (or no end).
std::unique_ptr<GroupReader> open_null_group_reader(const GroupLayout &layout);

}  // namespace sigtrove::engine

#endif
