// How a segment's frame becomes a frame of the multi-segment record it belongs
// to. In a fixed layout every segment has the record's signals in the record's
// order, so samples pass through. In a variable layout each record signal (a
// signal of the layout header) is found in the segment by its description and
// rescaled from the segment's gain and baseline to the layout's; a record signal
// the segment lacks reads as invalid samples.
#ifndef SIGTROVE_ENGINE_SEGMENT_SIGNAL_MAP_H
#define SIGTROVE_ENGINE_SEGMENT_SIGNAL_MAP_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "header/header.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {

// The conversion of one calibrated sample: floor(raw * scale + offset + 0.5),
// where offset = layout baseline - scale * segment baseline.
struct SampleRescale {
    double scale = 1;
    double offset = 0;

    // Between a layout signal and the segment signal found for it. An
    // uncalibrated signal (gain 0) on either side has no unit to convert: scale 1.
    static SampleRescale between(const SignalSpec &layout, const SignalSpec &segment);

    bool is_identity() const { return scale == 1 && offset == 0; }
    // Halves round up; results beyond the int range are clamped to it.
    WFDB_Sample apply(WFDB_Sample raw) const;
};

class SegmentSignalMap {
public:
    // `record` holds the record's signals being read (in frame order), `all_record`
    // every signal the record presents, `segment` the signals of the segment's
    // header. Returns nothing after recording a text when the segment does not
    // fit the record: in a fixed layout a different signal count or spf, in a
    // variable layout a matched signal with another spf.
    static std::optional<SegmentSignalMap> build(const std::vector<SignalSpec> &record,
                                                 const std::vector<SignalSpec> &all_record,
                                                 const std::vector<SignalSpec> &segment, bool variable_layout,
                                                 const std::string &segment_name);

    // True when the segment's frame already is the record's frame.
    bool is_identity() const { return identity_; }
    // Samples in one frame of the segment.
    std::size_t segment_frame_size() const { return segment_frame_size_; }

    // Fills a record frame from a segment frame.
    void apply(const WFDB_Sample *segment_frame, WFDB_Sample *record_frame) const;

    // Where one record signal comes from in the segment.
    struct SignalOrigin {
        std::ptrdiff_t segment_signal = -1;  // -1: the segment lacks it
        bool rescaled = false;
        SampleRescale rescale{};
    };
    // One entry per record signal being read, in record order.
    const std::vector<SignalOrigin> &origins() const { return origins_; }

private:
    // Where one sample of the record frame comes from.
    struct SampleSource {
        std::ptrdiff_t from = -1;  // index into the segment frame; -1: the segment lacks the signal
        bool rescaled = false;
        SampleRescale rescale{};
    };

    std::vector<SampleSource> sources_;
    std::vector<SignalOrigin> origins_;
    std::size_t segment_frame_size_ = 0;
    bool identity_ = false;
};

}  // namespace sigtrove::engine

#endif
