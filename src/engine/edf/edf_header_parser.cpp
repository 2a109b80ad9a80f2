#include "edf/edf_header_parser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <memory>
#include <new>
#include <numeric>
#include <optional>
#include <system_error>
#include <vector>

#include "edf/annotation_lists.h"
#include "edf/edf_layout.h"
#include "errors/error_state.h"
#include "header/record_memory.h"
#include "paths/path_search.h"
#include "paths/search_location.h"
#include "time/julian_date.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

constexpr std::size_t kFixedBytes = 256;
constexpr std::size_t kSignalBytes = 256;
constexpr int kMaxSignals = 9999;  // what the 4-character field can say
constexpr long kMsPerDay = 86'400'000;

// The widths of a signal's fields, each stored for all signals in turn.
constexpr std::size_t kLabel = 16, kTransducer = 80, kDimension = 8, kNumber = 8, kPrefilter = 80, kSignalReserved = 32;

bool ends_with_ci(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        char c = text[text.size() - suffix.size() + i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i]) return false;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    std::size_t begin = text.find_first_not_of(' ');
    if (begin == std::string_view::npos) return {};
    std::size_t end = text.find_last_not_of(' ');
    return text.substr(begin, end - begin + 1);
}

// A field's text for error messages: printable ASCII, anything else as '?'.
std::string shown(std::string_view text) {
    std::string out;
    for (char c : text) {
        auto u = static_cast<unsigned char>(c);
        out += (u >= 32 && u < 127) ? c : '?';
    }
    return out;
}

std::optional<long long> whole_number(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> real_number(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty() || !(text[0] == '-' || text[0] == '.' || (text[0] >= '0' && text[0] <= '9'))) return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// Two decimal digits at text[at].
std::optional<int> two_digits(std::string_view text, std::size_t at) {
    if (at + 2 > text.size()) return std::nullopt;
    char a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
    return (a - '0') * 10 + (b - '0');
}

// "dd-MMM-yyyy" at the start of `text`: the date an EDF+ recording field gives after "Startdate ".
std::optional<CalendarDate> recording_start_date(std::string_view text) {
    static constexpr std::string_view kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                   "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    if (text.size() < 11 || text[2] != '-' || text[6] != '-') return std::nullopt;
    std::optional<int> day = two_digits(text, 0), century = two_digits(text, 7), year = two_digits(text, 9);
    if (!day || !century || !year) return std::nullopt;
    if (text.size() > 11 && text[11] != ' ') return std::nullopt;
    for (int m = 0; m < 12; ++m)
        if (text.substr(3, 3) == kMonths[m]) return CalendarDate{*day, m + 1, *century * 100L + *year};
    return std::nullopt;
}

// Header texts are ASCII; a byte past it is taken as Latin-1, the likeliest
// meaning in a file that breaks the rule, and kept as UTF-8.
std::string header_text(std::string_view text) {
    std::string out;
    for (char c : trimmed(text)) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

class EdfHeaderParser {
public:
    EdfHeaderParser(const std::string &record, EdfFileKind kind, ByteSource &source, const std::string &file,
                    Header &out)
        : record_(record), kind_(kind), source_(source), file_(file), out_(out) {}

    int parse() {
        layout_ = std::make_shared<EdfLayout>();
        layout_->file = file_;
        layout_->name = record_;
        layout_->sample_bytes = kind_ == EdfFileKind::bdf ? 3 : 2;
        std::uint8_t fixed[kFixedBytes];
        long long got = read_edf_bytes(source_, 0, fixed, kFixedBytes);
        if (got < 0) return unreadable();
        if (int rc = check_identity(fixed, static_cast<std::size_t>(got)); rc < 0) return rc;
        if (got < static_cast<long long>(kFixedBytes))
            return refuse("is too short for an EDF header (" + std::to_string(got) + " bytes)");
        const std::string_view head(reinterpret_cast<const char *>(fixed), kFixedBytes);
        if (int rc = parse_fixed(head); rc < 0) return rc;
        std::vector<std::uint8_t> signal_bytes(static_cast<std::size_t>(signal_count_) * kSignalBytes);
        got = read_edf_bytes(source_, kFixedBytes, signal_bytes.data(), signal_bytes.size());
        if (got < 0) return unreadable();
        if (got < static_cast<long long>(signal_bytes.size()))
            return refuse("is too short for the header of its " + std::to_string(signal_count_) + " signals (" +
                          std::to_string(kFixedBytes + static_cast<std::size_t>(got)) + " of " +
                          std::to_string(layout_->header_bytes) + " bytes)");
        if (int rc = parse_signals(
                std::string_view(reinterpret_cast<const char *>(signal_bytes.data()), signal_bytes.size()));
            rc < 0)
            return rc;
        if (int rc = count_records(); rc < 0) return rc;
        if (int rc = read_onsets(); rc < 0) return rc;
        finish_header();
        return 0;
    }

private:
    const char *type() const { return kind_ == EdfFileKind::bdf ? "BDF" : "EDF"; }

    int refuse(const std::string &what) {
        record_error("init: %s file %s %s\n", type(), record_.c_str(), what.c_str());
        return -2;
    }
    int refuse_field(const std::string &field, std::string_view text, const std::string &why) {
        return refuse("has a header whose " + field + " (\"" + shown(text) + "\") " + why);
    }
    int unreadable() {
        if (!source_.failure().empty()) note_remote_failure();
        record_error("init: can't read header for record %s%s\n", record_.c_str(), failure_suffix(source_).c_str());
        return -1;
    }
    int refuse_claim(const std::string &claim, long long bytes) {
        record_error(
            "init: %s file %s asks for %s, which need %s, more than the %s a record may use "
            "(SIGTROVE_MAX_RECORD_MEMORY)\n",
            type(), record_.c_str(), claim.c_str(), megabytes(bytes).c_str(), megabytes(max_record_memory()).c_str());
        return -3;
    }

    // The first 8 bytes say EDF ("0" and 7 spaces) or BDF (255 and "BIOSEMI"); the name must say the same.
    int check_identity(const std::uint8_t *bytes, std::size_t size) {
        static constexpr std::uint8_t kEdf[8] = {'0', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        static constexpr std::uint8_t kBdf[8] = {0xFF, 'B', 'I', 'O', 'S', 'E', 'M', 'I'};
        bool edf = size >= 8 && std::equal(kEdf, kEdf + 8, bytes);
        bool bdf = size >= 8 && std::equal(kBdf, kBdf + 8, bytes);
        if (kind_ == EdfFileKind::edf && bdf)
            return refuse("is a BDF file (24-bit samples): its name must end in .bdf");
        if (kind_ == EdfFileKind::bdf && edf)
            return refuse("is an EDF file (16-bit samples): its name must end in .edf");
        if (kind_ == EdfFileKind::edf && !edf)
            return refuse("is not an EDF file (its first 8 bytes are not \"0\" and 7 spaces)");
        if (kind_ == EdfFileKind::bdf && !bdf)
            return refuse("is not a BDF file (its first 8 bytes are not byte 255 and \"BIOSEMI\")");
        return 0;
    }

    // A text field of the fixed header or of a signal: printable, as EDF has them.
    int check_text(const std::string &field, std::string_view text) {
        for (char c : text) {
            auto u = static_cast<unsigned char>(c);
            if (u < 32 || u == 127) return refuse_field(field, text, "holds a control character");
        }
        return 0;
    }

    int parse_fixed(std::string_view head) {
        patient_ = head.substr(8, 80);
        recording_ = head.substr(88, 80);
        if (int rc = check_text("patient field", patient_); rc < 0) return rc;
        if (int rc = check_text("recording field", recording_); rc < 0) return rc;
        std::string_view date = head.substr(168, 8), time = head.substr(176, 8);
        std::optional<int> day = two_digits(date, 0), month = two_digits(date, 3), year = two_digits(date, 6);
        if (!day || !month || !year || date[2] != '.' || date[5] != '.' || *day < 1 || *day > 31 || *month < 1 ||
            *month > 12)
            return refuse_field("start date", date, "is not a date dd.mm.yy");
        std::optional<int> hours = two_digits(time, 0), minutes = two_digits(time, 3), seconds = two_digits(time, 6);
        if (!hours || !minutes || !seconds || time[2] != '.' || time[5] != '.' || *hours > 23 || *minutes > 59 ||
            *seconds > 59)
            return refuse_field("start time", time, "is not a time hh.mm.ss");
        // Two-digit years from 85 on are the 1900s; an EDF+ recording field may give all four digits.
        start_date_ = CalendarDate{*day, *month, (*year >= 85 ? 1900L : 2000L) + *year};
        start_ms_ = ((*hours * 60L + *minutes) * 60L + *seconds) * 1000L;
        std::string_view reserved = head.substr(192, 44);
        layout_->plus = reserved.substr(0, 4) == "EDF+" || reserved.substr(0, 4) == "BDF+";
        layout_->discontinuous = layout_->plus && reserved[4] == 'D';
        if (layout_->plus) {
            std::string_view field = trimmed(recording_);
            if (field.substr(0, 10) == "Startdate ") {
                std::optional<CalendarDate> full = recording_start_date(field.substr(10));
                if (full && full->day == start_date_.day && full->month == start_date_.month && full->year > 0)
                    start_date_.year = full->year;
            }
        }

        std::string_view ns_text = head.substr(252, 4);
        std::optional<long long> ns = whole_number(ns_text);
        if (!ns) return refuse_field("number of signals", ns_text, "is not a whole number");
        if (*ns < 1 || *ns > kMaxSignals) return refuse_field("number of signals", ns_text, "is not 1 to 9999");
        signal_count_ = static_cast<int>(*ns);
        if (long long bytes = memory_for(signal_count_, kBytesPerSignal + kSignalBytes); bytes > max_record_memory())
            return refuse_claim(std::to_string(signal_count_) + " signals", bytes);
        std::string_view hb_text = head.substr(184, 8);
        std::optional<long long> header_bytes = whole_number(hb_text);
        if (!header_bytes) return refuse_field("number of header bytes", hb_text, "is not a whole number");
        layout_->header_bytes = static_cast<std::int64_t>(kFixedBytes) * (signal_count_ + 1);
        if (*header_bytes != layout_->header_bytes)
            return refuse_field("number of header bytes", hb_text,
                                "is not 256 + 256 per signal (" + std::to_string(layout_->header_bytes) + ")");
        std::string_view records_text = head.substr(236, 8);
        std::optional<long long> records = whole_number(records_text);
        if (!records) return refuse_field("number of data records", records_text, "is not a whole number");
        if (*records < -1) return refuse_field("number of data records", records_text, "is negative");
        layout_->records = *records;
        std::string_view duration_text = head.substr(244, 8);
        std::optional<DecimalSeconds> duration = parse_decimal_seconds(trimmed(duration_text), Sign::none);
        if (!duration || duration->nanoseconds < 0)
            return refuse_field("duration of a data record", duration_text, "is not a number of seconds");
        layout_->record_duration = *duration;
        duration_text_ = duration_text;
        return 0;
    }

    // The signal fields, each for every signal in turn: label, transducer,
    // physical dimension, physical minimum and maximum, digital minimum and
    // maximum, prefiltering, samples per data record, reserved.
    int parse_signals(std::string_view fields) {
        const auto ns = static_cast<std::size_t>(signal_count_);
        std::size_t at = 0;
        auto field = [&](std::size_t width, std::size_t i) { return fields.substr(at + i * width, width); };
        std::vector<std::string_view> labels, dimensions, pmin, pmax, dmin, dmax, samples;
        for (std::size_t i = 0; i < ns; ++i) labels.push_back(field(kLabel, i));
        at += ns * (kLabel + kTransducer);
        for (std::size_t i = 0; i < ns; ++i) dimensions.push_back(field(kDimension, i));
        at += ns * kDimension;
        for (auto *list : {&pmin, &pmax, &dmin, &dmax}) {
            for (std::size_t i = 0; i < ns; ++i) list->push_back(field(kNumber, i));
            at += ns * kNumber;
        }
        at += ns * kPrefilter;
        for (std::size_t i = 0; i < ns; ++i) samples.push_back(field(kNumber, i));
        at += ns * (kNumber + kSignalReserved);

        const long long lowest = kind_ == EdfFileKind::bdf ? -8388608 : -32768;
        const long long highest = kind_ == EdfFileKind::bdf ? 8388607 : 32767;
        std::int64_t offset = 0, data_samples = 0;
        for (std::size_t i = 0; i < ns; ++i) {
            const std::string name = "signal " + std::to_string(i) + " (\"" + shown(trimmed(labels[i])) + "\")";
            if (int rc = check_text("label of signal " + std::to_string(i), labels[i]); rc < 0) return rc;
            std::optional<long long> n = whole_number(samples[i]);
            if (!n) return refuse_field("samples per data record of " + name, samples[i], "is not a whole number");
            if (*n < 1) return refuse_field("samples per data record of " + name, samples[i], "is not 1 or more");
            EdfSignalBlock block{offset, static_cast<std::int64_t>(*n)};
            offset += block.samples * layout_->sample_bytes;
            std::string_view label = trimmed(labels[i]);
            if (label == "EDF Annotations" || label == "BDF Annotations") {
                layout_->annotations.push_back(block);
                continue;
            }
            if (int rc = check_text("physical dimension of " + name, dimensions[i]); rc < 0) return rc;
            std::optional<double> lo = real_number(pmin[i]), hi = real_number(pmax[i]);
            if (!lo) return refuse_field("physical minimum of " + name, pmin[i], "is not a number");
            if (!hi) return refuse_field("physical maximum of " + name, pmax[i], "is not a number");
            std::optional<long long> dlo = whole_number(dmin[i]), dhi = whole_number(dmax[i]);
            if (!dlo) return refuse_field("digital minimum of " + name, dmin[i], "is not a whole number");
            if (!dhi) return refuse_field("digital maximum of " + name, dmax[i], "is not a whole number");
            const std::string range = "is not within " + std::to_string(lowest) + " to " + std::to_string(highest);
            if (*dlo < lowest || *dlo > highest) return refuse_field("digital minimum of " + name, dmin[i], range);
            if (*dhi < lowest || *dhi > highest) return refuse_field("digital maximum of " + name, dmax[i], range);
            if (*dhi <= *dlo)
                return refuse_field("digital maximum of " + name, dmax[i], "is not above its digital minimum");
            SignalSpec s;
            s.desc = header_text(labels[i]);
            s.units = header_text(dimensions[i]);
            s.edf = EdfCalibration{*lo, *hi, static_cast<double>(*dlo), static_cast<double>(*dhi)};
            s.spf = static_cast<int>(*n);  // per data record until the frame is known
            signals_.push_back(std::move(s));
            layout_->data.push_back(block);
            data_samples += block.samples;
        }
        layout_->record_bytes = offset;
        if (layout_->data.empty()) return 0;
        if (layout_->record_duration.nanoseconds == 0)
            return refuse_field("duration of a data record", duration_text_, "is 0 in a file with signals");
        std::int64_t frames = 0;
        for (const EdfSignalBlock &b : layout_->data) frames = std::gcd(frames, b.samples);
        layout_->frames_per_record = frames;
        layout_->frame_rate = rate_of(frames, layout_->record_duration);
        // One data record, raw and decoded, and the frame it makes, must fit in what a record may hold.
        const std::int64_t frame_size = data_samples / frames;
        long long bytes = memory_for(layout_->record_bytes, 1) + memory_for(data_samples, 4) +
                          memory_for(frame_size, kBytesPerFrameSample) + memory_for(signal_count_, kBytesPerSignal);
        if (bytes > max_record_memory())
            return refuse_claim("data records of " + std::to_string(offset) + " bytes", bytes);
        return 0;
    }

    int count_records() {
        const long long size = source_.size();
        if (size < 0) {
            layout_->stored_records = -1;
            if (layout_->records < 0) layout_->records = -1;
            return 0;
        }
        long long data_bytes = std::max<long long>(0, size - layout_->header_bytes);
        std::int64_t whole = layout_->record_bytes > 0 ? data_bytes / layout_->record_bytes : 0;
        if (layout_->records < 0) layout_->records = whole;
        layout_->stored_records = std::min<std::int64_t>(whole, layout_->records);
        return 0;
    }

    // The onset of the first data record (and, in EDF+D, where the last one begins).
    int read_onsets() {
        if (!layout_->plus || layout_->annotations.empty()) {
            if (layout_->discontinuous)
                return refuse("is EDF+D but has no annotation signal: its data records can not be placed in time");
            return 0;
        }
        if (layout_->stored_records == 0) return 0;
        std::optional<DecimalSeconds> first = onset_of(0);
        if (!first) return -2;
        layout_->first_onset = *first;
        if (!layout_->discontinuous || layout_->data.empty()) return 0;
        if (layout_->stored_records < 0) return 0;
        std::int64_t last = layout_->stored_records - 1;
        std::optional<DecimalSeconds> onset = last == 0 ? first : onset_of(last);
        if (!onset) return -2;
        layout_->last_record_frame = nearest_frame(*onset, layout_->first_onset, layout_->frame_rate);
        if (layout_->last_record_frame < last * layout_->frames_per_record)
            return refuse("has data records that overlap: data record " + std::to_string(last) + " begins at " +
                          std::to_string(onset->seconds) + " s");
        return 0;
    }

    std::optional<DecimalSeconds> onset_of(std::int64_t r) {
        const EdfSignalBlock &a = layout_->annotations.front();
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(a.samples * layout_->sample_bytes));
        long long got = read_edf_bytes(source_, layout_->record_offset(r) + a.offset, bytes.data(), bytes.size());
        if (got < 0) {
            unreadable();
            return std::nullopt;
        }
        std::string error;
        std::optional<DecimalSeconds> onset = data_record_onset(bytes.data(), static_cast<std::size_t>(got), error);
        if (!onset) refuse("has no time stamp in data record " + std::to_string(r) + ": " + error);
        return onset;
    }

    void finish_header() {
        Header &h = out_;
        h.edf = layout_;
        h.nsig = static_cast<int>(signals_.size());
        const std::int64_t g = layout_->frames_per_record;
        if (g > 0) {
            h.has_freq = true;
            h.freq = static_cast<double>(layout_->frame_rate.numerator) /
                     static_cast<double>(layout_->frame_rate.denominator);
            h.cfreq = h.freq;
            if (layout_->records >= 0) {
                std::int64_t stored = std::max<std::int64_t>(layout_->stored_records, 0);
                std::int64_t missing = std::max<std::int64_t>(0, layout_->records - stored);
                std::int64_t span = layout_->discontinuous && layout_->last_record_frame >= 0
                                        ? layout_->last_record_frame + g
                                        : stored * g;
                h.nsamp = static_cast<long>(span + missing * g);
            }
        }
        // The start, moved by the onset of the first data record.
        long long ms = start_ms_ + static_cast<long long>(std::llround(layout_->first_onset.nanoseconds / 1e6));
        long long days = ms >= 0 ? ms / kMsPerDay : -((-ms + kMsPerDay - 1) / kMsPerDay);
        h.has_base = true;
        h.base_ms = static_cast<long>(ms - days * kMsPerDay);
        h.base_date = julian_day_number(start_date_) + static_cast<long>(days);
        for (SignalSpec &s : signals_) {
            const EdfCalibration &c = *s.edf;
            s.fname = record_;
            s.fmt = kind_ == EdfFileKind::bdf ? 24 : 16;
            s.spf = g > 0 ? static_cast<int>(s.spf / g) : 1;
            s.offset = static_cast<long>(layout_->header_bytes);
            // What the WFDB library says of the signal, as far as an integer baseline can say it.
            const double digital_span = c.digital_max - c.digital_min;
            s.gain = c.physical_max != c.physical_min ? digital_span / (c.physical_max - c.physical_min) : 0;
            s.baseline = static_cast<int>(std::lround(c.digital_max - c.physical_max * s.gain));
            s.adczero = static_cast<int>(
                (static_cast<long long>(c.digital_max) + 1 + static_cast<long long>(c.digital_min)) / 2);
            s.initval = s.adczero;
            int bits = 0;
            while (bits < 32 && std::ldexp(1.0, bits) < digital_span + 1) ++bits;
            s.adcres = bits;
        }
        h.signals = std::move(signals_);
        if (std::string patient = header_text(patient_); !patient.empty()) h.comments.push_back("patient: " + patient);
        if (std::string recording = header_text(recording_); !recording.empty())
            h.comments.push_back("recording: " + recording);
    }

    const std::string &record_;
    EdfFileKind kind_;
    ByteSource &source_;
    const std::string &file_;
    Header &out_;
    std::shared_ptr<EdfLayout> layout_;
    std::vector<SignalSpec> signals_;
    int signal_count_ = 0;
    std::string_view patient_, recording_, duration_text_;
    CalendarDate start_date_;
    long long start_ms_ = 0;
};

template <class Find>
int read_found_edf_header(const std::string &record, Find find, const SearchLocation *location, Header &out) {
    try {
        out = Header{};
        out.record = record;
        const EdfFileKind kind = edf_file_kind(record);
        const std::size_t dot = record.size() - 4;
        FoundFile found = find(record.substr(0, dot), record.substr(dot + 1));
        if (!found) {
            if (found.failure.empty()) {
                record_error("init: can't open header for record %s\n", record.c_str());
            } else {
                if (found.remote_failure()) note_remote_failure();
                record_error("init: can't open header for record %s (%s)\n", record.c_str(), found.failure.c_str());
            }
            return -1;
        }
        out.path = found.path;
        std::string file = found.path;
        if (!is_url(file)) {
            if (location) {
                file = location->absolute(file);
            } else {
                std::error_code error;
                std::filesystem::path absolute = std::filesystem::absolute(file, error);
                if (!error) file = absolute.lexically_normal().string();
            }
        }
        EdfHeaderParser parser(record, kind, *found.source, file, out);
        int rc = parser.parse();
        if (rc < 0) {
            Header empty;
            empty.record = record;
            empty.path = out.path;
            out = std::move(empty);
        }
        return rc;
    } catch (const std::bad_alloc &) {
        record_error("WFDB: can't allocate memory to read the header of record %s\n", record.c_str());
        return -2;
    }
}

}  // namespace

EdfFileKind edf_file_kind(std::string_view record) {
    if (record.size() <= 4) return EdfFileKind::none;
    if (ends_with_ci(record, ".edf")) return EdfFileKind::edf;
    if (ends_with_ci(record, ".bdf")) return EdfFileKind::bdf;
    return EdfFileKind::none;
}

long long read_edf_bytes(ByteSource &source, std::int64_t offset, std::uint8_t *dest, std::size_t size) {
    if (source.position() != offset && !source.seek(offset)) return -1;
    std::size_t got = 0;
    while (got < size) {
        long long n = source.read(dest + got, size - got);
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<long long>(got);
}

int parse_edf_file(const std::string &record, EdfFileKind kind, ByteSource &source, const std::string &file,
                   Header &out) {
    EdfHeaderParser parser(record, kind, source, file, out);
    return parser.parse();
}

int read_edf_header(const std::string &record, Header &out) {
    return read_found_edf_header(
        record, [](const std::string &stem, const std::string &type) { return open_record_file(stem, type); }, nullptr,
        out);
}

int read_edf_header(const std::string &record, SearchLocation &location, Header &out) {
    return read_found_edf_header(
        record, [&](const std::string &stem, const std::string &type) { return location.open_record_file(stem, type); },
        &location, out);
}

}  // namespace sigtrove::engine
