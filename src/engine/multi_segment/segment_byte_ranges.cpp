#include "multi_segment/segment_byte_ranges.h"

#include <algorithm>
#include <climits>

#include "formats/sample_formats.h"

namespace sigtrove::engine {
namespace {

// Bytes [first, last] of a file holding stored frames [from, to) of a group: whole
// packing units, and one more for a frame that ends inside a unit. False when the
// arithmetic would overflow (nothing is asked for ahead then).
bool group_bytes(const SampleFormat &format, long offset, long long frame_size, long long from, long long to,
                 long long &first, long long &last) {
    const __int128 first_sample = static_cast<__int128>(from) * frame_size;
    const __int128 end_sample = static_cast<__int128>(to) * frame_size;
    const __int128 begin = offset + first_sample / format.samples_per_unit * format.bytes_per_unit;
    const __int128 end = offset + (end_sample / format.samples_per_unit + 1) * format.bytes_per_unit;
    if (end > LLONG_MAX) return false;
    first = static_cast<long long>(begin);
    last = static_cast<long long>(end) - 1;
    return true;
}

void merge(std::vector<WantedRange> &out, std::size_t own_from, WantedRange range) {
    for (std::size_t i = own_from; i < out.size(); ++i) {
        if (out[i].url != range.url) continue;
        out[i].first = std::min(out[i].first, range.first);
        out[i].last = std::max(out[i].last, range.last);
        return;
    }
    out.push_back(std::move(range));
}

}  // namespace

void add_segment_byte_ranges(const Header &segment, long long from, long long to, const SearchLocation &location,
                             std::vector<WantedRange> &out) {
    if (from < 0 || to <= from) return;
    const std::size_t own_from = out.size();
    const std::vector<SignalSpec> &signals = segment.signals;
    for (std::size_t begin = 0; begin < signals.size();) {
        // A group: consecutive lines of one group number.
        std::size_t end = begin + 1;
        while (end < signals.size() && signals[end].group == signals[begin].group) ++end;
        const SignalSpec &lead = signals[begin];
        long long frame_size = 0, span = 0;
        for (std::size_t i = begin; i < end; ++i) {
            frame_size += std::max(signals[i].spf, 1);
            span = std::max<long long>(span, signals[i].skew);
        }
        begin = end;
        if (lead.fmt == 0) continue;
        std::string url = location.remote_signal_file(lead.fname);
        if (url.empty()) continue;
        const SampleFormat *format = uncompressed_format(lead.fmt);
        long long first = 0, last = 0;
        if (format == nullptr || format->bytes_per_unit <= 0 ||
            !group_bytes(*format, std::max(0L, lead.offset), frame_size, from, to + span, first, last))
            first = last = 0;
        merge(out, own_from, WantedRange{std::move(url), first, last});
    }
}

}  // namespace sigtrove::engine
