// One open annotation file as an object: found along the database path once,
// read and positioned on its own, with its own code table (the initial table and
// the file's own definitions) and the time basis of its record. Nothing
// process-wide changes while it is read, and its failures come back as values
// with their texts. One thread at a time may use an object.
#ifndef SIGTROVE_ENGINE_ANNOTATION_FILE_H
#define SIGTROVE_ENGINE_ANNOTATION_FILE_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "annotations/annotation_codes.h"
#include "annotations/annotation_reader.h"
#include "errors/status.h"
#include "paths/search_location.h"
#include "time/time_text.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {

// One annotation as a value.
struct AnnotationRow {
    WFDB_Time time = 0;  // in samples of the record
    int code = 0;
    int subtype = 0;
    int channel = 0;
    int number = 0;
    std::optional<std::string> aux;  // the text after the length byte, up to its first NUL
    // The annotations of an EDF file (annotator "edf"): the onset in seconds as
    // written, and the duration where one is given. None in WFDB annotation files.
    std::optional<double> onset;
    std::optional<double> duration;
};

class AnnotationFile {
public:
    // Opens RECORD.ANNOTATOR (STAT: WFDB_READ or WFDB_AHA_READ, the format the
    // file shows winning, as annopen does). The annotator "edf" of a record that
    // is an EDF file (see edf/edf_header_parser.h) is the file's own annotation
    // lists, each text a NOTE annotation with its onset, duration and text (aux),
    // ordered by onset; any other annotator is a WFDB annotation file beside it.
    static Status open(const std::string &record, const std::string &annotator, int stat,
                       std::unique_ptr<AnnotationFile> &out);
    // The same, looked up along a location captured where the record was named
    // (see search_location.h), whatever the working directory is now.
    static Status open(const std::string &record, const std::string &annotator, int stat,
                       const SearchLocation &location, std::unique_ptr<AnnotationFile> &out);

    // The annotations whose time t has start <= t < stop (no stop: to the end),
    // in file order, appended to `rows`. A file that ends without its end mark, or
    // with bytes that are no annotation, is a failure after the rows read before it.
    Status read(WFDB_Time start, std::optional<WFDB_Time> stop, std::vector<AnnotationRow> &rows);

    const AnnotationCodeTable &codes() const;
    // The codes the file defines for itself, in file order, as it states them.
    // None for the annotations of an EDF file.
    const std::vector<AnnotationReader::CodeDefinition> &definitions() const;

    // What the record's header gives for time texts; without a readable header,
    // elapsed time at WFDB's default frequency (250 Hz), as the WFDB tools count.
    const TimeBasis &time_basis() const { return time_basis_; }
    // The record's length in frames as its header gives it; 0 when it does not (or has no header).
    long record_length() const { return record_length_; }

private:
    AnnotationFile(std::unique_ptr<AnnotationReader> reader, TimeBasis basis, long record_length)
        : reader_(std::move(reader)), time_basis_(basis), record_length_(record_length) {}
    AnnotationFile(std::vector<AnnotationRow> rows, Status ending, TimeBasis basis, long record_length)
        : edf_rows_(std::move(rows)),
          edf_ending_(std::move(ending)),
          time_basis_(basis),
          record_length_(record_length) {}

    static Status open_edf(const std::string &record, SearchLocation &location, std::unique_ptr<AnnotationFile> &out);
    Status read_edf(WFDB_Time start, std::optional<WFDB_Time> stop, std::vector<AnnotationRow> &rows) const;

    std::unique_ptr<AnnotationReader> reader_;  // null for the annotations of an EDF file
    std::vector<AnnotationRow> edf_rows_;       // those annotations, by time
    Status edf_ending_;                         // how reading them ended (a failure after the rows read)
    TimeBasis time_basis_;
    long record_length_;
};

}  // namespace sigtrove::engine

#endif
