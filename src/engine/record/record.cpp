#include "record/record.h"

#include <algorithm>
#include <climits>
#include <new>

#include "edf/edf_signal_source.h"
#include "errors/error_state.h"
#include "formats/group_reader.h"
#include "formats/sample_formats.h"
#include "header/record_memory.h"
#include "multi_segment/multi_segment_source.h"
#include "signals/single_segment_source.h"

namespace sigtrove::engine {
namespace {

ErrorKind kind_of_describe_code(int rc) {
    return rc == -1 ? ErrorKind::not_found : rc == -3 ? ErrorKind::limit : ErrorKind::malformed;
}

// The failure a capture collected, with every text it holds.
Status failure(ErrorKind kind, const ErrorCapture &capture) {
    std::string text;
    for (const std::string &t : capture.texts()) text += t;
    // Whatever the operation was, a server that could not be reached is what failed it.
    return Status::failure(capture.remote_failure() ? ErrorKind::remote : kind, std::move(text));
}

}  // namespace

Record::Record(std::shared_ptr<const RecordDescription> description, std::unique_ptr<SignalSource> source,
               std::vector<std::size_t> opened, std::vector<int> group_of_opened)
    : description_(std::move(description)),
      source_(std::move(source)),
      opened_(std::move(opened)),
      group_of_opened_(std::move(group_of_opened)) {
    for (std::size_t i : opened_) {
        const SignalSpec &s = header().signals[i];
        held_bytes_ += memory_for(s.spf, kBytesPerFrameSample) + memory_for(memory_for(s.skew, s.spf), 4);
    }
}

Record::~Record() {
    source_.reset();
    if (held_bytes_ > kReturnMemoryAbove) return_freed_memory();
}

int Record::open_signals(std::shared_ptr<const RecordDescription> description, const Options &options,
                         std::unique_ptr<Record> &out) {
    const Header &header = description->header;
    const std::string &name = description->name;
    if (header.signals.empty()) {
        record_error("isigopen: record %s has no signals\n", name.c_str());
        return 0;
    }
    // Signal files are looked up from the record's own location, in a copy that learns for this record alone.
    SearchLocation location = description->location;
    SourceOpening opening;
    if (header.edf)  // an EDF file is read by its own source: its data records are no WFDB signal group
        opening = open_edf_source(header, options.max_signals, options.first_signal, options.first_group, name);
    else if (header.multi_segment)
        opening = open_multi_segment_source(header, options.max_signals, options.first_signal, options.first_group,
                                            name, location);
    else
        opening = open_single_segment_source(header, options.max_signals, options.first_signal, options.first_group,
                                             name, location);
    if (opening.status < 0) return opening.status;
    if (!opening.source) {
        // Say why when the only obstacle may be a build without FLAC.
        bool has_flac = std::any_of(header.signals.begin(), header.signals.end(),
                                    [](const SignalSpec &s) { return is_flac_format(s.fmt); });
        record_error("isigopen: none of the signals for record %s is readable%s\n", name.c_str(),
                     has_flac && !flac_supported() ? " (this engine was built without FLAC support)" : "");
        return 0;
    }
    auto count = static_cast<int>(opening.opened.size());
    out.reset(new Record(std::move(description), std::move(opening.source), std::move(opening.opened),
                         std::move(opening.group_of_opened)));
    return count;
}

Status Record::open(const std::string &record, std::unique_ptr<Record> &out) {
    ErrorCapture capture;
    try {
        std::shared_ptr<const RecordDescription> description;
        if (int rc = describe_record(record, description); rc < 0) return failure(kind_of_describe_code(rc), capture);
        int n = open_signals(std::move(description), Options{}, out);
        if (n <= 0) return failure(n < 0 ? ErrorKind::limit : ErrorKind::unreadable, capture);
        return Status();
    } catch (const std::bad_alloc &) {
        out.reset();
        return Status::failure(ErrorKind::out_of_memory, "sigtrove: not enough memory to open record " + record + "\n");
    }
}

Status Record::open(std::shared_ptr<const RecordDescription> description, std::unique_ptr<Record> &out) {
    ErrorCapture capture;
    std::string name = description->name;
    try {
        int n = open_signals(std::move(description), Options{}, out);
        if (n <= 0) return failure(n < 0 ? ErrorKind::limit : ErrorKind::unreadable, capture);
        return Status();
    } catch (const std::bad_alloc &) {
        out.reset();
        return Status::failure(ErrorKind::out_of_memory, "sigtrove: not enough memory to open record " + name + "\n");
    }
}

long long Record::frame_count() {
    if (header().nsamp > 0) return header().nsamp;
    return source_->stored_frames();
}

long long Record::deliverable_frames() {
    long long claimed = frame_count();
    long long stored = source_->stored_frames();
    if (claimed < 0) return stored;
    return stored < 0 ? claimed : std::min(claimed, stored);
}

Status Record::read(long long start, long long frames, const std::vector<std::size_t> &signals, FrameSink &sink,
                    BulkOutcome &outcome) {
    outcome = BulkOutcome{};
    ErrorCapture capture;
    try {
        for (std::size_t s : signals) {
            if (s >= opened_.size())
                return Status::failure(ErrorKind::bad_request, "sigtrove: no signal " + std::to_string(s) + "\n");
        }
        if (start < 0 || frames < 0) return Status::failure(ErrorKind::bad_request, "sigtrove: improper window\n");
        if (frames == 0) return Status();
        // Only a read that goes on from where the last one stopped keeps summing checksums.
        if (start != source_->position() && !source_->reposition(start)) {
            outcome.stop = frame_end;
            // A start past the end of the data is an empty read, not a failure.
            long long stored = source_->stored_frames();
            if (stored >= 0 && start >= stored) return Status();
            return failure(ErrorKind::unreadable, capture);
        }
        outcome = source_->read_bulk(signals, frames, sink);
        if (outcome.stop == frame_error) return failure(ErrorKind::unreadable, capture);
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory,
                               "sigtrove: not enough memory to read record " + description_->name + "\n");
    }
}

}  // namespace sigtrove::engine
