// Samples per second of reading a whole EDF file into a float64 array (physical
// values by the EDF definition) and an int16 one, and the time of opening the
// file and reading a 10-second window from its middle. The file is an hour of
// 23 signals at 256 Hz in 1-s data records with an annotation signal (EDF+C),
// written by this program; it stays in the page cache between passes.
//
//   edf_read_throughput [FILE [PASSES]]
//
// Peers are timed on the same FILE by a script of their own (pyEDFlib's readSignal of
// every signal, MNE's read_raw_edf with and without preload).
//
// FILE is written when it does not exist (and kept, so that other readers can be
// timed on the same file), else read as it is; without it a temporary file is used.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "record/record.h"
#include "signals/array_sink.h"
#include "wfdb/wfdb.h"

using namespace sigtrove::engine;

namespace {

constexpr int kSignals = 23, kRate = 256, kSeconds = 3600, kAnnotationSamples = 30;

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string field(const std::string &text, std::size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

void write_file(const std::string &path) {
    std::string header = field("0", 8) + field("X X X X", 80) + field("Startdate 01-JAN-2020 X X X", 80) + "01.01.20" +
                         "00.00.00" + field(std::to_string(256 * (kSignals + 2)), 8) + field("EDF+C", 44) +
                         field(std::to_string(kSeconds), 8) + field("1", 8) + field(std::to_string(kSignals + 1), 4);
    auto each = [&](std::size_t width, const std::string &data, const std::string &annotation) {
        for (int s = 0; s < kSignals; ++s) {
            std::string label = std::to_string(s);
            label.insert(0, "EEG ");
            header += field(data == "#" ? label : data, width);
        }
        header += field(annotation, width);
    };
    each(16, "#", "EDF Annotations");
    each(80, "", "");
    each(8, "uV", "");
    each(8, "-3276.8", "-1");
    each(8, "3276.7", "1");
    each(8, "-32768", "-32768");
    each(8, "32767", "32767");
    each(80, "", "");
    each(8, std::to_string(kRate), std::to_string(kAnnotationSamples));
    each(32, "", "");
    std::ofstream out(path, std::ios::binary);
    out << header;
    std::uint32_t noise = 12345;
    std::string record;
    for (int r = 0; r < kSeconds; ++r) {
        record.clear();
        for (int s = 0; s < kSignals; ++s)
            for (int k = 0; k < kRate; ++k) {
                noise = noise * 1664525u + 1013904223u;
                auto v = static_cast<std::uint16_t>(noise >> 16);
                record += static_cast<char>(v & 0xff);
                record += static_cast<char>(v >> 8);
            }
        std::string stamp = std::to_string(r);
        stamp.insert(stamp.begin(), '+');
        stamp.append(2, '\x14');
        stamp.resize(2 * kAnnotationSamples, '\0');
        record += stamp;
        out << record;
    }
}

std::vector<PhysicalScale> scales_of(const Record &record) {
    std::vector<PhysicalScale> scales;
    for (std::size_t i : record.opened()) scales.push_back(physical_scale(record.header().signals[i]));
    return scales;
}

}  // namespace

int main(int argc, char **argv) {
    std::string path;
    std::unique_ptr<std::filesystem::path> temporary;
    if (argc > 1) {
        path = argv[1];
    } else {
        char folder[] = "/tmp/sigtrove-edf-bench-XXXXXX";
        if (!mkdtemp(folder)) return 1;
        temporary = std::make_unique<std::filesystem::path>(folder);
        path = (*temporary / "hour.edf").string();
    }
    if (!std::filesystem::exists(path)) write_file(path);
    const int passes = argc > 2 ? std::atoi(argv[2]) : 7;
    std::filesystem::path absolute = std::filesystem::absolute(path);
    if (chdir(absolute.parent_path().c_str()) != 0) return 1;
    setenv("WFDB", ".", 1);
    wfdbquiet();
    const std::string name = absolute.filename().string();

    double best_fresh = 1e9, best_reused = 1e9, best_int16 = 1e9, best_window = 1e9;
    long long frames = 0;
    std::size_t columns = 0;
    std::vector<double> reused;
    std::vector<std::int16_t> narrow;
    for (int pass = 0; pass < passes; ++pass) {
        for (int kind = 0; kind < 3; ++kind) {
            auto start = std::chrono::steady_clock::now();
            std::unique_ptr<Record> record;
            Status status = Record::open(name, record);
            if (!status.ok()) {
                std::fprintf(stderr, "%s", status.text().c_str());
                return 1;
            }
            frames = record->frame_count();
            columns = static_cast<std::size_t>(record->signal_count());
            std::vector<std::size_t> all(columns);
            for (std::size_t i = 0; i < columns; ++i) all[i] = i;
            const std::size_t values = static_cast<std::size_t>(frames) * columns;
            std::unique_ptr<FrameSink> sink;
            std::unique_ptr<double, decltype(&std::free)> fresh(nullptr, &std::free);
            if (kind == 0) {
                // A new array made as numpy makes a large one (aligned, in huge pages where the system has
                // them): its pages are touched as it fills.
                constexpr std::size_t kHugePage = 2 << 20;
                const std::size_t bytes = (values * sizeof(double) + kHugePage - 1) / kHugePage * kHugePage;
                fresh.reset(static_cast<double *>(std::aligned_alloc(kHugePage, bytes)));
                if (!fresh) return 1;
#ifdef MADV_HUGEPAGE
                madvise(fresh.get(), bytes, MADV_HUGEPAGE);
#endif
                sink =
                    make_array_sink(SampleType::float64, fresh.get(), columns, SampleRate::frame, scales_of(*record));
            } else if (kind == 1) {
                reused.resize(values);
                sink =
                    make_array_sink(SampleType::float64, reused.data(), columns, SampleRate::frame, scales_of(*record));
            } else {
                narrow.resize(values);
                sink = make_array_sink(SampleType::int16, SampleValues::stored, narrow.data(), columns,
                                       SampleRate::frame, {});
            }
            BulkOutcome outcome;
            if (!record->read(0, frames, all, *sink, outcome).ok() || outcome.frames != frames) return 1;
            double t = seconds_since(start);
            double &best = kind == 0 ? best_fresh : kind == 1 ? best_reused : best_int16;
            best = std::min(best, t);
        }
        // Opening the file and reading 10 s from its middle.
        auto start = std::chrono::steady_clock::now();
        std::unique_ptr<Record> record;
        if (!Record::open(name, record).ok()) return 1;
        std::vector<std::size_t> all(columns);
        for (std::size_t i = 0; i < columns; ++i) all[i] = i;
        std::vector<double> window(static_cast<std::size_t>(10 * kRate) * columns);
        auto sink = make_array_sink(SampleType::float64, window.data(), columns, SampleRate::frame, scales_of(*record));
        BulkOutcome outcome;
        if (!record->read(frames / 2, 10 * kRate, all, *sink, outcome).ok()) return 1;
        best_window = std::min(best_window, seconds_since(start));
    }
    const double samples = static_cast<double>(frames) * static_cast<double>(columns);
    std::printf("%s: %lld frames x %zu signals (%.0f M samples), best of %d\n", name.c_str(), frames, columns,
                samples / 1e6, passes);
    std::printf("  whole file, open + read into a new float64 array: %7.1f ms  %6.0f M samples/s\n", best_fresh * 1e3,
                samples / best_fresh / 1e6);
    std::printf("  whole file, open + read into a float64 array in use: %4.1f ms  %6.0f M samples/s\n",
                best_reused * 1e3, samples / best_reused / 1e6);
    std::printf("  whole file, open + read as stored int16:         %7.1f ms  %6.0f M samples/s\n", best_int16 * 1e3,
                samples / best_int16 / 1e6);
    std::printf("  open + a 10-s window from the middle (float64):  %7.3f ms\n", best_window * 1e3);
    if (temporary) std::filesystem::remove_all(*temporary);
    return 0;
}
