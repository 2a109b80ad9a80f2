#include "writers/record_copy.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <set>

#include "errors/error_state.h"
#include "multi_segment/multi_segment_source.h"
#include "paths/path_search.h"
#include "record_header/record_header.h"
#include "writers/copy_sink.h"
#include "writers/header_text.h"
#include "writers/writable_formats.h"

namespace sigtrove::engine {
namespace {

Status bad(const std::string &text) { return Status::failure(ErrorKind::bad_request, "sigtrove: " + text + "\n"); }

std::string file_name_part(const std::string &path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

void move_base_time(const Header &source, long long frames, Header &layout) {
    layout.has_base = source.has_base;
    if (!source.has_base) return;
    const double ms =
        static_cast<double>(source.base_ms) + static_cast<double>(frames) * 1000.0 / source.frame_frequency();
    double seconds = std::floor(ms / 1000);
    long msec = static_cast<long>(ms - seconds * 1000 + 0.5);
    if (msec >= 1000) {
        msec -= 1000;
        seconds += 1;
    }
    const auto whole = static_cast<long long>(seconds);
    layout.base_ms = static_cast<long>(whole % 86400 * 1000 + msec);
    layout.base_date = source.base_date != 0 ? source.base_date + static_cast<long>(whole / 86400) : 0;
}

Status copy_layout(const Header &source, const CopyRequest &request, Header &layout) {
    layout = Header{};
    layout.record = request.name;
    layout.has_freq = true;
    layout.freq = source.frame_frequency();
    layout.cfreq = layout.freq;
    if (source.counter_frequency() != layout.freq || source.basecount != 0) {
        layout.cfreq = source.counter_frequency();
        layout.basecount = source.basecount + static_cast<double>(request.start) * layout.cfreq / layout.freq;
    }
    move_base_time(source, request.start, layout);
    for (const std::string &comment : source.comments) layout.comments.push_back(comment_text(comment));

    std::vector<std::size_t> chosen = request.signals;
    if (chosen.empty())
        for (std::size_t s = 0; s < source.signals.size(); ++s) chosen.push_back(s);
    if (!request.formats.empty() && request.formats.size() != chosen.size())
        return bad("the copy asks for " + std::to_string(request.formats.size()) + " formats for " +
                   std::to_string(chosen.size()) + " signals");
    std::vector<int> source_group;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        if (chosen[i] >= source.signals.size())
            return bad("record " + source.record + " has no signal " + std::to_string(chosen[i]));
        const SignalSpec &in = source.signals[chosen[i]];
        SignalSpec spec;
        // The reader's stand-in for a missing description is not written out as one.
        const std::string stand_in = "record " + source.record + ", signal " + std::to_string(chosen[i]);
        spec.desc = in.desc == stand_in ? std::string() : in.desc;
        spec.units = in.units;
        spec.gain = in.gain;
        spec.baseline = in.baseline;
        spec.adcres = in.adcres;
        spec.adczero = in.adczero;
        spec.spf = in.spf;
        spec.bsize = in.bsize;
        const int asked = request.formats.empty() ? 0 : request.formats[i];
        spec.fmt = asked != 0 ? asked : in.fmt != 0 ? in.fmt : 16;
        layout.signals.push_back(spec);
        source_group.push_back(in.group);
    }

    // Files: what shared one in the source shares one in the copy, when it shares a format.
    std::vector<std::size_t> first_of_group;
    std::vector<std::string> source_file;
    for (std::size_t i = 0; i < layout.signals.size(); ++i) {
        const SignalSpec &spec = layout.signals[i];
        bool joins = i > 0 && source_group[i] == source_group[i - 1] && spec.fmt == layout.signals[i - 1].fmt;
        const WritableFormat *format = writable_format(spec.fmt);
        if (joins && format != nullptr && format->flac_bits > 0)
            joins = spec.spf == layout.signals[i - 1].spf && i - first_of_group.back() < 8;
        if (!joins) {
            first_of_group.push_back(i);
            source_file.push_back(file_name_part(source.signals[chosen[i]].fname));
        }
        layout.signals[i].group = static_cast<int>(first_of_group.size() - 1);
    }
    const std::string source_name = file_name_part(source.record);
    std::vector<std::string> names;
    std::set<std::string> distinct;
    for (const std::string &file : source_file) {
        const bool renamed = !source_name.empty() && file.size() > source_name.size() &&
                             file.compare(0, source_name.size(), source_name) == 0;
        names.push_back(renamed ? request.name + file.substr(source_name.size()) : std::string());
        distinct.insert(names.back());
    }
    if (distinct.size() != names.size() || distinct.count(std::string()) > 0 ||
        distinct.count(request.name + ".hea") > 0) {
        for (std::size_t g = 0; g < names.size(); ++g)
            names[g] = names.size() == 1 ? request.name + ".dat" : request.name + "_" + std::to_string(g) + ".dat";
    }
    for (SignalSpec &spec : layout.signals) spec.fname = names[static_cast<std::size_t>(spec.group)];
    layout.nsig = static_cast<int>(layout.signals.size());
    return Status();
}

std::vector<FileIdentity> record_file_identities(const RecordDescription &description) {
    std::vector<FileIdentity> files;
    const Header &header = description.header;
    if (is_url(header.path)) return files;
    ErrorCapture quiet;
    add_file_identity(description.location.absolute(header.path), files);
    auto add_signal_files = [&](const Header &h, SearchLocation location) {
        std::set<std::string> seen;
        for (const SignalSpec &s : h.signals) {
            if (s.fmt == 0 || !seen.insert(s.fname).second) continue;
            FoundFile found = location.open_signal_file(s.fname);
            if (found) add_file_identity(location.absolute(found.path), files);
        }
    };
    if (!header.multi_segment) {
        add_signal_files(header, description.location);
        return files;
    }
    for (const SegmentSpec &segment : header.segments) {
        if (segment.name == "~") continue;
        SearchLocation location = description.location;
        Header segment_header;
        if (read_segment_header(segment.name, location, segment_header) < 0) continue;
        add_file_identity(location.absolute(segment_header.path), files);
        add_signal_files(segment_header, location);
    }
    return files;
}

Status RecordCopy::begin(Record &source, const std::string &directory, const CopyRequest &request, bool overwrite,
                         std::unique_ptr<RecordCopy> &out) {
    ErrorCapture capture;
    try {
        std::unique_ptr<RecordCopy> copy(new RecordCopy());
        copy->source_ = &source;
        const Header &header = source.header();
        std::vector<std::size_t> chosen = request.signals;
        if (chosen.empty())
            for (std::size_t s = 0; s < header.signals.size(); ++s) chosen.push_back(s);
        for (std::size_t s : chosen) {
            auto at = std::find(source.opened().begin(), source.opened().end(), s);
            if (at == source.opened().end())
                return bad("signal " + std::to_string(s) + " of record " + source.description().name +
                           " can not be read (its signal file was not found)");
            copy->columns_.push_back(static_cast<std::size_t>(at - source.opened().begin()));
        }
        if (request.start < 0) return bad("a window can not start before frame 0");
        const long long end = source.deliverable_frames();
        copy->start_ = request.start;
        copy->stop_ = request.stop;
        if (end >= 0 && (copy->stop_ < 0 || copy->stop_ > end)) copy->stop_ = end;
        if (copy->stop_ >= 0 && copy->stop_ < copy->start_) copy->stop_ = copy->start_;

        CopyRequest window = request;
        window.start = copy->start_;
        window.signals = chosen;
        Header layout;
        if (Status status = copy_layout(header, window, layout); !status.ok()) return status;
        WriteOptions options;
        options.overwrite = overwrite;
        options.first_frame_number = copy->start_;
        options.protected_files = record_file_identities(source.description());
        if (Status status = RecordWriter::create(directory, layout, options, copy->writer_); !status.ok())
            return status;
        out = std::move(copy);
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory,
                               "sigtrove: not enough memory to copy record " + source.description().name + "\n");
    }
}

Status RecordCopy::step(long long frames, bool &done) {
    done = false;
    long long wanted = frames;
    if (stop_ >= 0) wanted = std::min(wanted, stop_ - start_ - copied_);
    if (wanted <= 0) {
        done = true;
        return Status();
    }
    CopySink<RecordWriter> sink(*writer_, columns_.size());
    BulkOutcome outcome;
    Status status = source_->read(start_ + copied_, wanted, columns_, sink, outcome);
    if (!sink.status().ok()) return sink.status();
    if (!status.ok()) return status;
    copied_ += outcome.frames;
    done = outcome.stop != 0 || (stop_ >= 0 && copied_ >= stop_ - start_);
    return Status();
}

Status RecordCopy::finish() { return writer_->finish(); }

}  // namespace sigtrove::engine
