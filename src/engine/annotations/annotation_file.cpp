#include "annotations/annotation_file.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "annotations/annotation_prefetch.h"
#include "edf/edf_annotations.h"
#include "edf/edf_header_parser.h"
#include "errors/error_state.h"
#include "header/header.h"
#include "record_header/record_header.h"
#include "wfdb/ecgcodes.h"

namespace sigtrove::engine {
namespace {

Status failure(ErrorKind kind, const ErrorCapture &capture) {
    std::string text;
    for (const std::string &t : capture.texts()) text += t;
    // Whatever the operation was, a server that could not be reached is what failed it.
    return Status::failure(capture.remote_failure() ? ErrorKind::remote : kind, std::move(text));
}

// What the record's header says for time texts: its basis and length (none: WFDB's
// default frequency, no length). Nothing is recorded when it has no header.
struct RecordClock {
    TimeBasis basis{WFDB_DEFFREQ, 0, 0};
    long length = 0;
};

RecordClock clock_of(const std::string &record, SearchLocation &location) {
    ErrorCapture quiet;
    Header header;
    if (read_header(record, location, header) < 0) return RecordClock{};
    return RecordClock{TimeBasis{header.frame_frequency(), header.base_ms, header.base_date}, header.nsamp};
}

}  // namespace

Status AnnotationFile::open(const std::string &record, const std::string &annotator, int stat,
                            std::unique_ptr<AnnotationFile> &out) {
    return open(record, annotator, stat, SearchLocation::capture(record), out);
}

Status AnnotationFile::open(const std::string &record, const std::string &annotator, int stat,
                            const SearchLocation &where, std::unique_ptr<AnnotationFile> &out) {
    ErrorCapture capture;
    try {
        if (stat != WFDB_READ && stat != WFDB_AHA_READ) {
            return Status::failure(ErrorKind::bad_request, "annopen: illegal stat " + std::to_string(stat) +
                                                               " for annotator " + annotator + ", record " + record +
                                                               "\n");
        }
        SearchLocation location = where;
        if (annotator == "edf" && edf_file_kind(record) != EdfFileKind::none) return open_edf(record, location, out);
        // The header is read next, for the record's clock: both files come in one round trip.
        prefetch_annotation_with_header(record, annotator, location);
        std::unique_ptr<AnnotationReader> reader = AnnotationReader::open(record, annotator, stat, false, location);
        if (!reader) return failure(ErrorKind::not_found, capture);
        RecordClock clock = clock_of(record, location);
        out.reset(new AnnotationFile(std::move(reader), clock.basis, clock.length));
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory, "annopen: can't allocate memory\n");
    }
}

Status AnnotationFile::open_edf(const std::string &record, SearchLocation &location,
                                std::unique_ptr<AnnotationFile> &out) {
    ErrorCapture capture;
    Header header;
    if (int rc = read_header(record, location, header); rc < 0)
        return failure(rc == -1 ? ErrorKind::not_found : rc == -3 ? ErrorKind::limit : ErrorKind::malformed, capture);
    std::vector<EdfAnnotation> annotations;
    Status ending = read_edf_annotations(header, record, annotations);
    // A file whose annotations can not be read at all is not opened; one that fails part way gives what it read.
    if (!ending.ok() &&
        (annotations.empty() || ending.kind() == ErrorKind::not_found || ending.kind() == ErrorKind::limit))
        return ending;
    std::vector<AnnotationRow> rows;
    rows.reserve(annotations.size());
    for (EdfAnnotation &a : annotations) {
        AnnotationRow &row = rows.emplace_back();
        row.time = static_cast<WFDB_Time>(a.time);
        row.code = NOTE;
        row.aux = std::move(a.text);
        row.onset = a.onset;
        row.duration = a.duration;
    }
    TimeBasis basis{header.frame_frequency(), header.base_ms, header.base_date};
    out.reset(new AnnotationFile(std::move(rows), std::move(ending), basis, header.nsamp));
    return Status();
}

Status AnnotationFile::read_edf(WFDB_Time start, std::optional<WFDB_Time> stop,
                                std::vector<AnnotationRow> &rows) const {
    auto first = std::lower_bound(edf_rows_.begin(), edf_rows_.end(), start,
                                  [](const AnnotationRow &row, WFDB_Time t) { return row.time < t; });
    auto at = first;
    for (; at != edf_rows_.end() && (!stop || at->time < *stop); ++at) rows.push_back(*at);
    // A failure part way through the file ends the reads that run to the end of what was read.
    return at == edf_rows_.end() ? edf_ending_ : Status();
}

const std::vector<AnnotationReader::CodeDefinition> &AnnotationFile::definitions() const {
    static const std::vector<AnnotationReader::CodeDefinition> none;
    return reader_ ? reader_->definitions() : none;
}

const AnnotationCodeTable &AnnotationFile::codes() const {
    static const AnnotationCodeTable initial;
    return reader_ ? reader_->codes() : initial;
}

Status AnnotationFile::read(WFDB_Time start, std::optional<WFDB_Time> stop, std::vector<AnnotationRow> &rows) {
    if (!reader_) return read_edf(start, stop, rows);
    ErrorCapture capture;
    try {
        SeekOutcome outcome = reader_->seek(start);
        if (outcome == SeekOutcome::at_end) return Status();
        if (outcome != SeekOutcome::positioned) return failure(ErrorKind::unreadable, capture);
        WFDB_Annotation annotation{};
        for (;;) {
            int rc = reader_->next(annotation);
            if (rc == -1) return Status();
            if (rc < 0) return failure(ErrorKind::unreadable, capture);
            if (stop && annotation.time >= *stop) return Status();
            AnnotationRow &row = rows.emplace_back();
            row.time = annotation.time;
            row.code = static_cast<unsigned char>(annotation.anntyp);
            row.subtype = annotation.subtyp;
            row.channel = annotation.chan;
            row.number = annotation.num;
            if (annotation.aux) {
                const char *text = reinterpret_cast<const char *>(annotation.aux + 1);
                row.aux.emplace(text, strnlen(text, annotation.aux[0]));
            }
        }
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory, "getann: can't allocate memory\n");
    }
}

}  // namespace sigtrove::engine
