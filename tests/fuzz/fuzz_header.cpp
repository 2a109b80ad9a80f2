// Header files: the input is "r.hea", read through the header parser, described
// (a multi-segment master looks up its segments), opened as a record object and
// through isigopen, and a few frames read both ways. Signal files a header names
// are not there, except format 0 groups (no file) and the header itself when a
// line names "r.hea".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz_scratch.h"
#include "header/header.h"
#include "record/record.h"
#include "record/record_description.h"
#include "record_header/record_header.h"
#include "signals/array_sink.h"
#include "wfdb/wfdb.h"

using namespace sigtrove;

namespace {

// Reads a few frames of every open signal in bulk, as float64.
void read_some(engine::Record &record) {
    std::vector<std::size_t> all(static_cast<std::size_t>(record.signal_count()));
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    constexpr long long kFrames = 64;
    std::vector<double> out(static_cast<std::size_t>(kFrames) * all.size());
    std::vector<engine::PhysicalScale> scales(all.size());
    auto sink =
        engine::make_array_sink(engine::SampleType::float64, out.data(), all.size(), engine::SampleRate::frame, scales);
    engine::BulkOutcome outcome;
    (void)record.read(0, kFrames, all, *sink, outcome);
    (void)record.frame_count();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    fuzz::scratch_folder();
    fuzz::reset_engine();
    fuzz::write_scratch_file("r.hea", data, size);

    engine::Header header;
    (void)engine::read_header("r", header);

    std::unique_ptr<engine::Record> record;
    if (engine::Record::open("r", record).ok()) read_some(*record);
    record.reset();

    char name[] = "r";
    int nsig = isigopen(name, nullptr, 0);
    (void)sampfreq(name);
    if (nsig > 0 && nsig <= 4096) {
        std::vector<WFDB_Siginfo> info(static_cast<std::size_t>(nsig));
        int opened = isigopen(name, info.data(), nsig);
        for (int i = 0; i < opened; ++i) {
            std::free(info[static_cast<std::size_t>(i)].fname);
            std::free(info[static_cast<std::size_t>(i)].desc);
            std::free(info[static_cast<std::size_t>(i)].units);
        }
        if (opened > 0) {
            std::vector<WFDB_Sample> frame(static_cast<std::size_t>(opened));
            for (int i = 0; i < 16 && getvec(frame.data()) >= 0; ++i) {
            }
            (void)isigsettime(3);
            (void)getvec(frame.data());
        }
    }
    return 0;
}
