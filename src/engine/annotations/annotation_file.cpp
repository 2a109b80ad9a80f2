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

// The record's time basis, from its header when it has one; nothing is recorded when it has none.
TimeBasis time_basis_of(const std::string &record) {
    ErrorCapture quiet;
    Header header;
    if (read_header(record, header) < 0) return TimeBasis{};
    return TimeBasis{header.frame_frequency(), header.base_ms, header.base_date};
}

}  // namespace

Status AnnotationFile::open(const std::string &record, const std::string &annotator, int stat,
                            std::unique_ptr<AnnotationFile> &out) {
    ErrorCapture capture;
    try {
        if (stat != WFDB_READ && stat != WFDB_AHA_READ) {
            return Status::failure(ErrorKind::bad_request, "annopen: illegal stat " + std::to_string(stat) +
                                                               " for annotator " + annotator + ", record " +
                                                               record + "\n");
        }
        std::unique_ptr<AnnotationReader> reader = AnnotationReader::open(record, annotator, stat, false);
        if (!reader) return failure(ErrorKind::not_found, capture);
        out.reset(new AnnotationFile(std::move(reader), time_basis_of(record)));
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
