#include "multi_segment/segment_signal_map.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "errors/error_state.h"

namespace sigtrove::engine {
namespace {

int samples_per_frame(const SignalSpec &s) { return std::max(s.spf, 1); }

// Where each signal's samples start in a frame of these signals.
std::vector<std::size_t> frame_offsets(const std::vector<SignalSpec> &signals, std::size_t &frame_size) {
    std::vector<std::size_t> offsets;
    frame_size = 0;
    for (const SignalSpec &s : signals) {
        offsets.push_back(frame_size);
        frame_size += static_cast<std::size_t>(samples_per_frame(s));
    }
    return offsets;
}

// The first segment signal not yet taken whose description is the layout signal's.
std::optional<std::size_t> find_by_description(const std::vector<SignalSpec> &segment, const std::string &desc,
                                               const std::vector<bool> &taken) {
    for (std::size_t j = 0; j < segment.size(); ++j)
        if (!taken[j] && segment[j].desc == desc) return j;
    return std::nullopt;
}

}  // namespace

SampleRescale SampleRescale::between(const SignalSpec &layout, const SignalSpec &segment) {
    SampleRescale r;
    if (layout.gain != 0 && segment.gain != 0) r.scale = layout.gain / segment.gain;
    r.offset = layout.baseline - r.scale * segment.baseline;
    return r;
}

WFDB_Sample SampleRescale::apply(WFDB_Sample raw) const {
    double value = std::floor(raw * scale + offset + 0.5);
    if (std::isnan(value)) return WFDB_INVALID_SAMPLE;
    if (value <= static_cast<double>(INT_MIN)) return INT_MIN;
    if (value >= static_cast<double>(INT_MAX)) return INT_MAX;
    return static_cast<WFDB_Sample>(value);
}

std::optional<SegmentSignalMap> SegmentSignalMap::build(const std::vector<SignalSpec> &record,
                                                        const std::vector<SignalSpec> &all_record,
                                                        const std::vector<SignalSpec> &segment, bool variable_layout,
                                                        const std::string &segment_name) {
    SegmentSignalMap map;
    const std::vector<std::size_t> offsets = frame_offsets(segment, map.segment_frame_size_);
    if (!variable_layout && segment.size() != all_record.size()) {
        record_error("sigmap_init: wrong number of signals in segment %s\n", segment_name.c_str());
        return std::nullopt;
    }
    std::vector<bool> taken(segment.size(), false);
    for (std::size_t i = 0; i < record.size(); ++i) {
        const int spf = samples_per_frame(record[i]);
        std::optional<std::size_t> found =
            variable_layout ? find_by_description(segment, record[i].desc, taken) : std::optional<std::size_t>(i);
        if (!found) {
            map.sources_.insert(map.sources_.end(), static_cast<std::size_t>(spf), SampleSource{});
            map.origins_.push_back(SignalOrigin{});
            continue;
        }
        const SignalSpec &source = segment[*found];
        taken[*found] = true;
        if (samples_per_frame(source) != spf) {
            record_error("sigmap_init: wrong spf for signal %d in segment %s\n", static_cast<int>(i),
                         segment_name.c_str());
            return std::nullopt;
        }
        SampleRescale rescale = variable_layout ? SampleRescale::between(record[i], source) : SampleRescale{};
        if (rescale.scale < 1)
            record_error("sigmap_init: loss of precision in signal %d in segment %s\n", static_cast<int>(i),
                         segment_name.c_str());
        map.origins_.push_back(SignalOrigin{static_cast<std::ptrdiff_t>(*found), !rescale.is_identity(), rescale});
        for (int k = 0; k < spf; ++k)
            map.sources_.push_back(
                SampleSource{static_cast<std::ptrdiff_t>(offsets[*found]) + k, !rescale.is_identity(), rescale});
    }
    map.identity_ = map.sources_.size() == map.segment_frame_size_;
    for (std::size_t k = 0; k < map.sources_.size() && map.identity_; ++k)
        map.identity_ = map.sources_[k].from == static_cast<std::ptrdiff_t>(k) && !map.sources_[k].rescaled;
    return map;
}

void SegmentSignalMap::apply(const WFDB_Sample *segment_frame, WFDB_Sample *record_frame) const {
    for (std::size_t k = 0; k < sources_.size(); ++k) {
        const SampleSource &s = sources_[k];
        if (s.from < 0) {
            record_frame[k] = WFDB_INVALID_SAMPLE;
            continue;
        }
        WFDB_Sample raw = segment_frame[s.from];
        record_frame[k] = s.rescaled && raw != WFDB_INVALID_SAMPLE ? s.rescale.apply(raw) : raw;
    }
}

}  // namespace sigtrove::engine
