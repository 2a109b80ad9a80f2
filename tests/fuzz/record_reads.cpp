#include "record_reads.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz_scratch.h"
#include "record/record.h"
#include "signals/array_sink.h"
#include "wfdb/wfdb.h"

namespace sigtrove::fuzz {
namespace {

// Reads whole frames with getvec (up to a cap), then seeks and reads on.
void read_through_getvec(int variant) {
    char name[] = "r";
    std::vector<WFDB_Siginfo> info(64);
    setgvmode(((variant & 1) ? WFDB_HIGHRES : WFDB_LOWRES) | ((variant & 2) ? WFDB_GVPAD : 0));
    int n = isigopen(name, info.data(), static_cast<int>(info.size()));
    for (int i = 0; i < n; ++i) {
        std::free(info[static_cast<std::size_t>(i)].fname);
        std::free(info[static_cast<std::size_t>(i)].desc);
        std::free(info[static_cast<std::size_t>(i)].units);
    }
    if (n <= 0) return;
    std::vector<WFDB_Sample> vector(static_cast<std::size_t>(n));
    WFDB_Time read = 0;
    for (; read < 20000; ++read) {
        int status = getvec(vector.data());
        if (status < 0 && status != -4) break;
    }
    const WFDB_Time targets[] = {read / 2, read, read + 1, 1, read - 1, 0};
    for (WFDB_Time t : targets) {
        if (isigsettime(t) < 0) continue;
        for (int i = 0; i < 40 && getvec(vector.data()) >= 0; ++i) {
        }
    }
}

void bulk_read(engine::Record &record, long long start, long long frames, std::vector<std::size_t> signals,
               engine::SampleType type, engine::SampleRate rate) {
    const long long kCap = 1 << 16;
    frames = std::min(frames, kCap);
    std::size_t rows = static_cast<std::size_t>(frames);
    if (rate == engine::SampleRate::own) rows *= static_cast<std::size_t>(record.samples_per_frame()[signals[0]]);
    std::vector<double> out(std::max<std::size_t>(rows * signals.size(), 1));
    std::vector<engine::PhysicalScale> scales(signals.size(), engine::PhysicalScale{3, 200});
    auto sink = engine::make_array_sink(type, out.data(), signals.size(), rate, scales);
    engine::BulkOutcome outcome;
    (void)record.read(start, frames, signals, *sink, outcome);
}

void read_through_record(int variant) {
    std::unique_ptr<engine::Record> record;
    if (!engine::Record::open("r", record).ok()) return;
    const long long count = record->frame_count();
    const long long known = count < 0 ? 4096 : count;
    std::vector<std::size_t> all(static_cast<std::size_t>(record->signal_count()));
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    // Chosen columns in another order, one of them twice.
    std::vector<std::size_t> some{all.back(), all.front(), all.back()};
    const engine::SampleType types[] = {engine::SampleType::int16, engine::SampleType::int32,
                                        engine::SampleType::float32, engine::SampleType::float64};
    bulk_read(*record, 0, known + 1, all, types[variant & 3], engine::SampleRate::frame);
    bulk_read(*record, known / 3, 1000, some, engine::SampleType::int32, engine::SampleRate::frame);
    bulk_read(*record, known - 1, 10, all, engine::SampleType::float64, engine::SampleRate::frame);
    bulk_read(*record, std::max(known - 5, 0LL), 9, {all.back()}, engine::SampleType::int32, engine::SampleRate::own);
    bulk_read(*record, known + 5, 3, all, engine::SampleType::int32, engine::SampleRate::frame);
}

}  // namespace

void read_record_every_way(int variant) {
    read_through_getvec(variant);
    read_through_record(variant);
}

void read_signal_file_input(const char *const headers[], std::size_t count, const std::uint8_t *data,
                            std::size_t size) {
    if (size < 1 || count == 0) return;
    scratch_folder();
    reset_engine();
    write_scratch_file("r.hea", headers[(data[0] & 31) % count]);
    write_scratch_file("r.dat", data + 1, size - 1);
    read_record_every_way(data[0] >> 5);
}

}  // namespace sigtrove::fuzz
