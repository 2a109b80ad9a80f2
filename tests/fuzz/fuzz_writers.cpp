// The record writers against the reader: the input's first bytes choose a format
// (or an EDF or BDF file), a number of signals and their samples per frame, the
// rest are the values (16-bit little-endian words, scaled over the format's
// range, -32768 an invalid sample), written in blocks of a size the input chooses
// too. A write either fails with a text (a value or step the format can not hold)
// and leaves nothing behind, or the record reads back value for value (an EDF
// file's last data record filled out with each signal's last value).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "every_sample.h"
#include "fuzz_scratch.h"
#include "paths/database_path.h"
#include "record/record.h"
#include "signals/frame_sink.h"
#include "wfdb/wfdb.h"
#include "writers/edf_writer.h"
#include "writers/new_record.h"
#include "writers/record_writer.h"
#include "writers/writable_formats.h"

using namespace sigtrove;

namespace {

constexpr int kFormats[] = {8, 16, 24, 32, 61, 80, 160, 212, 310, 311, 508, 516, 524};

void remove_record() {
    for (const auto &entry : std::filesystem::directory_iterator(fuzz::scratch_folder()))
        std::filesystem::remove(entry.path());
}

// Every sample of the first FRAMES frames of record NAME (-1: of all it holds).
void read_back(const std::string &name, long long frames, std::vector<std::vector<std::int64_t>> &read) {
    std::unique_ptr<engine::Record> back;
    if (!engine::Record::open(name, back).ok()) std::abort();
    if (frames < 0) frames = back->deliverable_frames();
    engine::BulkOutcome outcome;
    if (!testing::read_every_sample(*back, frames, read, outcome).ok() || outcome.checksum_mismatch) std::abort();
}

// An EDF or BDF file of the values at FREQUENCY: written whole or refused with nothing left.
void write_edf(engine::EdfKind kind, double frequency, std::size_t block, const std::vector<int> &spf,
               std::vector<std::vector<std::int64_t>> values, std::size_t frames) {
    engine::EdfFile file;
    file.name = kind == engine::EdfKind::bdf ? "w.bdf" : "w.edf";
    file.kind = kind;
    file.frequency = frequency;
    file.frames = static_cast<long long>(frames);
    file.stored_invalid = false;
    // An annotation at every frame whose first value is even: lists of any fullness.
    for (std::size_t k = 0; k < frames; ++k)
        if (values[0][k * static_cast<std::size_t>(spf[0])] % 2 == 0)
            file.annotations.push_back({static_cast<long long>(k), std::nullopt, std::to_string(k)});
    for (std::size_t s = 0; s < spf.size(); ++s) {
        engine::EdfSignalToWrite signal;
        signal.samples_per_frame = spf[s];
        // WFDB's invalid sample is a value like any other here: BDF's lowest is far below it.
        for (std::int64_t &v : values[s])
            if (v == WFDB_INVALID_SAMPLE) v = engine::edf_digital_minimum(kind);
        file.signals.push_back(signal);
    }
    std::unique_ptr<engine::EdfWriter> writer;
    engine::Status status = engine::EdfWriter::create(fuzz::scratch_folder(), file, {}, writer);
    for (std::size_t first = 0; status.ok() && first < frames; first += block) {
        std::vector<engine::SampleColumn> columns;
        for (std::size_t s = 0; s < spf.size(); ++s)
            columns.push_back({engine::SampleColumn::Kind::stored64,
                               values[s].data() + first * static_cast<std::size_t>(spf[s]),
                               static_cast<std::size_t>(spf[s])});
        status = writer->put(std::min(block, frames - first), columns.data());
    }
    if (status.ok()) status = writer->finish();
    writer.reset();
    if (!status.ok()) {
        if (status.text().empty() || !std::filesystem::is_empty(fuzz::scratch_folder())) std::abort();
        return;
    }
    std::vector<std::vector<std::int64_t>> read;
    read_back(file.name, -1, read);
    // The reader takes the highest rate all signals share: compare sample streams signal by signal.
    if (read.size() != values.size()) std::abort();
    for (std::size_t s = 0; s < values.size(); ++s)
        if (read[s].size() < values[s].size() || !std::equal(values[s].begin(), values[s].end(), read[s].begin()))
            std::abort();
    remove_record();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 4) return 0;
    fuzz::reset_engine();
    engine::reset_database_path();
    constexpr std::size_t kKinds = sizeof kFormats / sizeof kFormats[0] + 2;  // and EDF, BDF
    const std::size_t kind = data[0] % kKinds;
    const bool edf = kind >= kKinds - 2;
    const int format = edf ? (kind == kKinds - 2 ? 16 : 24) : kFormats[kind];
    const engine::WritableFormat &f = *engine::writable_format(format);
    if (f.flac_bits > 0 && !engine::flac_writing_supported()) return 0;
    const std::size_t signals = 1 + data[1] % 4;
    const std::size_t block = 1 + data[2];
    const std::size_t rate = data[1] / 4 % 8;  // of an EDF file
    std::vector<int> spf(signals);
    for (std::size_t s = 0; s < signals; ++s) spf[s] = 1 + (data[3] >> (2 * s)) % 3;
    if (f.flac_bits > 0) spf.assign(signals, spf[0]);  // a FLAC file holds signals of one rate
    data += 4;
    size -= 4;

    // Frames of every signal's samples from the words of the input.
    std::size_t per_frame = 0;
    for (int k : spf) per_frame += static_cast<std::size_t>(k);
    const std::size_t frames = size / 2 / per_frame;
    std::vector<std::vector<std::int64_t>> values(signals);
    std::size_t at = 0;
    for (std::size_t k = 0; k < frames; ++k) {
        for (std::size_t s = 0; s < signals; ++s) {
            for (int j = 0; j < spf[s]; ++j, at += 2) {
                const auto word = static_cast<std::int16_t>(data[at] | data[at + 1] << 8);
                // Scaled to reach the format's extremes (and one beyond them).
                const std::int64_t scale =
                    std::max<std::int64_t>(1, (static_cast<std::int64_t>(f.highest) + 1) / 32767);
                values[s].push_back(word == -32768 ? WFDB_INVALID_SAMPLE : word * scale);
            }
        }
    }
    if (edf) {
        if (frames == 0) return 0;
        // Frequencies whose data records hold whole frames, and one that makes none.
        constexpr double kRates[] = {1, 2.5, 128, 360, 1000, 0.1, 1.0 / 3, 250};
        write_edf(kind == kKinds - 2 ? engine::EdfKind::edf : engine::EdfKind::bdf, kRates[rate], block, spf, values,
                  frames);
        return 0;
    }
    engine::NewRecord record;
    record.name = "w";
    record.frequency = 250;
    record.frames = static_cast<long long>(frames);
    for (std::size_t s = 0; s < signals; ++s) {
        engine::NewSignal signal;
        signal.format = format;
        signal.samples_per_frame = spf[s];
        signal.samples = engine::SampleColumn{engine::SampleColumn::Kind::stored64, values[s].data(),
                                              static_cast<std::size_t>(spf[s])};
        record.signals.push_back(signal);
    }
    engine::Header layout;
    if (!engine::plan_new_record(record, layout).ok()) std::abort();
    std::unique_ptr<engine::RecordWriter> writer;
    if (!engine::RecordWriter::create(fuzz::scratch_folder(), layout, {}, writer).ok()) std::abort();
    engine::Status status;
    for (long long first = 0; status.ok() && first < record.frames; first += static_cast<long long>(block)) {
        std::vector<engine::SampleColumn> columns = engine::new_record_block(record, first);
        status =
            writer->put(static_cast<std::size_t>(std::min<long long>(block, record.frames - first)), columns.data());
    }
    if (status.ok()) status = writer->finish();
    writer.reset();
    if (!status.ok()) {
        // Refused: a text says why, and nothing is left in the folder.
        if (status.text().empty() || !std::filesystem::is_empty(fuzz::scratch_folder())) std::abort();
        return 0;
    }
    std::unique_ptr<engine::Record> back;
    if (!engine::Record::open("w", back).ok()) std::abort();
    std::vector<std::vector<std::int64_t>> read;
    engine::BulkOutcome outcome;
    // The frames written (a file of formats 310 and 311 may hold one sample more; a FLAC stream of
    // no samples does not say how long it is).
    if (!testing::read_every_sample(*back, static_cast<long long>(frames), read, outcome).ok() ||
        outcome.checksum_mismatch)
        std::abort();
    if (frames > 0 && read != values) std::abort();
    back.reset();
    remove_record();
    return 0;
}
