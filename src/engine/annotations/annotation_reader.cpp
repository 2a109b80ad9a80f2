#include "annotations/annotation_reader.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "annotations/annotation_aha_format.h"
#include "annotations/annotation_codes.h"
#include "annotations/annotation_labels.h"
#include "annotations/annotation_mit_format.h"
#include "annotations/annotation_prefetch.h"
#include "errors/error_state.h"
#include "header/header.h"
#include "network/url_text.h"
#include "paths/path_search.h"
#include "paths/search_location.h"
#include "record_header/record_header.h"
#include "wfdb/ecgcodes.h"

namespace sigtrove::engine {
namespace {

const char *format_name(AnnotationFormat format) { return format == AnnotationFormat::aha ? "AHA" : "MIT"; }

// Labels are NOTE annotations at time 0 (in the file's own ticks) with subtype 0.
bool is_modification_label(const StoredAnnotation &annotation) {
    return annotation.anntyp == NOTE && annotation.time == 0 && annotation.subtyp == 0;
}

// The label's text as a C string: up to its first NUL.
std::string_view label_text(const StoredAnnotation &annotation) {
    if (!annotation.has_aux) return {};
    auto *text = reinterpret_cast<const char *>(annotation.aux);
    return std::string_view(text, strnlen(text, annotation.aux_length));
}

// A multi-segment record keeps its signals in its segments: the first segment
// that is not a gap (the layout header, in a variable layout) lists them all.
int largest_spf_of_record(const Header &header, SearchLocation &location) {
    if (!header.multi_segment) return header.largest_spf();
    for (const SegmentSpec &segment : header.segments) {
        if (segment.name == "~") continue;
        Header first;
        return read_segment_header(segment.name, location, first) < 0 ? 1 : first.largest_spf();
    }
    return 1;
}

}  // namespace

AnnotationReader::AnnotationReader(std::string record, std::string annotator, ByteSourcePtr source)
    : record_(std::move(record)), annotator_(std::move(annotator)), stream_(std::move(source)) {}

std::unique_ptr<AnnotationReader> AnnotationReader::open(const std::string &record, const std::string &annotator,
                                                         int stat, bool high_resolution) {
    FoundFile found = annotator.empty() ? FoundFile{} : open_record_file(record, annotator);
    return open_found(record, annotator, stat, high_resolution, std::move(found), nullptr);
}

std::unique_ptr<AnnotationReader> AnnotationReader::open(const std::string &record, const std::string &annotator,
                                                         int stat, bool high_resolution, SearchLocation &location) {
    // Times in high-resolution samples need the record's header: both files come in one round trip.
    if (high_resolution) prefetch_annotation_with_header(record, annotator, location);
    FoundFile found = annotator.empty() ? FoundFile{} : location.open_record_file(record, annotator);
    return open_found(record, annotator, stat, high_resolution, std::move(found), &location);
}

std::unique_ptr<AnnotationReader> AnnotationReader::open_found(const std::string &record, const std::string &annotator,
                                                               int stat, bool high_resolution, FoundFile found,
                                                               SearchLocation *location) {
    if (!found) {
        if (found.failure.empty())
            record_error("annopen: can't read annotator %s for record %s\n", annotator.c_str(), record.c_str());
        else {
            if (found.remote_failure()) note_remote_failure();
            record_error("annopen: can't read annotator %s for record %s (%s)\n", annotator.c_str(), record.c_str(),
                         found.failure.c_str());
        }
        return nullptr;
    }
    std::unique_ptr<AnnotationReader> reader(new AnnotationReader(record, annotator, std::move(found.source)));
    reader->detect_format(stat);
    reader->read_modification_labels();
    reader->choose_time_scale(high_resolution, location);
    return reader;
}

void AnnotationReader::detect_format(int stat) {
    uint8_t first_two[2];
    bool aha = stream_.peek(first_two, 2) && starts_like_aha(first_two);
    format_ = aha ? AnnotationFormat::aha : AnnotationFormat::mit;
    AnnotationFormat requested = stat == WFDB_AHA_READ ? AnnotationFormat::aha : AnnotationFormat::mit;
    if (format_ != requested) {
        // One text, so that wfdberror shows the whole warning.
        record_error(
            "warning (annopen, annotator %s, record %s):\n"
            " file appears to be in %s format\n"
            " ... continuing under that assumption\n",
            annotator_.c_str(), record_.c_str(), format_name(format_));
    }
}

void AnnotationReader::read_modification_labels() {
    for (;;) {
        first_annotation_ = position();
        DecodeStatus status = peek_next();
        if (status != DecodeStatus::delivered) {
            if (status != DecodeStatus::end) report(status);
            return;
        }
        if (!is_modification_label(pending_)) break;
        has_pending_ = false;
        ModificationLabel label = parse_modification_label(label_text(pending_));
        if (label.kind == ModificationLabel::Kind::time_resolution) time_resolution_ = label.resolution;
        if (label.kind == ModificationLabel::Kind::code_definition) {
            codes_.define(label.code, label.mnemonic, label.description);
            definitions_.push_back({label.code, std::string(label.mnemonic), std::string(label.description)});
        }
    }
    // The empty annotation that closes a table of labels is not delivered either.
    if (pending_.anntyp == NOTQRS) {
        has_pending_ = false;
        first_annotation_ = position();
    }
}

void AnnotationReader::choose_time_scale(bool high_resolution, SearchLocation *location) {
    // The times need the record's frequency only when they are not sample numbers already.
    if (time_resolution_ <= 0 && !high_resolution) return;
    Header header;
    {
        // The header is optional (an annotation file can stand alone), so its absence records nothing.
        ErrorCapture header_texts;
        int rc = location ? read_header(record_, *location, header) : read_header(record_, header);
        if (rc != -1) header_texts.forward();
        if (rc < 0) return;
    }
    SearchLocation segments = location              ? *location
                              : is_url(header.path) ? SearchLocation::remote(url_directory(header.path), record_)
                                                    : SearchLocation::capture(record_);
    int spf_max = high_resolution ? largest_spf_of_record(header, segments) : 1;
    time_scale_ = AnnotationTimeScale::choose(header.frame_frequency(), spf_max, high_resolution, time_resolution_);
}

DecodeStatus AnnotationReader::decode(StoredAnnotation &out) {
    if (format_ == AnnotationFormat::aha) return decode_aha_annotation(stream_, out);
    return decode_mit_annotation(stream_, registers_, out);
}

DecodeStatus AnnotationReader::peek_next() {
    if (has_pending_) return DecodeStatus::delivered;
    if (ending_) return *ending_;
    DecodeStatus status = decode(pending_);
    if (status != DecodeStatus::delivered) {
        ending_ = status;
        return status;
    }
    has_pending_ = true;
    if (pending_.nonpositive_serial) {
        record_error("getann: unexpected annot number in annotator %s\n", annotator_.c_str());
    }
    return status;
}

void AnnotationReader::report(DecodeStatus status) const {
    const char *name = annotator_.c_str();
    switch (status) {
        case DecodeStatus::truncated: record_error("getann: unexpected EOF in annotator %s\n", name); break;
        case DecodeStatus::malformed:
            record_error("getann: annotator %s has a modifier with no annotation before it\n", name);
            break;
        case DecodeStatus::read_failed:
            if (!stream_.failure_suffix().empty()) note_remote_failure();
            record_error("getann: read error in annotator %s%s\n", name, stream_.failure_suffix().c_str());
            break;
        default: break;
    }
}

int AnnotationReader::next(WFDB_Annotation &out) {
    DecodeStatus status = peek_next();
    if (status == DecodeStatus::end) return -1;
    if (status != DecodeStatus::delivered) {
        // Recorded on every call, so the text always names this failure.
        report(status);
        return -3;
    }
    has_pending_ = false;
    out.time = time_scale_.to_samples(pending_.time);
    out.anntyp = static_cast<char>(pending_.anntyp);
    out.subtyp = pending_.subtyp;
    out.chan = pending_.chan;
    out.num = pending_.num;
    out.aux = nullptr;
    if (pending_.has_aux) {
        delivered_aux_[0] = pending_.aux_length;
        std::memcpy(delivered_aux_.data() + 1, pending_.aux, pending_.aux_length);
        delivered_aux_[1 + pending_.aux_length] = 0;
        out.aux = delivered_aux_.data();
    }
    return 0;
}

bool AnnotationReader::rewind() {
    if (!stream_.seek(first_annotation_.offset)) return false;
    registers_ = first_annotation_.registers;
    has_pending_ = false;
    ending_.reset();
    return true;
}

int set_annotation_time(AnnotationReader &reader, WFDB_Time t) {
    bool to_start = t == std::numeric_limits<WFDB_Time>::min();
    std::optional<WFDB_Time> threshold;
    if (!to_start) threshold = t < 0 ? -t : t;
    switch (reader.seek(threshold)) {
        case SeekOutcome::positioned: return 0;
        case SeekOutcome::failed: return -1;  // the reader recorded why
        case SeekOutcome::improper_seek: record_error("iannsettime: improper seek\n"); return -1;
        case SeekOutcome::at_end: break;
    }
    // The start of a list with nothing in it is still a position.
    if (to_start || *threshold == 0) return 0;
    record_error("iannsettime: no annotation at or after time %ld\n", *threshold);
    return -1;
}

SeekOutcome AnnotationReader::seek(std::optional<WFDB_Time> threshold) {
    DecodeStatus status = peek_next();
    // Reading on from here is enough only when the next annotation still lies before the target.
    bool from_start =
        !threshold || status != DecodeStatus::delivered || time_scale_.to_samples(pending_.time) >= *threshold;
    if (from_start && !rewind()) return SeekOutcome::improper_seek;
    for (;;) {
        status = peek_next();
        if (status != DecodeStatus::delivered) break;
        if (!threshold || time_scale_.to_samples(pending_.time) >= *threshold) return SeekOutcome::positioned;
        has_pending_ = false;
    }
    if (status == DecodeStatus::end) return SeekOutcome::at_end;
    report(status);
    return SeekOutcome::failed;
}

}  // namespace sigtrove::engine
