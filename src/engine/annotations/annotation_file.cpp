#include "annotations/annotation_file.h"

#include <cstring>
#include <new>

#include "record/header.h"
#include "texts/error_state.h"

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
        std::unique_ptr<AnnotationReader> reader = AnnotationReader::open(record, annotator, stat, false, location);
        if (!reader) return failure(ErrorKind::not_found, capture);
        RecordClock clock = clock_of(record, location);
        out.reset(new AnnotationFile(std::move(reader), clock.basis, clock.length));
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory, "annopen: can't allocate memory\n");
    }
}

Status AnnotationFile::read(WFDB_Time start, std::optional<WFDB_Time> stop, std::vector<AnnotationRow> &rows) {
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
