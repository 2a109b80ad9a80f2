// Writes an EDF+ (16-bit) or BDF+ (24-bit) file: its data signals, whose digital
// range is the format's whole range, with physical ranges that give back
// (value - baseline) / gain through the EDF formula; and one annotation signal
// that dates each data record and holds the annotations. The file is written
// under a temporary name in its folder, a data record at a time as the frames
// come, and put in place by finish(). A value the format can not hold fails the
// write, naming the signal and the frame, and nothing appears under the name.
#ifndef SIGTROVE_ENGINE_EDF_WRITER_H
#define SIGTROVE_ENGINE_EDF_WRITER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "errors/status.h"
#include "io/output_file.h"
#include "writers/edf_annotation_signal.h"
#include "writers/edf_record_duration.h"
#include "writers/record_writer.h"

namespace sigtrove::engine {

enum class EdfKind { edf, bdf };

struct EdfSignalToWrite {
    std::string label;      // empty: "signal N"
    std::string dimension;  // empty: "mV"
    double gain = 200;      // stored values per physical unit (0 counts as 200)
    long long baseline = 0;
    int samples_per_frame = 1;
};

struct EdfAnnotationAtFrame {
    long long frame = 0;                   // the frame its onset is the start of
    std::optional<std::int64_t> duration;  // nanoseconds
    std::string text;
};

struct EdfFile {
    std::string name;  // the file's name in its folder, with its suffix
    EdfKind kind = EdfKind::edf;
    double frequency = 0;  // frames per second
    long long frames = 0;  // frames that will be put (at least 1)
    std::vector<EdfSignalToWrite> signals;
    // The start: a time of day, and a Julian day number (0 for none); without
    // either the header gives EDF+'s unknown start, 01.01.85 00.00.00.
    bool has_start = false;
    long start_ms = 0;
    long start_date = 0;
    std::string patient = "X X X X";
    std::optional<std::string> recording;  // default: "Startdate dd-MMM-yyyy X X X" (or "X" for the date)
    std::vector<EdfAnnotationAtFrame> annotations;
    // Whether WFDB_INVALID_SAMPLE among int32 stored values is an invalid sample (a WFDB
    // record's), written as the format's lowest value; an EDF file's stored values are all samples.
    bool stored_invalid = true;
};

// The lowest and highest stored values of a kind of file: all of them are samples.
std::int32_t edf_digital_minimum(EdfKind kind);
std::int32_t edf_digital_maximum(EdfKind kind);

class EdfWriter {
public:
    // Creates FILE in DIRECTORY under a temporary name. Physical values (put as
    // SampleColumn::Kind::physical) are stored as round(value * gain) + baseline,
    // halves away from zero, NaN as the format's lowest value; stored values as
    // they are. Without `overwrite` an existing file fails the call
    // (ErrorKind::exists); one in `protected_files` always does.
    static Status create(const std::string &directory, const EdfFile &file, const WriteOptions &options,
                         std::unique_ptr<EdfWriter> &out);

    ~EdfWriter();
    EdfWriter(const EdfWriter &) = delete;
    EdfWriter &operator=(const EdfWriter &) = delete;

    // Appends FRAMES frames, one column per signal; at most file.frames in all.
    Status put(std::size_t frames, const SampleColumn *columns);

    // Fills out the last data record (with each signal's last value) where the
    // frames do not fill it, and puts the file in place.
    Status finish();

    long long frames() const { return frames_; }
    const EdfRecordDuration &duration() const { return duration_; }
    const std::string &path() const { return file_->path(); }

private:
    EdfWriter() = default;
    template <class Convert>
    Status put_signal(std::size_t s, std::size_t k, std::size_t frames, std::size_t stride, Convert convert,
                      const double *physical = nullptr);
    Status put_column(std::size_t s, std::size_t first, std::size_t frames, const SampleColumn &column);
    Status refuse(std::size_t signal, long long frame, const std::string &what) const;
    Status write_record();

    EdfFile layout_;
    WriteOptions options_;
    EdfRecordDuration duration_;
    EdfAnnotationSignal annotations_;
    std::unique_ptr<OutputFile> file_;
    int sample_bytes_ = 2;
    std::int32_t dmin_ = 0, dmax_ = 0;
    std::vector<std::size_t> offsets_;  // of each signal's samples in a data record (bytes)
    std::vector<std::int32_t> last_;    // each signal's last value, for filling out
    std::vector<std::uint8_t> record_;  // the data record being filled
    std::vector<std::uint8_t> annotation_bytes_;
    std::size_t annotation_offset_ = 0;
    long long filled_ = 0;  // frames of record_ filled
    long long records_written_ = 0;
    long long frames_ = 0;
    bool failed_ = false, finished_ = false;
};

}  // namespace sigtrove::engine

#endif
