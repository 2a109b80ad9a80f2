// Samples per second of a bulk read of every frame of a record into an int32
// and a float64 array, beside the frame-by-frame getvec path in the same run.
// The record is opened once; each pass reads it whole from frame 0 (files in
// the page cache, decoding included).
//
//   bulk_read_throughput [FOLDER RECORD [PASSES]]
//
// Without arguments: records 100 (format 212, 2 signals) and s0010_re (format 16,
// 15 signals in two files) of the test fixtures.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "record/record.h"
#include "signals/array_sink.h"
#include "wfdb/wfdb.h"

using namespace sigtrove::engine;

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Best samples per second of reading the record whole into an array of `type`.
double bulk_rate(Record &record, SampleType type, int passes, long long &frames) {
    std::vector<std::size_t> all(static_cast<std::size_t>(record.signal_count()));
    std::vector<PhysicalScale> scales;
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = i;
        const SignalSpec &s = record.header().signals[record.opened()[i]];
        scales.push_back({static_cast<double>(s.baseline), s.gain == 0 ? WFDB_DEFGAIN : s.gain});
    }
    frames = record.frame_count();
    std::vector<unsigned char> out(static_cast<std::size_t>(frames) * all.size() * sample_size(type));
    double best = 0;
    for (int pass = 0; pass < passes; ++pass) {
        // A fresh record object per pass: the read starts from frame 0 with nothing decoded.
        std::unique_ptr<Record> fresh;
        if (!Record::open(record.shared_description(), fresh).ok()) std::exit(1);
        auto sink = make_array_sink(type, out.data(), all.size(), SampleRate::frame, scales);
        BulkOutcome outcome;
        auto start = std::chrono::steady_clock::now();
        if (!fresh->read(0, frames, all, *sink, outcome).ok() || outcome.frames != frames) std::exit(1);
        best = std::max(best, static_cast<double>(frames) * static_cast<double>(all.size()) / seconds_since(start));
    }
    return best;
}

double getvec_rate(const std::string &record, int passes) {
    int nsig = isigopen(const_cast<char *>(record.c_str()), nullptr, 0);
    std::vector<WFDB_Siginfo> info(static_cast<std::size_t>(nsig));
    std::vector<WFDB_Sample> v(static_cast<std::size_t>(nsig));
    double best = 0;
    for (int pass = 0; pass < passes; ++pass) {
        if (isigopen(const_cast<char *>(record.c_str()), info.data(), nsig) != nsig) std::exit(1);
        long frames = 0;
        auto start = std::chrono::steady_clock::now();
        while (getvec(v.data()) > 0) ++frames;
        best = std::max(best, static_cast<double>(frames) * nsig / seconds_since(start));
        for (WFDB_Siginfo &s : info) std::free(s.fname), std::free(s.desc), std::free(s.units);
    }
    return best;
}

void measure(const std::string &record, int passes) {
    std::unique_ptr<Record> opened;
    Status status = Record::open(record, opened);
    if (!status.ok()) {
        std::fprintf(stderr, "%s", status.text().c_str());
        std::exit(1);
    }
    long long frames = 0;
    double int32 = bulk_rate(*opened, SampleType::int32, passes, frames);
    double float64 = bulk_rate(*opened, SampleType::float64, passes, frames);
    // SIGTROVE_BENCH_BULK_ONLY=1 leaves getvec out, for profiling the bulk path alone.
    double getvec = std::getenv("SIGTROVE_BENCH_BULK_ONLY") ? 0 : getvec_rate(record, passes);
    std::printf(
        "%-10s %8lld frames x %2d signals (format %d): bulk int32 %6.0f M samples/s, bulk float64 %6.0f M "
        "samples/s, getvec %5.0f M samples/s (best of %d)\n",
        record.c_str(), frames, opened->signal_count(), opened->header().signals[0].fmt, int32 / 1e6, float64 / 1e6,
        getvec / 1e6, passes);
}

}  // namespace

int main(int argc, char **argv) {
    std::string folder = argc > 2 ? argv[1] : SIGTROVE_FIXTURES "/records";
    int passes = argc > 3 ? std::atoi(argv[3]) : 7;
    if (chdir(folder.c_str()) != 0) {
        std::perror(folder.c_str());
        return 1;
    }
    setenv("WFDB", ".", 1);
    wfdbquiet();
    if (argc > 2) {
        measure(argv[2], passes);
    } else {
        measure("100", passes);
        measure("s0010_re", passes);
    }
    return 0;
}
