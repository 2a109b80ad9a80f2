// Writes a single-segment record: its signal files, then its header, each under
// a temporary name in the destination folder until the whole record is written
// and flushed. The frames go out block by block; initial values, checksums and
// the length are counted as they go, and every value is checked against its
// format first: a value the format can not hold fails the write, naming the
// signal and the frame, and nothing of the record appears under its names.
#ifndef SIGTROVE_ENGINE_RECORD_WRITER_H
#define SIGTROVE_ENGINE_RECORD_WRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "errors/status.h"
#include "header/header.h"
#include "io/output_file.h"
#include "writers/group_writer.h"
#include "writers/writable_formats.h"

namespace sigtrove::engine {

// One signal's samples in a block handed to the writer: frame k's spf samples
// at first[k * stride + j], j < spf (as a ColumnBlock lays them out).
struct SampleColumn {
    enum class Kind {
        stored,    // std::int32_t stored values; a null `first` means every sample is invalid
        stored64,  // std::int64_t stored values
        physical,  // double values in physical units: round(value * gain) + baseline, NaN invalid
    };
    Kind kind = Kind::stored;
    const void *first = nullptr;
    std::size_t stride = 1;
};

struct WriteOptions {
    bool overwrite = false;  // replace files of an existing record of the same name
    // Files that are never written over, whatever `overwrite` says: those of the
    // record being read.
    std::vector<FileIdentity> protected_files;
    // Texts name frames counted from here (the first frame of a window copied).
    long long first_frame_number = 0;
};

class RecordWriter {
public:
    // Creates the signal files of LAYOUT in DIRECTORY, under temporary names.
    // LAYOUT is the header to write: the record's name in `record`, its
    // frequencies, base time and comments (each the text after its '#'), and per
    // signal the file name, format, samples per frame, gain, baseline, units, ADC
    // resolution and zero, description and block size. Signals that name the same
    // file one after another share it; the initial values, checksums and length
    // are the writer's. Without `overwrite` an existing file of the record fails
    // the call (ErrorKind::exists).
    static Status create(const std::string &directory, const Header &layout, const WriteOptions &options,
                         std::unique_ptr<RecordWriter> &out);

    ~RecordWriter();
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // Appends FRAMES frames, COLUMNS holding one column per signal. After a
    // failure the writer takes nothing more.
    Status put(std::size_t frames, const SampleColumn *columns);

    // Writes the header and puts every file in place: the signal files first, the
    // header last.
    Status finish();

    long long frames() const { return frames_; }
    // The header as written (complete once finish() succeeded).
    const Header &header() const { return header_; }
    const std::string &directory() const { return directory_; }

private:
    struct SignalState {
        const WritableFormat *format = nullptr;
        std::size_t group = 0;
        std::size_t offset = 0;  // of its first sample in its group's frame
        double scale = 1;        // the gain physical values are converted with
        long long checksum = 0;
        std::int32_t running = 0;  // format 8: the last value written
    };
    struct GroupState {
        std::unique_ptr<GroupWriter> writer;
        std::size_t samples_per_frame = 0;
        std::vector<std::int32_t> stream;
    };

    RecordWriter() = default;
    template <class Value>
    Status put_signal(std::size_t s, std::size_t frames, const SampleColumn &column, Value value);
    template <class Convert>
    bool put_valid_signal(std::size_t s, std::size_t frames, std::size_t stride, Convert convert);
    bool put_valid(std::size_t s, std::size_t frames, const SampleColumn &column);
    Status refuse(std::size_t signal, long long frame, const std::string &what) const;

    std::string directory_;
    Header header_;
    WriteOptions options_;
    std::vector<SignalState> signals_;
    std::vector<GroupState> groups_;
    long long frames_ = 0;
    bool failed_ = false;
    bool finished_ = false;
};

// The identities of a record's files as a reader found them (its header and its
// signal files), so that a writer never writes over them.
// Nothing is there for a file that can not be found.
void add_file_identity(const std::string &path, std::vector<FileIdentity> &out);

}  // namespace sigtrove::engine

#endif
