#include "writers/new_record.h"

#include <cmath>
#include <cstdint>

#include "writers/header_text.h"
#include "writers/signal_scale.h"
#include "writers/writable_formats.h"

namespace sigtrove::engine {
namespace {

Status bad(const std::string &text) { return Status::failure(ErrorKind::bad_request, "sigtrove: " + text + "\n"); }

}  // namespace

Status plan_new_record(const NewRecord &record, Header &layout) {
    layout = Header{};
    layout.record = record.name;
    layout.has_freq = true;
    layout.freq = layout.cfreq = record.frequency;
    layout.has_base = record.has_base;
    layout.base_ms = record.base_ms;
    layout.base_date = record.base_date;
    layout.comments.reserve(record.comments.size());
    for (const std::string &comment : record.comments) layout.comments.push_back(comment_text(comment));
    if (record.frames < 0) return bad("a record can not have fewer than 0 frames");

    std::vector<int> group_of;
    for (std::size_t s = 0; s < record.signals.size(); ++s) {
        const NewSignal &in = record.signals[s];
        const std::string which = "signal " + std::to_string(s);
        if (in.samples_per_frame < 1) return bad(which + " needs at least 1 sample per frame");
        const bool physical = in.samples.kind == SampleColumn::Kind::physical;
        const auto frames = static_cast<std::size_t>(record.frames);
        const auto spf = static_cast<std::size_t>(in.samples_per_frame);
        SignalSpec spec;
        spec.desc = in.name;
        spec.units = in.units && !in.units->empty() ? in.units : std::nullopt;
        spec.spf = in.samples_per_frame;
        if (in.format) {
            spec.fmt = *in.format;
        } else if (physical) {
            spec.fmt = 16;
        } else {
            spec.fmt =
                narrowest_format(static_cast<const std::int64_t *>(in.samples.first), frames, spf, in.samples.stride);
        }
        const WritableFormat *format = writable_format(spec.fmt);
        if (format == nullptr)
            return bad(which + " asks for format " + std::to_string(spec.fmt) + "; records are written in formats " +
                       writable_format_list());
        if (in.gain && !std::isfinite(*in.gain)) return bad("the gain of " + which + " is not a number");
        if (physical) {
            SignalScale scale = choose_signal_scale(static_cast<const double *>(in.samples.first), frames, spf,
                                                    in.samples.stride, *format, in.gain, in.baseline);
            spec.gain = in.gain ? *in.gain : scale.gain;
            spec.baseline = scale.baseline;
        } else {
            spec.gain = in.gain.value_or(200);
            spec.baseline = in.baseline.value_or(0);
        }
        spec.adcres = in.adc_resolution.value_or(format->adc_resolution);
        spec.adczero = 0;
        layout.signals.push_back(spec);
    }

    // Files: a run of signals in one format shares one (FLAC: up to 8, with one samples-per-frame).
    std::vector<std::size_t> group_start;
    for (std::size_t s = 0; s < layout.signals.size(); ++s) {
        const SignalSpec &spec = layout.signals[s];
        bool joins = false;
        if (s > 0) {
            const SignalSpec &previous = layout.signals[s - 1];
            joins = spec.fmt == previous.fmt;
            if (joins && writable_format(spec.fmt)->flac_bits > 0)
                joins = spec.spf == previous.spf && s - group_start.back() < 8;
        }
        if (!joins) group_start.push_back(s);
        group_of.push_back(static_cast<int>(group_start.size() - 1));
    }
    for (std::size_t s = 0; s < layout.signals.size(); ++s) {
        layout.signals[s].fname =
            group_start.size() == 1 ? record.name + ".dat" : record.name + "_" + std::to_string(group_of[s]) + ".dat";
        layout.signals[s].group = group_of[s];
    }
    layout.nsig = static_cast<int>(layout.signals.size());
    return Status();
}

std::vector<SampleColumn> new_record_block(const NewRecord &record, long long first) {
    std::vector<SampleColumn> columns;
    columns.reserve(record.signals.size());
    for (const NewSignal &signal : record.signals) {
        SampleColumn column = signal.samples;
        const std::size_t skip = static_cast<std::size_t>(first) * column.stride;
        const std::size_t width = column.kind == SampleColumn::Kind::physical ? sizeof(double) : sizeof(std::int64_t);
        if (column.first) column.first = static_cast<const unsigned char *>(column.first) + skip * width;
        columns.push_back(column);
    }
    return columns;
}

}  // namespace sigtrove::engine
