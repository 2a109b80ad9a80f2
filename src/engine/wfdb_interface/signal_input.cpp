// isigopen, getvec, isigsettime and setgvmode over the process-wide set of
// open input signals. Each record opened is one SignalSource; with a leading
// '+' several sources are read side by side.
#include "wfdb_interface/signal_input.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "texts/error_state.h"
#include "signals/getvec_modes.h"
#include "formats/group_reader.h"
#include "record/header.h"
#include "multi_segment/multi_segment_source.h"
#include "paths/path_search.h"
#include "wfdb_interface/record_state.h"
#include "formats/sample_formats.h"
#include "signals/signal_source.h"
#include "signals/single_segment_source.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

struct InputSignals {
    std::vector<std::unique_ptr<SignalSource>> sources;
    std::vector<std::size_t> source_offset;  // where each source's samples start in `frame`
    FrameLayout layout;
    std::vector<WFDB_Sample> frame;
    std::vector<WFDB_Sample> last_valid;  // pad mode: each signal's last valid sample
    int group_count = 0;
    bool ever_opened = false;
    // A multi-segment record is open: getvec's count follows its current segment.
    bool counts_vary = false;

    // The position: in high resolution, sample `sub` of frame `frame_index`.
    long long frame_index = 0;
    int sub = 0;
    bool frame_loaded = false;  // high resolution: `frame` holds frame_index
    FrameStatus loaded_status = frame_delivered;

    bool mode_chosen = false;  // setgvmode was called, or WFDBGVMODE was read
    bool pad = false;
    bool high_mode = false;    // WFDB_HIGHRES, mirrored in record_state() for sampfreq
    // The source getvec reads straight into the caller's vector: one source,
    // one sample per signal, nothing to pad or average. Null otherwise.
    SignalSource *direct = nullptr;

    // The header read last, which header-only isigopen's shallow copies point into.
    Header header;

    int signal_count() const { return static_cast<int>(layout.spf.size()); }
    bool high_resolution() const { return high_mode && layout.spf_max > 1; }
    void choose_path() {
        direct = sources.size() == 1 && layout.all_single && !pad && !high_resolution() ? sources[0].get() : nullptr;
    }
    long long position() const {
        return high_resolution() ? frame_index * layout.spf_max + sub : frame_index;
    }
    // Leaves the position on a frame boundary (after a mode change or an open).
    // Counts one frame read. A seek may put the position at the largest time there
    // is; reading on from there must not overflow, so the count stops at it.
    void count_frame() {
        long long limit = high_resolution() ? LONG_MAX / layout.spf_max - 1 : LONG_MAX;
        if (frame_index < limit) ++frame_index;
    }
    void settle_position() {
        if (frame_loaded) count_frame();
        frame_loaded = false;
        sub = 0;
    }
};

InputSignals &input() {
    static InputSignals state;
    return state;
}

void close_all(InputSignals &in) {
    in.sources.clear();
    in.source_offset.clear();
    in.layout.clear();
    in.frame.clear();
    in.last_valid.clear();
    in.group_count = 0;
    in.counts_vary = false;
    in.frame_index = 0;
    in.sub = 0;
    in.frame_loaded = false;
    in.direct = nullptr;
}

void apply_mode(InputSignals &in, int mode) {
    in.settle_position();
    in.mode_chosen = true;
    in.high_mode = (mode & WFDB_HIGHRES) != 0;
    record_state().high_resolution = in.high_mode;
    in.pad = (mode & WFDB_GVPAD) != 0;
    in.choose_path();
}

// The header's description of a signal, its texts pointing into the header.
WFDB_Siginfo siginfo_of(const SignalSpec &s) {
    WFDB_Siginfo info{};
    info.fname = const_cast<char *>(s.fname.c_str());
    info.desc = const_cast<char *>(s.desc.c_str());
    info.units = s.units ? const_cast<char *>(s.units->c_str()) : nullptr;
    info.gain = s.gain;
    info.initval = s.initval;
    info.group = static_cast<WFDB_Group>(s.group);
    info.fmt = s.fmt;
    info.spf = s.spf;
    info.bsize = s.bsize;
    info.adcres = s.adcres;
    info.adczero = s.adczero;
    info.baseline = s.baseline;
    info.nsamp = s.nsamp;
    info.cksum = s.cksum;
    return info;
}

char *copy_text(const char *text) {
    if (!text) return nullptr;
    std::size_t size = std::strlen(text) + 1;
    char *copy = static_cast<char *>(std::malloc(size));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy, text, size);
    return copy;
}

void free_texts(WFDB_Siginfo &info) {
    std::free(info.fname);
    std::free(info.desc);
    std::free(info.units);
}

// Fills siarray[0..] for the signals just opened, with heap copies of their
// texts that the caller frees; all or nothing.
void fill_deep(const Header &header, const SourceOpening &opening, WFDB_Siginfo *siarray) {
    std::vector<WFDB_Siginfo> copies;
    copies.reserve(opening.opened.size());
    try {
        for (std::size_t i = 0; i < opening.opened.size(); ++i) {
            WFDB_Siginfo shared = siginfo_of(header.signals[opening.opened[i]]);
            WFDB_Siginfo &info = copies.emplace_back(shared);
            info.fname = info.desc = info.units = nullptr;
            info.group = static_cast<WFDB_Group>(opening.group_of_opened[i]);
            info.fname = copy_text(shared.fname);
            info.desc = copy_text(shared.desc);
            info.units = copy_text(shared.units);
        }
    } catch (const std::bad_alloc &) {
        for (WFDB_Siginfo &info : copies) free_texts(info);
        throw;
    }
    std::copy(copies.begin(), copies.end(), siarray);
}

// Adds an opened source to the set: its signals follow those already open.
void add_source(InputSignals &in, const Header &header, SourceOpening &opening) {
    in.settle_position();
    in.source_offset.push_back(in.layout.size);
    for (std::size_t i = 0; i < opening.opened.size(); ++i) {
        in.layout.add_signal(opening.source->samples_per_frame()[i]);
        in.last_valid.push_back(header.signals[opening.opened[i]].initval);
    }
    in.frame.resize(in.layout.size);
    in.group_count = std::max(in.group_count, opening.group_of_opened.back() + 1);
    in.sources.push_back(std::move(opening.source));
    in.ever_opened = true;
    in.counts_vary = in.counts_vary || header.multi_segment;
    in.choose_path();
}

int open_signals(InputSignals &in, const std::string &record, WFDB_Siginfo *siarray, int nsig) {
    const Header &header = in.header;
    if (header.signals.empty()) {
        record_error("isigopen: record %s has no signals\n", record.c_str());
        return 0;
    }
    SourceOpening opening =
        header.multi_segment ? open_multi_segment_source(header, nsig, in.signal_count(), in.group_count, record)
                             : open_single_segment_source(header, nsig, in.signal_count(), in.group_count, record);
    if (opening.status < 0) {
        close_all(in);
        return opening.status;
    }
    if (!opening.source) {
        // Say why when the only obstacle may be a build without FLAC.
        bool has_flac = std::any_of(header.signals.begin(), header.signals.end(),
                                    [](const SignalSpec &s) { return is_flac_format(s.fmt); });
        record_error("isigopen: none of the signals for record %s is readable%s\n", record.c_str(),
                     has_flac && !flac_supported() ? " (this engine was built without FLAC support)" : "");
        return 0;
    }
    long long frame_size = static_cast<long long>(in.layout.size);
    for (int spf : opening.source->samples_per_frame()) frame_size += spf;
    if (frame_size > INT_MAX) {
        record_error("isigopen: total frame size too large in record %s\n", record.c_str());
        close_all(in);
        return -3;
    }
    add_source(in, header, opening);
    // Should copying run out of memory, the boundary closes every signal: nothing is half open.
    if (siarray) fill_deep(header, opening, siarray);
    return static_cast<int>(opening.opened.size());
}

int isigopen_checked(const char *record, WFDB_Siginfo *siarray, int nsig) {
    InputSignals &in = input();
    // The 10.4.0-10.4.21 series read WFDBGVMODE at the first open unless the application chose a mode.
    if (!in.mode_chosen) apply_mode(in, getvec_mode_from_environment());
    bool keep_open = false;
    std::string name = record_name_for_open(record, &keep_open);
    if (!keep_open) close_all(in);
    Header header;
    int rc = read_header(name, header);
    // A multi-segment record presents the signals of its layout header or first segment.
    if (rc == 0 && header.multi_segment) rc = present_segment_signals(header);
    if (rc < 0) return rc;
    apply_header(header);
    in.header = std::move(header);
    if (nsig <= 0) {
        // Shallow copies: pointers into the header kept in `in`, valid until the next header is read.
        auto count = std::min(-static_cast<long long>(nsig), static_cast<long long>(in.header.signals.size()));
        for (long long i = 0; siarray && i < count; ++i)
            siarray[i] = siginfo_of(in.header.signals[static_cast<std::size_t>(i)]);
        return in.header.nsig;
    }
    return open_signals(in, name, siarray, nsig);
}

FrameStatus worse(FrameStatus a, FrameStatus b) {
    auto rank = [](FrameStatus s) { return s == frame_error ? 3 : s == frame_end ? 2 : s == frame_checksum_error; };
    return rank(a) >= rank(b) ? a : b;
}

// Reads the next frame of every source into in.frame.
FrameStatus read_frame(InputSignals &in) {
    FrameStatus status = frame_delivered;
    for (std::size_t i = 0; i < in.sources.size(); ++i)
        status = worse(status, in.sources[i]->next_frame(in.frame.data() + in.source_offset[i]));
    if (in.pad && (status == frame_delivered || status == frame_checksum_error))
        pad_invalid_samples(in.layout, in.frame.data(), in.last_valid);
    return status;
}

// The signal count getvec reports for a delivered frame when a multi-segment record is open.
int reported_signal_count(const InputSignals &in) {
    int count = 0;
    for (const auto &source : in.sources) count += source->reported_signal_count();
    return count;
}

int getvec_checked(WFDB_Sample *vector) {
    InputSignals &in = input();
    int n = in.signal_count();
    if (n == 0) return in.ever_opened ? -1 : 0;
    FrameStatus status;
    if (in.direct) {
        status = in.direct->next_frame(vector);
        in.count_frame();
    } else if (!in.high_resolution()) {
        status = read_frame(in);
        in.count_frame();  // even when the read fails, as the reference counts calls
        if (status == frame_delivered || status == frame_checksum_error)
            low_resolution_vector(in.layout, in.frame.data(), vector);
    } else {
        if (!in.frame_loaded) {
            in.loaded_status = read_frame(in);
            in.frame_loaded = true;
        }
        status = in.loaded_status;
        if (status == frame_delivered || status == frame_checksum_error)
            high_resolution_vector(in.layout, in.frame.data(), in.sub, vector);
        if (++in.sub == in.layout.spf_max) {
            in.sub = 0;
            in.frame_loaded = false;
            in.count_frame();
        }
    }
    if (status == frame_end || status == frame_error) {
        // A frame that can not be delivered leaves no stale values behind.
        std::fill_n(vector, n, WFDB_INVALID_SAMPLE);
        return status;
    }
    if (status != frame_delivered) return status;
    return in.counts_vary ? reported_signal_count(in) : n;
}

int isigsettime_checked(WFDB_Time t) {
    InputSignals &in = input();
    if (in.signal_count() == 0 || t == in.position()) return 0;
    if (t == LONG_MIN) {
        record_error("isigsettime: improper seek on signal group %d\n", 0);
        return -1;
    }
    long long target = t < 0 ? -static_cast<long long>(t) : t;
    bool high = in.high_resolution();
    long long frame = high ? target / in.layout.spf_max : target;
    int sub = high ? static_cast<int>(target % in.layout.spf_max) : 0;
    int result = 0;
    for (auto &source : in.sources)
        if (source->seek(frame, sub > 0) < 0) result = -1;
    in.frame_index = frame;
    in.sub = sub;
    in.frame_loaded = false;
    return result;
}

void record_allocation_failure(const char *call) {
    record_error("%s: not enough memory\n", call);
}

}  // namespace

void close_input_signals() { close_all(input()); }

void reset_signal_input() {
    InputSignals &in = input();
    close_all(in);
    in.ever_opened = false;
    in.mode_chosen = false;
    in.pad = false;
    in.high_mode = false;
    in.header = Header();
    record_state().high_resolution = false;
}

}  // namespace sigtrove::engine

using namespace sigtrove::engine;

extern "C" {

int isigopen(char *record, WFDB_Siginfo *siarray, int nsig) {
    try {
        return isigopen_checked(record, siarray, nsig);
    } catch (const std::bad_alloc &) {
        close_all(input());
        record_allocation_failure("isigopen");
        return -3;
    }
}

int setgvmode(int mode) {
    if (mode < 0) mode = getvec_mode_from_environment();
    apply_mode(input(), mode);
    return 0;
}

int getvec(WFDB_Sample *vector) {
    try {
        return getvec_checked(vector);
    } catch (const std::bad_alloc &) {
        record_allocation_failure("getvec");
        return -3;
    }
}

int isigsettime(WFDB_Time t) {
    try {
        return isigsettime_checked(t);
    } catch (const std::bad_alloc &) {
        record_allocation_failure("isigsettime");
        return -1;
    }
}

}
