// EDF and BDF files: the first input byte chooses the name (r.edf or r.BDF) and
// the rest is the file, read as a record (header parser, bulk reads of frames and
// of a signal at its own rate from a few starts, next_frame with seeks) and as
// its "edf" annotations; the same bytes also go through the annotation-list
// parser directly.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "annotations/annotation_file.h"
#include "edf/annotation_lists.h"
#include "fuzz_scratch.h"
#include "header/header.h"
#include "record/record.h"
#include "record_header/record_header.h"
#include "signals/array_sink.h"
#include "wfdb/wfdb.h"

using namespace sigtrove;

namespace {

void read_some(engine::Record &record) {
    const auto n = static_cast<std::size_t>(record.signal_count());
    std::vector<std::size_t> all(n);
    std::vector<engine::PhysicalScale> scales;
    for (std::size_t i = 0; i < n; ++i) {
        all[i] = i;
        scales.push_back(engine::physical_scale(record.header().signals[record.opened()[i]]));
    }
    constexpr long long kFrames = 64;
    std::vector<double> out(static_cast<std::size_t>(kFrames) * n);
    const long long length = record.frame_count();
    for (long long start : {0LL, length / 2, length - 3}) {
        if (start < 0) continue;
        auto sink =
            engine::make_array_sink(engine::SampleType::float64, out.data(), n, engine::SampleRate::frame, scales);
        engine::BulkOutcome outcome;
        (void)record.read(start, kFrames, all, *sink, outcome);
    }
    int spf = record.samples_per_frame()[0];
    if (spf <= 4096) {
        std::vector<std::int32_t> own(static_cast<std::size_t>(spf) * 8);
        auto sink = engine::make_array_sink(engine::SampleType::int32, own.data(), 1, engine::SampleRate::own, {});
        engine::BulkOutcome outcome;
        (void)record.read(1, 8, {0}, *sink, outcome);
    }
    std::size_t width = 0;
    for (int s : record.samples_per_frame()) width += static_cast<std::size_t>(s);
    if (width > (1u << 20)) return;
    std::vector<WFDB_Sample> frame(width);
    for (long long at : {0LL, length / 3}) {
        if (record.seek(at, false) < 0) continue;
        for (int i = 0; i < 8 && record.next_frame(frame.data()) == engine::frame_delivered; ++i)
            (void)record.source().last_frame_in_gap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1) return 0;
    fuzz::scratch_folder();
    fuzz::reset_engine();
    const std::string name = (data[0] & 1) ? "r.BDF" : "r.edf";
    fuzz::remove_scratch_file("r.edf");
    fuzz::remove_scratch_file("r.BDF");
    fuzz::write_scratch_file(name, data + 1, size - 1);

    std::vector<engine::EdfAnnotationList> lists;
    std::string error;
    (void)engine::parse_annotation_lists(data + 1, size - 1, lists, error);
    (void)engine::data_record_onset(data + 1, size - 1, error);

    engine::Header header;
    (void)engine::read_header(name, header);
    std::unique_ptr<engine::Record> record;
    if (engine::Record::open(name, record).ok()) read_some(*record);
    record.reset();

    std::unique_ptr<engine::AnnotationFile> file;
    if (engine::AnnotationFile::open(name, "edf", WFDB_READ, file).ok()) {
        std::vector<engine::AnnotationRow> rows;
        (void)file->read(0, std::nullopt, rows);
        WFDB_Time middle = rows.empty() ? 0 : rows[rows.size() / 2].time;
        rows.clear();
        (void)file->read(middle, middle + 100, rows);
    }
    return 0;
}
