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

#include "errors/error_state.h"
#include "paths/path_search.h"
#include "record/frame_input.h"
#include "record/record.h"
#include "wfdb_interface/c_boundary.h"
#include "wfdb_interface/record_state.h"

namespace sigtrove::engine {
namespace {

// The process's open input signals, and the header isigopen read last.
struct InputSignals {
    FrameInput frames;
    // The header read last, which header-only isigopen's shallow copies point into.
    std::shared_ptr<const RecordDescription> description;
};

InputSignals &input() {
    static InputSignals state;
    return state;
}

void close_all(InputSignals &in) { in.frames.close(); }

void apply_mode(InputSignals &in, int mode) {
    in.frames.set_mode(mode);
    record_state().high_resolution = in.frames.high_mode();
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

int open_signals(InputSignals &in, WFDB_Siginfo *siarray, int nsig) {
    std::unique_ptr<Record> record;
    Record::Options options{nsig, in.frames.signal_count(), in.frames.group_count()};
    int n = Record::open_signals(in.description, options, record);
    if (n < 0) close_all(in);
    if (n <= 0) return n;
    long long frame_size = static_cast<long long>(in.frames.frame_size());
    for (int spf : record->samples_per_frame()) frame_size += spf;
    if (frame_size > INT_MAX) {
        record_error("isigopen: total frame size too large in record %s\n", in.description->name.c_str());
        close_all(in);
        return -3;
    }
    const Record &added = *record;
    in.frames.add(std::move(record));
    // Should copying run out of memory, the boundary closes every signal: nothing is half open.
    if (siarray) fill_deep(added, siarray);
    return n;
}

int isigopen_checked(const char *record, WFDB_Siginfo *siarray, int nsig) {
    InputSignals &in = input();
    // The 10.4.0-10.4.21 series read WFDBGVMODE at the first open unless the application chose a mode.
    if (!in.frames.mode_chosen()) apply_mode(in, getvec_mode_from_environment());
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

}  // namespace

void close_input_signals() { close_all(input()); }

void reset_signal_input() {
    InputSignals &in = input();
    in.frames.reset();
    in.description.reset();
    record_state().high_resolution = false;
}

std::shared_ptr<const RecordDescription> last_input_description() { return input().description; }

SignalRun read_input_signal(int signal, long long count, WFDB_Sample *out) {
    return guarded_call(not_enough_memory("getvec"), SignalRun{0, -3},
                        [&] { return input().frames.read_signal(signal, count, out); });
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
    return guarded_call(not_enough_memory("getvec"), -3, [&] { return input().frames.next(vector); });
}

int isigsettime(WFDB_Time t) {
    return guarded_call(not_enough_memory("isigsettime"), -1, [&] { return input().frames.seek(t); });
}
}
