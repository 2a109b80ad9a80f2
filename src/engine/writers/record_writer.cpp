#include "writers/record_writer.h"

#include <climits>
#include <cmath>
#include <new>

#include "wfdb/wfdb.h"
#include "writers/header_text.h"
#include "writers/output_names.h"

namespace sigtrove::engine {
namespace {

std::string joined(const std::string &directory, const std::string &name) {
    if (directory.empty()) return name;
    return directory.back() == '/' ? directory + name : directory + "/" + name;
}

Status bad(const std::string &text) { return Status::failure(ErrorKind::bad_request, "sigtrove: " + text + "\n"); }

bool has_line_break(const std::string &text) { return text.find_first_of("\r\n") != std::string::npos; }

// A value as it arrives: a number to store, an invalid sample, or a physical
// value that is no number of any format (an infinity, or one beyond 32 bits).
struct Incoming {
    enum State { valid, invalid, unstorable } state = valid;
    long long value = 0;
};

// round(value * scale) with halves away from zero, as the field's writer
// converts: (int)(x + 0.5) for x >= 0, (int)(x - 0.5) below.
inline Incoming from_physical(double value, double scale, int baseline) {
    if (std::isnan(value)) return {Incoming::invalid, 0};
    const double x = value * scale;
    // Beyond 2^62 no baseline brings a value back into any format.
    if (!(std::fabs(x) < 4.6e18)) return {Incoming::unstorable, 0};
    const double r = x >= 0 ? std::floor(x + 0.5) : std::ceil(x - 0.5);
    return {Incoming::valid, static_cast<long long>(r) + baseline};
}

std::string number_text(double v) { return header_number(v); }

}  // namespace

void add_file_identity(const std::string &path, std::vector<FileIdentity> &out) {
    FileIdentity identity;
    if (!path.empty() && file_identity(path, identity)) out.push_back(identity);
}

RecordWriter::~RecordWriter() = default;

Status RecordWriter::create(const std::string &directory, const Header &layout, const WriteOptions &options,
                            std::unique_ptr<RecordWriter> &out) {
    try {
        if (Status status = check_record_name(layout.record); !status.ok()) return status;
        const double freq = layout.frame_frequency();
        if (!(freq > 0) || !std::isfinite(freq)) return bad("the frequency must be a number above 0");
        if (!(layout.counter_frequency() > 0) || !std::isfinite(layout.counter_frequency()) ||
            !std::isfinite(layout.basecount))
            return bad("the counter frequency must be a number above 0");
        if (layout.has_base && (layout.base_ms < 0 || layout.base_ms >= 86400000))
            return bad("the base time must lie within a day");
        for (const std::string &comment : layout.comments)
            if (has_line_break(comment)) return bad("a comment can not hold a line break");

        std::unique_ptr<RecordWriter> writer(new RecordWriter());
        writer->directory_ = directory;
        writer->header_ = layout;
        writer->options_ = options;
        Header &header = writer->header_;
        header.path.clear();
        header.nsig = static_cast<int>(header.signals.size());
        header.multi_segment = false;
        header.segments.clear();
        header.nsamp = 0;

        // Groups: signals that name one file one after another.
        std::vector<std::string> group_files;
        std::vector<std::vector<int>> group_spf;
        std::vector<int> group_formats;
        for (std::size_t s = 0; s < header.signals.size(); ++s) {
            SignalSpec &spec = header.signals[s];
            const std::string which = "signal " + std::to_string(s);
            if (Status status = check_signal_file_name(spec.fname); !status.ok()) return status;
            if (spec.fname == header.record + ".hea") return bad(which + " names the header as its signal file");
            const WritableFormat *format = writable_format(spec.fmt);
            if (format == nullptr)
                return bad(which + " asks for format " + std::to_string(spec.fmt) +
                           "; records are written in formats " + writable_format_list());
            if (spec.spf < 1) return bad(which + " needs at least 1 sample per frame");
            if (!std::isfinite(spec.gain)) return bad("the gain of " + which + " is not a number");
            if (has_line_break(spec.desc)) return bad("the name of " + which + " holds a line break");
            if (spec.units && spec.units->find_first_of(" \t\r\n") != std::string::npos)
                return bad("the units of " + which + " hold a blank");
            spec.skew = 0;
            spec.offset = 0;
            spec.initval = spec.adczero;
            spec.cksum = 0;
            spec.has_cksum = true;
            const bool same_file = s > 0 && spec.fname == header.signals[s - 1].fname;
            if (same_file) {
                if (spec.fmt != header.signals[s - 1].fmt)
                    return bad("signals " + std::to_string(s - 1) + " and " + std::to_string(s) +
                               " share a signal file but not a format");
            } else {
                for (const std::string &file : group_files)
                    if (file == spec.fname)
                        return bad("signal file " + spec.fname +
                                   " is named by signals that are not next to each other");
                group_files.push_back(spec.fname);
                group_formats.push_back(spec.fmt);
                group_spf.emplace_back();
            }
            spec.group = static_cast<int>(group_files.size() - 1);
            SignalState state;
            state.format = format;
            state.group = group_files.size() - 1;
            state.offset = 0;
            for (int spf : group_spf.back()) state.offset += static_cast<std::size_t>(spf);
            state.scale = spec.gain == 0 ? WFDB_DEFGAIN : as_written(spec.gain);
            group_spf.back().push_back(spec.spf);
            writer->signals_.push_back(state);
        }

        // Never over the record being read; over another only when asked to.
        std::vector<std::string> names = group_files;
        names.push_back(header.record + ".hea");
        for (const std::string &name : names) {
            const std::string path = joined(directory, name);
            FileIdentity identity;
            if (!file_identity(path, identity)) continue;
            for (const FileIdentity &kept : options.protected_files)
                if (kept == identity)
                    return bad(path + " is a file of the record being read: it is never written over");
            if (!options.overwrite)
                return Status::failure(
                    ErrorKind::exists,
                    "sigtrove: " + path + " exists; pass overwrite=True to replace record " + header.record + "\n");
        }

        for (std::size_t g = 0; g < group_files.size(); ++g) {
            std::unique_ptr<OutputFile> file;
            if (Status status = OutputFile::create(directory, group_files[g], file); !status.ok()) return status;
            GroupState group;
            for (int spf : group_spf[g]) group.samples_per_frame += static_cast<std::size_t>(spf);
            if (Status status = open_group_writer(std::move(file), group_formats[g], group_spf[g], group.writer);
                !status.ok())
                return status;
            writer->groups_.push_back(std::move(group));
        }
        out = std::move(writer);
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory,
                               "sigtrove: not enough memory to write record " + layout.record + "\n");
    }
}

Status RecordWriter::refuse(std::size_t signal, long long frame, const std::string &what) const {
    const SignalSpec &spec = header_.signals[signal];
    std::string name = spec.desc.empty() ? std::string() : " (" + spec.desc + ")";
    return Status::failure(ErrorKind::bad_request, "sigtrove: signal " + std::to_string(signal) + name + ", frame " +
                                                       std::to_string(options_.first_frame_number + frame) + ": " +
                                                       what + "\n");
}

template <class Value>
Status RecordWriter::put_signal(std::size_t s, std::size_t frames, const SampleColumn &column, Value value) {
    SignalState &state = signals_[s];
    SignalSpec &spec = header_.signals[s];
    GroupState &group = groups_[state.group];
    const WritableFormat &format = *state.format;
    const std::size_t spf = static_cast<std::size_t>(spec.spf);
    std::int32_t *stream = group.stream.data() + state.offset;
    long long checksum = state.checksum;
    std::int32_t running = state.running;
    const std::string holds = "format " + std::to_string(format.code) + " can not hold ";
    for (std::size_t k = 0; k < frames; ++k, stream += group.samples_per_frame) {
        for (std::size_t j = 0; j < spf; ++j) {
            const std::size_t i = k * column.stride + j;
            const Incoming in = value(i);
            const long long frame = frames_ + static_cast<long long>(k);
            const bool first = frame == 0 && j == 0;
            if (in.state == Incoming::unstorable) {
                return refuse(
                    s, frame,
                    "the value " + number_text(static_cast<const double *>(column.first)[i]) + " can not be stored");
            }
            if (in.state == Incoming::invalid) {
                if (!format.has_invalid) return refuse(s, frame, holds + "an invalid sample");
                if (first) spec.initval = WFDB_INVALID_SAMPLE;
                stream[j] = format.invalid;
                checksum += format.invalid;
                continue;
            }
            if (in.value < format.lowest || in.value > format.highest) {
                std::string what = holds + std::to_string(in.value) + " (it holds " + std::to_string(format.lowest) +
                                   " to " + std::to_string(format.highest) + ")";
                if (column.kind == SampleColumn::Kind::physical)
                    what = number_text(static_cast<const double *>(column.first)[i]) + " is " +
                           std::to_string(in.value) + " at gain " + header_number(spec.gain) + " and baseline " +
                           std::to_string(spec.baseline) + ", which " + what;
                return refuse(s, frame, what);
            }
            const auto v = static_cast<std::int32_t>(in.value);
            if (first) {
                spec.initval = v;
                running = v;
            }
            checksum += v;
            if (format.differences) {
                const long long step = static_cast<long long>(v) - running;
                if (step < -128 || step > 127)
                    return refuse(s, frame,
                                  holds + "the step from " + std::to_string(running) + " to " + std::to_string(v) +
                                      " (steps are -128 to 127)");
                running = v;
                stream[j] = static_cast<std::int32_t>(step);
            } else {
                stream[j] = v;
            }
        }
    }
    state.checksum = checksum;
    state.running = running;
    return Status();
}

// What a value of a column is, in the writer's fast path: a stored value, or one of these.
constexpr long long kInvalidValue = LLONG_MIN;
constexpr long long kUnstorableValue = LLONG_MAX;

// The common case, without a branch per sample for texts: writes the signal's samples and returns
// true when every one is valid for its format or invalid; false (and nothing of the signal's state
// changed) when some value is not, for put_signal to find and name.
template <class Convert>
bool RecordWriter::put_valid_signal(std::size_t s, std::size_t frames, std::size_t stride, Convert convert) {
    SignalState &state = signals_[s];
    SignalSpec &spec = header_.signals[s];
    GroupState &group = groups_[state.group];
    const WritableFormat &format = *state.format;
    const auto spf = static_cast<std::size_t>(spec.spf);
    const std::size_t width = group.samples_per_frame;
    std::int32_t *out = group.stream.data() + state.offset;
    const long long lowest = format.lowest, highest = format.highest;
    long long checksum = 0;
    bool valid = true;
    for (std::size_t k = 0; k < frames; ++k) {
        for (std::size_t j = 0; j < spf; ++j) {
            const long long v = convert(k * stride + j);
            const bool invalid = v == kInvalidValue;
            valid &= invalid || (v >= lowest && v <= highest);
            const std::int32_t stored = invalid ? format.invalid : static_cast<std::int32_t>(v);
            out[k * width + j] = stored;
            checksum += stored;
        }
    }
    if (!valid) return false;
    if (frames_ == 0) {
        const long long first = convert(0);
        spec.initval = first == kInvalidValue ? WFDB_INVALID_SAMPLE : static_cast<int>(first);
    }
    state.checksum += checksum;
    return true;
}

bool RecordWriter::put_valid(std::size_t s, std::size_t frames, const SampleColumn &column) {
    if (signals_[s].format->differences) return false;  // format 8 goes the way that counts steps
    const std::size_t stride = column.stride;
    switch (column.kind) {
        case SampleColumn::Kind::stored: {
            const auto *values = static_cast<const std::int32_t *>(column.first);
            if (values == nullptr)
                return put_valid_signal(s, frames, stride, [](std::size_t) { return kInvalidValue; });
            return put_valid_signal(s, frames, stride, [values](std::size_t i) {
                const std::int32_t v = values[i];
                return v == WFDB_INVALID_SAMPLE ? kInvalidValue : static_cast<long long>(v);
            });
        }
        case SampleColumn::Kind::stored64: {
            const auto *values = static_cast<const std::int64_t *>(column.first);
            return put_valid_signal(s, frames, stride, [values](std::size_t i) {
                const std::int64_t v = values[i];
                return v == WFDB_INVALID_SAMPLE ? kInvalidValue : static_cast<long long>(v);
            });
        }
        case SampleColumn::Kind::physical: {
            const auto *values = static_cast<const double *>(column.first);
            const double scale = signals_[s].scale;
            const long long baseline = header_.signals[s].baseline;
            return put_valid_signal(s, frames, stride, [=](std::size_t i) {
                const double v = values[i];
                if (v != v) return kInvalidValue;
                const double x = v * scale;
                if (!(std::fabs(x) < 4.6e18)) return kUnstorableValue;
                // Halves away from zero: (int)(x + 0.5) for x >= 0, (int)(x - 0.5) below.
                return static_cast<long long>(std::trunc(x + std::copysign(0.5, x))) + baseline;
            });
        }
    }
    return false;
}

Status RecordWriter::put(std::size_t frames, const SampleColumn *columns) {
    if (failed_ || finished_) return bad("the record's writer failed or finished: it takes no more frames");
    if (frames == 0) return Status();
    try {
        for (GroupState &group : groups_) group.stream.resize(frames * group.samples_per_frame);
        for (std::size_t s = 0; s < signals_.size(); ++s) {
            const SampleColumn &column = columns[s];
            if (put_valid(s, frames, column)) continue;
            // A value to name, or format 8's steps: the way that checks each value in turn.
            Status status;
            switch (column.kind) {
                case SampleColumn::Kind::stored: {
                    const auto *values = static_cast<const std::int32_t *>(column.first);
                    if (values == nullptr)
                        status =
                            put_signal(s, frames, column, [](std::size_t) { return Incoming{Incoming::invalid, 0}; });
                    else
                        status = put_signal(s, frames, column, [&](std::size_t i) {
                            const std::int32_t v = values[i];
                            return v == WFDB_INVALID_SAMPLE ? Incoming{Incoming::invalid, 0}
                                                            : Incoming{Incoming::valid, v};
                        });
                    break;
                }
                case SampleColumn::Kind::stored64: {
                    const auto *values = static_cast<const std::int64_t *>(column.first);
                    status = put_signal(s, frames, column, [&](std::size_t i) {
                        const std::int64_t v = values[i];
                        return v == WFDB_INVALID_SAMPLE ? Incoming{Incoming::invalid, 0}
                                                        : Incoming{Incoming::valid, static_cast<long long>(v)};
                    });
                    break;
                }
                case SampleColumn::Kind::physical: {
                    const auto *values = static_cast<const double *>(column.first);
                    const double scale = signals_[s].scale;
                    const int baseline = header_.signals[s].baseline;
                    status = put_signal(s, frames, column,
                                        [&](std::size_t i) { return from_physical(values[i], scale, baseline); });
                    break;
                }
            }
            if (!status.ok()) {
                failed_ = true;
                return status;
            }
        }
        for (GroupState &group : groups_) {
            if (Status status = group.writer->write(group.stream.data(), frames); !status.ok()) {
                failed_ = true;
                return status;
            }
        }
        frames_ += static_cast<long long>(frames);
        return Status();
    } catch (const std::bad_alloc &) {
        failed_ = true;
        return Status::failure(ErrorKind::out_of_memory,
                               "sigtrove: not enough memory to write record " + header_.record + "\n");
    }
}

Status RecordWriter::finish() {
    if (failed_ || finished_) return bad("the record's writer failed or finished already");
    failed_ = true;  // until everything is in place
    try {
        header_.nsamp = frames_;
        for (std::size_t s = 0; s < signals_.size(); ++s) {
            header_.signals[s].cksum = static_cast<int>(static_cast<short>(signals_[s].checksum & 0xFFFF));
            header_.signals[s].nsamp = frames_;
        }
        for (GroupState &group : groups_)
            if (Status status = group.writer->finish(); !status.ok()) return status;
        std::unique_ptr<OutputFile> file;
        if (Status status = OutputFile::create(directory_, header_.record + ".hea", file); !status.ok()) return status;
        const std::string text = header_text(header_);
        if (Status status = file->write(text.data(), text.size()); !status.ok()) return status;
        if (Status status = file->finish(); !status.ok()) return status;
        for (GroupState &group : groups_)
            if (Status status = group.writer->file().put_in_place(options_.overwrite); !status.ok()) return status;
        if (Status status = file->put_in_place(options_.overwrite); !status.ok()) return status;
        header_.path = file->path();
        failed_ = false;
        finished_ = true;
        return Status();
    } catch (const std::bad_alloc &) {
        return Status::failure(ErrorKind::out_of_memory,
                               "sigtrove: not enough memory to write record " + header_.record + "\n");
    }
}

}  // namespace sigtrove::engine
