#include "writers/edf_copy.h"

#include <algorithm>
#include <new>

#include "errors/error_state.h"
#include "writers/copy_sink.h"
#include "writers/record_copy.h"

namespace sigtrove::engine {
namespace {

Status bad(const std::string &text) { return Status::failure(ErrorKind::bad_request, "sigtrove: " + text + "\n"); }

}  // namespace

Status EdfCopy::begin(Record &source, const std::string &directory, EdfCopyRequest request, bool overwrite,
                      std::unique_ptr<EdfCopy> &out) {
    ErrorCapture capture;
    try {
        std::unique_ptr<EdfCopy> copy(new EdfCopy());
        copy->source_ = &source;
        const Header &header = source.header();
        std::vector<std::size_t> chosen = request.signals;
        if (chosen.empty())
            for (std::size_t s = 0; s < header.signals.size(); ++s) chosen.push_back(s);
        for (std::size_t s : chosen) {
            if (s >= header.signals.size())
                return bad("record " + source.description().name + " has no signal " + std::to_string(s));
            auto at = std::find(source.opened().begin(), source.opened().end(), s);
            if (at == source.opened().end())
                return bad("signal " + std::to_string(s) + " of record " + source.description().name +
                           " can not be read (its signal file was not found)");
            copy->columns_.push_back(static_cast<std::size_t>(at - source.opened().begin()));
        }
        if (request.start < 0) return bad("a window can not start before frame 0");
        const long long end = source.deliverable_frames();
        long long stop = request.stop;
        if (end >= 0 && (stop < 0 || stop > end)) stop = end;
        if (stop < 0)
            return bad("the length of record " + source.description().name +
                       " is not known: an EDF file of it needs the window's end");
        copy->start_ = request.start;
        copy->stop_ = std::max(stop, request.start);

        EdfFile file;
        file.name = request.name;
        file.kind = request.kind;
        file.frequency = header.frame_frequency();
        file.frames = copy->stop_ - copy->start_;
        file.stored_invalid = header.edf == nullptr;
        for (std::size_t s : chosen) {
            const SignalSpec &in = header.signals[s];
            EdfSignalToWrite signal;
            // The reader's stand-in for a missing description is not written out as a label.
            const std::string stand_in = "record " + header.record + ", signal " + std::to_string(s);
            signal.label = in.desc == stand_in ? std::string() : in.desc;
            signal.dimension = in.units.value_or("");
            signal.gain = in.gain;
            signal.baseline = in.baseline;
            signal.samples_per_frame = in.spf;
            file.signals.push_back(signal);
        }
        Header moved;
        move_base_time(header, copy->start_, moved);
        file.has_start = moved.has_base;
        file.start_ms = moved.base_ms;
        file.start_date = moved.base_date;
        if (request.patient) file.patient = *request.patient;
        file.recording = request.recording;
        for (EdfAnnotationAtFrame &a : request.annotations) {
            if (a.frame < copy->start_ || a.frame >= copy->stop_) continue;
            a.frame -= copy->start_;
            file.annotations.push_back(std::move(a));
        }
        WriteOptions options;
        options.overwrite = overwrite;
        options.first_frame_number = copy->start_;
        options.protected_files = record_file_identities(source.description());
        if (Status status = EdfWriter::create(directory, file, options, copy->writer_); !status.ok()) return status;
        out = std::move(copy);
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory,
                               "sigtrove: not enough memory to copy record " + source.description().name + "\n");
    }
}

Status EdfCopy::step(long long frames, bool &done) {
    done = false;
    const long long wanted = std::min(frames, stop_ - start_ - copied_);
    if (wanted <= 0) {
        done = true;
        return Status();
    }
    CopySink<EdfWriter> sink(*writer_, columns_.size());
    BulkOutcome outcome;
    Status status = source_->read(start_ + copied_, wanted, columns_, sink, outcome);
    if (!sink.status().ok()) return sink.status();
    if (!status.ok()) return status;
    copied_ += outcome.frames;
    done = outcome.stop != 0 || copied_ >= stop_ - start_;
    return Status();
}

Status EdfCopy::finish() { return writer_->finish(); }

}  // namespace sigtrove::engine
