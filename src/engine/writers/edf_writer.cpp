#include "writers/edf_writer.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>
#include <type_traits>

#include "time/julian_date.h"
#include "wfdb/wfdb.h"
#include "writers/edf_numbers.h"
#include "writers/header_text.h"
#include "writers/output_names.h"

namespace sigtrove::engine {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
constexpr std::size_t kFixedBytes = 256, kSignalBytes = 256;
constexpr int kMaxSignals = 9999;  // what the 4-character field can say

Status bad(const std::string &text) { return Status::failure(ErrorKind::bad_request, "sigtrove: " + text + "\n"); }

std::string joined(const std::string &directory, const std::string &name) {
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

// A header field: the text padded with blanks to WIDTH. Each character beyond ASCII
// becomes one '?'; a text too long, or holding a control character, is refused.
Status field(const std::string &text, std::size_t width, const std::string &what, std::string &header) {
    std::string ascii;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            if ((c & 0xC0) != 0x80) ascii += '?';  // one '?' for each UTF-8 character
            continue;
        }
        if (c < 32 || c == 127)
            return bad("the " + what + " '" + text + "' holds characters EDF does not allow (printable ASCII only)");
        ascii += static_cast<char>(c);
    }
    if (ascii.size() > width)
        return bad("the " + what + " '" + text + "' is longer than the " + std::to_string(width) +
                   " characters EDF gives it");
    header += ascii;
    header.append(width - ascii.size(), ' ');
    return Status();
}

const char *const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

// The first nanosecond at or after the start of FRAME at F frames per SPAN nanoseconds: a
// reader that takes the frame holding an onset gives back the frame exactly.
std::int64_t frame_start(long long frame, std::int64_t span, std::int64_t frames_per_record) {
    const __int128 numerator = static_cast<__int128>(frame) * span;
    __int128 q = numerator / frames_per_record;
    if (q * frames_per_record < numerator) ++q;  // toward +infinity
    const __int128 limit = static_cast<__int128>(INT64_MAX) / 2;
    return static_cast<std::int64_t>(std::clamp<__int128>(q, -limit, limit));
}

inline void store(std::uint8_t *out, std::int32_t v, int bytes) {
    const auto u = static_cast<std::uint32_t>(v);
    out[0] = static_cast<std::uint8_t>(u);
    out[1] = static_cast<std::uint8_t>(u >> 8);
    if (bytes == 3) out[2] = static_cast<std::uint8_t>(u >> 16);
}

// What a value becomes in the fast path: a stored value, or one of these.
constexpr long long kUnstorable = LLONG_MAX;

}  // namespace

std::int32_t edf_digital_minimum(EdfKind kind) { return kind == EdfKind::bdf ? -8388608 : -32768; }
std::int32_t edf_digital_maximum(EdfKind kind) { return kind == EdfKind::bdf ? 8388607 : 32767; }

EdfWriter::~EdfWriter() = default;

Status EdfWriter::create(const std::string &directory, const EdfFile &file, const WriteOptions &options,
                         std::unique_ptr<EdfWriter> &out) {
    try {
        // The file's name: a record name before its suffix, as the reader takes it.
        const std::size_t dot = file.name.rfind('.');
        const std::string stem = dot == std::string::npos ? file.name : file.name.substr(0, dot);
        if (stem.empty() || stem[0] == '.')
            return bad("'" + file.name + "' is no record name to write (an EDF file needs a name before its suffix)");
        if (Status status = check_signal_file_name(file.name); !status.ok()) return status;
        if (file.signals.empty()) return bad("an EDF file needs at least one signal");
        if (file.signals.size() + 1 > static_cast<std::size_t>(kMaxSignals))
            return bad("an EDF file holds at most " + std::to_string(kMaxSignals - 1) + " signals and its annotations");
        if (file.frames < 1) return bad("an EDF file needs at least one frame");
        if (!(file.frequency > 0) || !std::isfinite(file.frequency))
            return bad("the frequency must be a number above 0");
        if (file.has_start && (file.start_ms < 0 || file.start_ms >= 86400000))
            return bad("the start time must lie within a day");

        std::unique_ptr<EdfWriter> writer(new EdfWriter());
        writer->layout_ = file;
        writer->options_ = options;
        const EdfFile &layout = writer->layout_;
        const int width = file.kind == EdfKind::bdf ? 3 : 2;
        writer->sample_bytes_ = width;
        writer->dmin_ = edf_digital_minimum(file.kind);
        writer->dmax_ = edf_digital_maximum(file.kind);
        const char *kind_name = file.kind == EdfKind::bdf ? "BDF" : "EDF";

        std::int64_t frame_bytes = 0;
        for (const EdfSignalToWrite &s : layout.signals) {
            if (s.samples_per_frame < 1) return bad("a signal needs at least 1 sample per frame");
            frame_bytes += static_cast<std::int64_t>(s.samples_per_frame) * width;
        }
        std::optional<EdfRecordDuration> duration =
            choose_edf_record_duration(layout.frequency, layout.frames, frame_bytes);
        if (!duration)
            return bad("a frequency of " + header_number(layout.frequency) +
                       " frames per second makes no data record of a whole number of samples: " + kind_name +
                       " can not hold it");
        writer->duration_ = *duration;
        const std::int64_t F = duration->frames_per_record;

        // The start: whole seconds in the header, the milliseconds as the first data record's onset.
        std::string date = "01.01.85", clock = "00.00.00", startdate = "Startdate X";
        std::int64_t first = 0;
        if (layout.has_start) {
            const long seconds = layout.start_ms / 1000;
            char text[32];
            std::snprintf(text, sizeof text, "%02ld.%02ld.%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
            clock = text;
            first = static_cast<std::int64_t>(layout.start_ms % 1000) * 1'000'000;
            if (layout.start_date != 0) {
                const CalendarDate day = calendar_date(layout.start_date);
                std::snprintf(text, sizeof text, "%02d.%02d.%02ld", day.day, day.month, std::labs(day.year) % 100);
                date = text;
                std::snprintf(text, sizeof text, "Startdate %02d-%s-%04ld", day.day, kMonths[day.month - 1], day.year);
                startdate = text;
            }
        }

        std::vector<EdfAnnotationToWrite> annotations;
        annotations.reserve(layout.annotations.size());
        for (const EdfAnnotationAtFrame &a : layout.annotations)
            annotations.push_back({first + frame_start(a.frame, duration->nanoseconds, F), a.duration, a.text});
        writer->layout_.annotations.clear();
        if (Status status = EdfAnnotationSignal::create(std::move(annotations), duration->records,
                                                        duration->nanoseconds, first, width, writer->annotations_);
            !status.ok())
            return status;

        // The header: its fixed part, then each field of every signal in turn.
        const std::size_t ns = layout.signals.size() + 1;
        std::string header;
        header.reserve(kFixedBytes + kSignalBytes * ns);
        if (file.kind == EdfKind::bdf)
            header +=
                "\xff"
                "BIOSEMI";
        else
            header += "0       ";
        std::vector<std::string> labels, dimensions, minima, maxima, samples;
        for (std::size_t s = 0; s < layout.signals.size(); ++s) {
            const EdfSignalToWrite &signal = layout.signals[s];
            const std::string which = "signal " + std::to_string(s);
            labels.push_back(signal.label.empty() ? which : signal.label);
            dimensions.push_back(signal.dimension.empty() ? "mV" : signal.dimension);
            if (!std::isfinite(signal.gain)) return bad("the gain of " + which + " is not a number");
            std::optional<EdfPhysicalRange> range =
                edf_physical_range(signal.gain, signal.baseline, writer->dmin_, writer->dmax_);
            if (!range)
                return bad(which + " (" + labels.back() + "): a gain of " + header_number(signal.gain) +
                           " and a baseline of " + std::to_string(signal.baseline) + " give a physical range that an " +
                           kind_name + " header can not hold");
            minima.push_back(range->minimum);
            maxima.push_back(range->maximum);
            const std::int64_t per_record = F * signal.samples_per_frame;
            if (per_record > 99'999'999)
                return bad(which + " has more samples per data record than the header can say");
            samples.push_back(std::to_string(per_record));
        }
        labels.push_back(file.kind == EdfKind::bdf ? "BDF Annotations" : "EDF Annotations");
        dimensions.emplace_back();
        minima.emplace_back("-1");
        maxima.emplace_back("1");
        if (writer->annotations_.samples() > 99'999'999)
            return bad("the annotations of one data record need more samples than the header can say");
        samples.push_back(std::to_string(writer->annotations_.samples()));

        const std::string recording = layout.recording ? *layout.recording : startdate + " X X X";
        auto add = [&](const std::string &text, std::size_t width_of, const std::string &what) {
            return field(text, width_of, what, header);
        };
        for (Status status :
             {add(layout.patient, 80, "patient field"), add(recording, 80, "recording field"),
              add(date, 8, "start date"), add(clock, 8, "start time"),
              add(std::to_string(kFixedBytes + kSignalBytes * ns), 8, "header size"),
              add(file.kind == EdfKind::bdf ? "BDF+C" : "EDF+C", 44, "reserved field"),
              add(std::to_string(duration->records), 8, "data record count"),
              add(duration->text, 8, "data record duration"), add(std::to_string(ns), 4, "signal count")})
            if (!status.ok()) return status;
        const std::string dmin = std::to_string(writer->dmin_), dmax = std::to_string(writer->dmax_);
        for (const std::string &t : labels)
            if (Status status = add(t, 16, "label"); !status.ok()) return status;
        for (std::size_t s = 0; s < ns; ++s) add("", 80, "transducer");
        for (const std::string &t : dimensions)
            if (Status status = add(t, 8, "dimension"); !status.ok()) return status;
        for (const std::string &t : minima) add(t, 8, "physical minimum");
        for (const std::string &t : maxima) add(t, 8, "physical maximum");
        for (std::size_t s = 0; s < ns; ++s) add(dmin, 8, "digital minimum");
        for (std::size_t s = 0; s < ns; ++s) add(dmax, 8, "digital maximum");
        for (std::size_t s = 0; s < ns; ++s) add("", 80, "prefiltering");
        for (const std::string &t : samples) add(t, 8, "samples per data record");
        for (std::size_t s = 0; s < ns; ++s) add("", 32, "reserved field");

        // The data record's layout.
        std::size_t at = 0;
        for (const EdfSignalToWrite &signal : layout.signals) {
            writer->offsets_.push_back(at);
            at += static_cast<std::size_t>(F * signal.samples_per_frame * width);
        }
        writer->annotation_offset_ = at;
        at += static_cast<std::size_t>(writer->annotations_.samples() * width);
        writer->record_.assign(at, 0);
        writer->last_.assign(layout.signals.size(), 0);

        // Never over the record being read; over another file only when asked to.
        const std::string path = joined(directory, file.name);
        FileIdentity identity;
        if (file_identity(path, identity)) {
            for (const FileIdentity &kept : options.protected_files)
                if (kept == identity)
                    return bad(path + " is a file of the record being read: it is never written over");
            if (!options.overwrite)
                return Status::failure(ErrorKind::exists,
                                       "sigtrove: " + path + " exists; pass overwrite=True to replace it\n");
        }
        if (Status status = OutputFile::create(directory, file.name, writer->file_); !status.ok()) return status;
        if (Status status = writer->file_->write(header.data(), header.size()); !status.ok()) return status;
        out = std::move(writer);
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory, "sigtrove: not enough memory to write " + file.name + "\n");
    }
}

Status EdfWriter::refuse(std::size_t signal, long long frame, const std::string &what) const {
    const EdfSignalToWrite &spec = layout_.signals[signal];
    const std::string name = spec.label.empty() ? std::string() : " (" + spec.label + ")";
    return Status::failure(ErrorKind::bad_request, "sigtrove: signal " + std::to_string(signal) + name + ", frame " +
                                                       std::to_string(options_.first_frame_number + frame) + ": " +
                                                       what + "\n");
}

// Frames [k, k + frames) of signal S's column (frame i's samples at i * stride + j), through
// CONVERT (the value at an index of the column, or kUnstorable), into the data record from its
// frame filled_ on. PHYSICAL: the column's physical values, for texts.
template <class Convert>
Status EdfWriter::put_signal(std::size_t s, std::size_t k, std::size_t frames, std::size_t stride, Convert convert,
                             const double *physical) {
    const auto spf = static_cast<std::size_t>(layout_.signals[s].samples_per_frame);
    std::uint8_t *out = record_.data() + offsets_[s] + static_cast<std::size_t>(filled_) * spf * sample_bytes_;
    const long long lowest = dmin_, highest = dmax_;
    long long v = 0;
    bool valid = true;
    // The loop for each width of sample, so that the store is straight-line code.
    auto put_all = [&](auto width) {
        for (std::size_t i = 0; i < frames; ++i) {
            const std::size_t first = (k + i) * stride;
            for (std::size_t j = 0; j < spf; ++j, out += width()) {
                v = convert(first + j);
                valid &= v >= lowest && v <= highest;
                store(out, static_cast<std::int32_t>(v), width());
            }
        }
    };
    if (sample_bytes_ == 3)
        put_all(std::integral_constant<int, 3>());
    else
        put_all(std::integral_constant<int, 2>());
    if (valid) {
        if (frames > 0) last_[s] = static_cast<std::int32_t>(v);
        return Status();
    }
    // The first value out of range, named.
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::size_t j = 0; j < spf; ++j) {
            const std::size_t at = (k + i) * stride + j;
            v = convert(at);
            if (v >= lowest && v <= highest) continue;
            const long long frame = frames_ + static_cast<long long>(i);  // frames_ counts to this chunk
            const char *kind = layout_.kind == EdfKind::bdf ? "BDF" : "EDF";
            const std::string holds = std::string("beyond what ") + kind + " holds (" + std::to_string(lowest) +
                                      " to " + std::to_string(highest) + ")";
            if (physical == nullptr) return refuse(s, frame, "the value " + std::to_string(v) + " is " + holds);
            const EdfSignalToWrite &spec = layout_.signals[s];
            const std::string value = header_number(physical[at]);
            if (v == kUnstorable) return refuse(s, frame, "the value " + value + " can not be stored");
            return refuse(s, frame,
                          "the value " + value + " is " + std::to_string(v) + " at a gain of " +
                              header_number(spec.gain) + " and a baseline of " + std::to_string(spec.baseline) + ", " +
                              holds);
        }
    }
    return Status();
}

Status EdfWriter::put_column(std::size_t s, std::size_t k, std::size_t frames, const SampleColumn &column) {
    const std::size_t stride = column.stride;
    const long long lowest = dmin_;
    switch (column.kind) {
        case SampleColumn::Kind::stored: {
            const auto *values = static_cast<const std::int32_t *>(column.first);
            if (values == nullptr) return put_signal(s, 0, frames, 0, [lowest](std::size_t) { return lowest; });
            if (layout_.stored_invalid)
                return put_signal(s, k, frames, stride, [values, lowest](std::size_t i) {
                    const std::int32_t v = values[i];
                    return v == WFDB_INVALID_SAMPLE ? lowest : static_cast<long long>(v);
                });
            return put_signal(s, k, frames, stride,
                              [values](std::size_t i) { return static_cast<long long>(values[i]); });
        }
        case SampleColumn::Kind::stored64: {
            const auto *values = static_cast<const std::int64_t *>(column.first);
            return put_signal(s, k, frames, stride,
                              [values](std::size_t i) { return static_cast<long long>(values[i]); });
        }
        case SampleColumn::Kind::physical: {
            const auto *values = static_cast<const double *>(column.first);
            const EdfSignalToWrite &spec = layout_.signals[s];
            const double scale = spec.gain == 0 ? WFDB_DEFGAIN : spec.gain;
            const long long baseline = spec.baseline;
            return put_signal(
                s, k, frames, stride,
                [values, scale, baseline, lowest](std::size_t i) {
                    const double v = values[i];
                    if (v != v) return lowest;
                    const double x = v * scale;
                    if (!(std::fabs(x) < 4.6e18)) return kUnstorable;
                    // Halves away from zero, as the field's writers round.
                    return static_cast<long long>(std::trunc(x + std::copysign(0.5, x))) + baseline;
                },
                values);
        }
    }
    return bad("a column of an unknown kind");
}

Status EdfWriter::write_record() {
    annotations_.record_bytes(records_written_, annotation_bytes_);
    std::copy(annotation_bytes_.begin(), annotation_bytes_.end(), record_.begin() + annotation_offset_);
    if (Status status = file_->write(record_.data(), record_.size()); !status.ok()) return status;
    ++records_written_;
    filled_ = 0;
    return Status();
}

Status EdfWriter::put(std::size_t frames, const SampleColumn *columns) {
    if (failed_ || finished_) return bad("the EDF writer failed or finished: it takes no more frames");
    if (static_cast<long long>(frames) > layout_.frames - frames_)
        return bad("more frames than the " + std::to_string(layout_.frames) + " the EDF file was laid out for");
    try {
        const auto F = static_cast<std::size_t>(duration_.frames_per_record);
        std::size_t k = 0;
        while (k < frames) {
            const std::size_t n = std::min(frames - k, F - static_cast<std::size_t>(filled_));
            for (std::size_t s = 0; s < layout_.signals.size(); ++s) {
                if (Status status = put_column(s, k, n, columns[s]); !status.ok()) {
                    failed_ = true;
                    return status;
                }
            }
            filled_ += static_cast<long long>(n);
            k += n;
            frames_ += static_cast<long long>(n);
            if (filled_ == static_cast<long long>(F)) {
                if (Status status = write_record(); !status.ok()) {
                    failed_ = true;
                    return status;
                }
            }
        }
        return Status();
    } catch (const std::bad_alloc &) {
        failed_ = true;
        return Status::failure(ErrorKind::out_of_memory, "sigtrove: not enough memory to write " + layout_.name + "\n");
    }
}

Status EdfWriter::finish() {
    if (failed_ || finished_) return bad("the EDF writer failed or finished already");
    failed_ = true;  // until the file is in place
    if (frames_ == 0) return bad("an EDF file needs at least one frame");
    try {
        if (filled_ > 0) {
            // EDF holds whole data records: the last one is filled out with each signal's last value.
            const int width = sample_bytes_;
            for (std::size_t s = 0; s < layout_.signals.size(); ++s) {
                const auto spf = static_cast<std::size_t>(layout_.signals[s].samples_per_frame);
                const auto total = static_cast<std::size_t>(duration_.frames_per_record) * spf;
                for (std::size_t i = static_cast<std::size_t>(filled_) * spf; i < total; ++i)
                    store(record_.data() + offsets_[s] + i * width, last_[s], width);
            }
            if (Status status = write_record(); !status.ok()) return status;
        }
        if (records_written_ != duration_.records) {
            // The frames ended early (a source whose data ended before its length): the count
            // of data records the file holds.
            std::string count;
            if (Status status = field(std::to_string(records_written_), 8, "data record count", count); !status.ok())
                return status;
            if (Status status = file_->seek(236); !status.ok()) return status;
            if (Status status = file_->write(count.data(), count.size()); !status.ok()) return status;
        }
        if (Status status = file_->put_in_place(options_.overwrite); !status.ok()) return status;
        failed_ = false;
        finished_ = true;
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory, "sigtrove: not enough memory to write " + layout_.name + "\n");
    }
}

}  // namespace sigtrove::engine
