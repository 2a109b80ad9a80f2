// isigopen, getvec, isigsettime and setgvmode over the process-wide set of
// open input signals. Each record opened is one engine Record; with a leading
// '+' several records are read side by side.
#include "wfdb_interface/signal_input.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "paths/path_search.h"
#include "record/record.h"
#include "signals/array_sink.h"
#include "signals/getvec_modes.h"
#include "texts/error_state.h"
#include "wfdb_interface/c_boundary.h"
#include "wfdb_interface/record_state.h"

namespace sigtrove::engine {
namespace {

struct InputSignals {
    std::vector<std::unique_ptr<Record>> records;
    std::vector<std::size_t> record_offset;  // where each record's samples start in `frame`
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
    bool high_mode = false;  // WFDB_HIGHRES, mirrored in record_state() for sampfreq
    // The record getvec reads straight into the caller's vector: one record,
    // one sample per signal, nothing to pad or average. Null otherwise.
    Record *direct = nullptr;

    // The header read last, which header-only isigopen's shallow copies point into.
    std::shared_ptr<const RecordDescription> description;

    int signal_count() const { return static_cast<int>(layout.spf.size()); }
    bool high_resolution() const { return high_mode && layout.spf_max > 1; }
    void choose_path() {
        direct = records.size() == 1 && layout.all_single && !pad && !high_resolution() ? records[0].get() : nullptr;
    }
    long long position() const { return high_resolution() ? frame_index * layout.spf_max + sub : frame_index; }
    // Counts one frame read. A seek may put the position at the largest time there
    // is; reading on from there must not overflow, so the count stops at it.
    void count_frame() {
        long long limit = high_resolution() ? LONG_MAX / layout.spf_max - 1 : LONG_MAX;
        if (frame_index < limit) ++frame_index;
    }
    // Leaves the position on a frame boundary (after a mode change or an open).
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
    // Buffers are given back, not only emptied, and before the records: a record's
    // destruction returns what was freed to the system (see Record::~Record).
    in.record_offset = std::vector<std::size_t>();
    in.layout.clear();
    in.frame = std::vector<WFDB_Sample>();
    in.last_valid = std::vector<WFDB_Sample>();
    in.records.clear();
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
void fill_deep(const Record &record, WFDB_Siginfo *siarray) {
    const Header &header = record.header();
    std::vector<WFDB_Siginfo> copies;
    copies.reserve(record.opened().size());
    try {
        for (std::size_t i = 0; i < record.opened().size(); ++i) {
            WFDB_Siginfo shared = siginfo_of(header.signals[record.opened()[i]]);
            WFDB_Siginfo &info = copies.emplace_back(shared);
            info.fname = info.desc = info.units = nullptr;
            info.group = static_cast<WFDB_Group>(record.group_of_opened()[i]);
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

// Adds an opened record to the set: its signals follow those already open.
void add_record(InputSignals &in, std::unique_ptr<Record> record) {
    in.settle_position();
    in.record_offset.push_back(in.layout.size);
    const Header &header = record->header();
    for (std::size_t i = 0; i < record->opened().size(); ++i) {
        in.layout.add_signal(record->samples_per_frame()[i]);
        in.last_valid.push_back(header.signals[record->opened()[i]].initval);
    }
    in.frame.resize(in.layout.size);
    in.group_count = std::max(in.group_count, record->group_of_opened().back() + 1);
    in.counts_vary = in.counts_vary || header.multi_segment;
    in.records.push_back(std::move(record));
    in.ever_opened = true;
    in.choose_path();
}

int open_signals(InputSignals &in, WFDB_Siginfo *siarray, int nsig) {
    std::unique_ptr<Record> record;
    Record::Options options{nsig, in.signal_count(), in.group_count};
    int n = Record::open_signals(in.description, options, record);
    if (n < 0) close_all(in);
    if (n <= 0) return n;
    long long frame_size = static_cast<long long>(in.layout.size);
    for (int spf : record->samples_per_frame()) frame_size += spf;
    if (frame_size > INT_MAX) {
        record_error("isigopen: total frame size too large in record %s\n", in.description->name.c_str());
        close_all(in);
        return -3;
    }
    const Record &added = *record;
    add_record(in, std::move(record));
    // Should copying run out of memory, the boundary closes every signal: nothing is half open.
    if (siarray) fill_deep(added, siarray);
    return n;
}

int isigopen_checked(const char *record, WFDB_Siginfo *siarray, int nsig) {
    InputSignals &in = input();
    // The 10.4.0-10.4.21 series read WFDBGVMODE at the first open unless the application chose a mode.
    if (!in.mode_chosen) apply_mode(in, getvec_mode_from_environment());
    bool keep_open = false;
    std::string name = record_name_for_open(record, &keep_open);
    if (!keep_open) close_all(in);
    std::shared_ptr<const RecordDescription> description;
    if (int rc = describe_record(name, description); rc < 0) return rc;
    apply_header(description->header);
    in.description = std::move(description);
    const Header &header = in.description->header;
    if (nsig <= 0) {
        // Shallow copies: pointers into the header kept in `in`, valid until the next header is read.
        auto count = std::min(-static_cast<long long>(nsig), static_cast<long long>(header.signals.size()));
        for (long long i = 0; siarray && i < count; ++i)
            siarray[i] = siginfo_of(header.signals[static_cast<std::size_t>(i)]);
        return header.nsig;
    }
    return open_signals(in, siarray, nsig);
}

FrameStatus worse(FrameStatus a, FrameStatus b) {
    auto rank = [](FrameStatus s) { return s == frame_error ? 3 : s == frame_end ? 2 : s == frame_checksum_error; };
    return rank(a) >= rank(b) ? a : b;
}

// Reads the next frame of every record into in.frame.
FrameStatus read_frame(InputSignals &in) {
    FrameStatus status = frame_delivered;
    for (std::size_t i = 0; i < in.records.size(); ++i)
        status = worse(status, in.records[i]->next_frame(in.frame.data() + in.record_offset[i]));
    if (in.pad && (status == frame_delivered || status == frame_checksum_error))
        pad_invalid_samples(in.layout, in.frame.data(), in.last_valid);
    return status;
}

// The signal count getvec reports for a delivered frame when a multi-segment record is open.
int reported_signal_count(const InputSignals &in) {
    int count = 0;
    for (const auto &record : in.records) count += record->reported_signal_count();
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
    for (auto &record : in.records)
        if (record->seek(frame, sub > 0) < 0) result = -1;
    in.frame_index = frame;
    in.sub = sub;
    in.frame_loaded = false;
    return result;
}

// Whether a run of getvec calls can be read as one bulk read: one single-segment
// record in low resolution without padding, where getvec's frames are exactly the
// record's frames (a multi-segment record's getvec passes over unreadable frames
// one call at a time, which a bulk read does not).
bool reads_in_blocks(const InputSignals &in) {
    return in.records.size() == 1 && !in.pad && !in.high_resolution() && !in.records[0]->multi_segment() &&
           !in.frame_loaded;
}

SignalRun read_signal_in_blocks(InputSignals &in, int signal, long long count, WFDB_Sample *out) {
    static const std::vector<PhysicalScale> no_scales;
    std::unique_ptr<FrameSink> sink = make_array_sink(SampleType::int32, out, 1, SampleRate::frame, no_scales);
    std::vector<std::size_t> chosen{static_cast<std::size_t>(signal)};
    BulkOutcome outcome = in.records[0]->source().read_bulk(chosen, count, *sink);
    SignalRun run{outcome.frames, 0};
    // getvec counts every call, the one that stops the run included.
    long long calls = outcome.frames + (outcome.stop != frame_delivered ? 1 : 0);
    for (long long i = 0; i < calls; ++i) in.count_frame();
    if (outcome.stop != frame_delivered) run.status = outcome.stop;
    return run;
}

SignalRun read_signal_by_frames(InputSignals &in, int signal, long long count, WFDB_Sample *out) {
    std::vector<WFDB_Sample> vector(static_cast<std::size_t>(std::max(in.signal_count(), 1)));
    SignalRun run;
    while (run.delivered < count) {
        int status = getvec_checked(vector.data());
        if (status == frame_end || (status < 0 && status != frame_checksum_error)) {
            run.status = status;
            break;
        }
        if (status == 0) {  // nothing open
            run.status = -1;
            break;
        }
        out[run.delivered++] = vector[static_cast<std::size_t>(signal)];
    }
    return run;
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
    in.description.reset();
    record_state().high_resolution = false;
}

std::shared_ptr<const RecordDescription> last_input_description() { return input().description; }

SignalRun read_input_signal(int signal, long long count, WFDB_Sample *out) {
    InputSignals &in = input();
    if (signal < 0 || signal >= in.signal_count() || count <= 0) return SignalRun{0, count > 0 ? -1 : 0};
    return guarded_call(not_enough_memory("getvec"), SignalRun{0, -3}, [&] {
        return reads_in_blocks(in) ? read_signal_in_blocks(in, signal, count, out)
                                   : read_signal_by_frames(in, signal, count, out);
    });
}

}  // namespace sigtrove::engine

using namespace sigtrove::engine;

extern "C" {

int isigopen(char *record, WFDB_Siginfo *siarray, int nsig) {
    return guarded_call(
        not_enough_memory("isigopen"), -3, [&] { return isigopen_checked(record, siarray, nsig); },
        [] { close_all(input()); });
}

int setgvmode(int mode) {
    if (mode < 0) mode = getvec_mode_from_environment();
    apply_mode(input(), mode);
    return 0;
}

int getvec(WFDB_Sample *vector) {
    return guarded_call(not_enough_memory("getvec"), -3, [&] { return getvec_checked(vector); });
}

int isigsettime(WFDB_Time t) {
    return guarded_call(not_enough_memory("isigsettime"), -1, [&] { return isigsettime_checked(t); });
}
}
