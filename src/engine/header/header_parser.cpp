// Reads WFDB header files: the record line, then the signal lines of a single-segment
// record or the segment lines of a multi-segment one.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "errors/error_state.h"
#include "formats/sample_formats.h"
#include "header/header.h"
#include "header/header_parser.h"
#include "header/record_memory.h"
#include "paths/path_search.h"
#include "paths/search_location.h"
#include "texts/shown_field.h"
#include "time/base_time.h"
#include "wfdb/wfdb.h"

namespace sigtrove::engine {
namespace {

constexpr int kLegalFormats[] = {0, 8, 16, 61, 80, 160, 212, 310, 311, 24, 32, 508, 516, 524};

bool is_field_separator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_line_break(char c) { return c == '\r' || c == '\n'; }

// Splits a line into whitespace-separated fields. Each field ends at one separator,
// which is consumed with it: what follows (base time, description) keeps any further blanks.
class FieldReader {
public:
    explicit FieldReader(std::string_view line) : line_(line) {}

    std::optional<std::string> next() {
        while (pos_ < line_.size() && is_field_separator(line_[pos_])) ++pos_;
        if (pos_ >= line_.size()) return std::nullopt;
        size_t end = pos_;
        while (end < line_.size() && !is_field_separator(line_[end])) ++end;
        std::string field(line_.substr(pos_, end - pos_));
        pos_ = end < line_.size() ? end + 1 : end;
        return field;
    }

    // The rest of the line up to its line break; none when only line breaks remain.
    std::optional<std::string> rest() {
        size_t begin = pos_;
        while (begin < line_.size() && is_line_break(line_[begin])) ++begin;
        if (begin >= line_.size()) return std::nullopt;
        size_t end = begin;
        while (end < line_.size() && !is_line_break(line_[end])) ++end;
        pos_ = end;
        return std::string(line_.substr(begin, end - begin));
    }

private:
    std::string_view line_;
    size_t pos_ = 0;
};

// What a header's texts may hold: a line at most max_record_memory() / 64 (4 MB
// by default; real lines are a few hundred bytes), its comments together with
// the rest of the record at most the ceiling itself.
long long max_header_line() { return std::max<long long>(max_record_memory() / 64, 4096); }

// What one comment costs beside its text (the string, its place in the list).
constexpr long long kBytesPerComment = 64;

// Reads a header file line by line, each line bounded (max_header_line), the
// comments kept bounded by the record memory ceiling.
class HeaderLines {
public:
    explicit HeaderLines(ByteSource &source) : source_(source) {}

    // The next raw line, its line feed included; false at the end of the file
    // (or when reading fails: failed() tells; or when the line is too long:
    // too_long() tells, and the line is not read further).
    // A NUL byte ends the line's text, as it would for any C string reader.
    bool read(std::string &line) {
        line.clear();
        if (too_long_ || too_many_comments_) return false;
        const auto limit = static_cast<std::size_t>(max_header_line());
        for (;;) {
            if (next_ == end_ && !refill()) break;
            const char *begin = buffer_ + next_;
            const void *feed = std::memchr(begin, '\n', end_ - next_);
            std::size_t taken =
                feed ? static_cast<std::size_t>(static_cast<const char *>(feed) - begin) + 1 : end_ - next_;
            if (line.size() + taken > limit) {
                too_long_ = true;
                line.clear();
                return false;
            }
            line.append(begin, taken);
            next_ += taken;
            if (feed) break;
        }
        if (line.empty()) return false;
        ++line_number_;
        size_t nul = line.find('\0');
        if (nul != std::string::npos) line.resize(nul);
        return true;
    }

    // True when a read of the file failed before its end.
    bool failed() const { return failed_; }
    // True when a line was longer than max_header_line() (the line after the last one read).
    bool too_long() const { return too_long_; }
    int line_number() const { return line_number_; }
    // True when the comments took more than the record memory ceiling.
    bool too_many_comments() const { return too_many_comments_; }
    long long comment_bytes() const { return comment_bytes_; }

    // The next line that is neither blank nor a comment; the comments passed are kept.
    bool read_content(std::string &line) {
        while (read(line)) {
            size_t first = line.find_first_not_of(" \t\r\n");
            if (first == std::string::npos) continue;
            if (line[first] != '#') return true;
            keep_comment(line, first);
        }
        return false;
    }

    // Reads the rest of the file for its comments.
    void read_remaining_comments() {
        std::string line;
        while (read_content(line)) {
        }
    }

    std::vector<std::string> take_comments() { return std::move(comments_); }

    void keep_if_comment(const std::string &line) {
        size_t first = line.find_first_not_of(" \t\r\n");
        if (first != std::string::npos && line[first] == '#') keep_comment(line, first);
    }

private:
    // A comment's text: after the '#', without the blanks around it.
    void keep_comment(const std::string &line, size_t hash) {
        size_t begin = line.find_first_not_of(" \t", hash + 1);
        size_t end = line.find_last_not_of(" \t\r\n");
        std::string text =
            begin == std::string::npos || end < begin ? std::string() : line.substr(begin, end - begin + 1);
        comment_bytes_ += static_cast<long long>(text.size()) + kBytesPerComment;
        if (comment_bytes_ > max_record_memory()) {
            too_many_comments_ = true;
            return;
        }
        comments_.push_back(std::move(text));
    }

    bool refill() {
        if (failed_) return false;
        long long got = source_.read(reinterpret_cast<std::uint8_t *>(buffer_), sizeof buffer_);
        if (got < 0) failed_ = true;
        next_ = 0;
        end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
        return end_ > 0;
    }

    ByteSource &source_;
    char buffer_[4096];
    std::size_t next_ = 0, end_ = 0;
    bool failed_ = false;
    bool too_long_ = false;
    bool too_many_comments_ = false;
    int line_number_ = 0;
    long long comment_bytes_ = 0;
    std::vector<std::string> comments_;
};

// A decimal field as strtol reads it: 0 when it does not begin with a number.
// None when the value does not fit in T.
template <typename T>
std::optional<T> integer_field(const std::string &field) {
    errno = 0;
    long value = std::strtol(field.c_str(), nullptr, 10);
    if (errno == ERANGE || value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(value);
}

// The number right after the first `marker` in a field, when a character follows the marker.
std::optional<std::string> after_marker(const std::string &field, char marker) {
    size_t at = field.find(marker);
    if (at == std::string::npos || at + 1 >= field.size()) return std::nullopt;
    return field.substr(at + 1);
}

bool is_legal_format(int fmt) {
    for (int legal : kLegalFormats)
        if (legal == fmt) return true;
    return false;
}

int default_adc_resolution(int fmt) {
    switch (fmt) {
        case 80: return 8;
        case 160: return 16;
        case 212: return 12;
        case 310:
        case 311: return 10;
        default: return WFDB_DEFRES;
    }
}

// The header's own name must be the record's name: either a prefix of the record
// argument or its last path component (the part after its first character when it
// has no directory part, as the reference reader compares).
bool header_name_matches(std::string_view name, std::string_view record) {
    if (record.substr(0, name.size()) == name) return true;
    size_t cut = record.find_last_of("/\\:");
    std::string_view last =
        cut == std::string_view::npos ? record.substr(record.empty() ? 0 : 1) : record.substr(cut + 1);
    return last == name;
}

class HeaderParser {
public:
    HeaderParser(const std::string &record, const std::string &where, ByteSource &source, Header &out)
        : record_(record), where_(where), text_(record.c_str()), lines_(source), out_(out) {}

    int parse() {
        std::string line;
        if (!lines_.read(line)) return ended("init: record %s header is empty\n");
        if (int rc = check_version_line(line); rc < 0) return rc;
        if (line.rfind("#wfdb", 0) != 0) lines_.keep_if_comment(line);
        bool have_record_line = is_content(line) || lines_.read_content(line);
        if (!have_record_line) return ended("init: can't find record name in record %s header\n");
        if (int rc = parse_record_line(line); rc < 0) return rc;
        int rc = out_.multi_segment ? parse_segment_lines() : parse_signal_lines();
        if (rc < 0) return rc;
        lines_.read_remaining_comments();
        if (lines_.too_long() || lines_.too_many_comments()) return ended(nullptr);
        out_.comments = lines_.take_comments();
        return check_comment_memory();
    }

    bool read_failed() const { return lines_.failed(); }

private:
    // Records a text naming only the record, and rejects the header.
    int reject(const char *format) {
        record_error(format, text_);
        return -2;
    }

    // The lines ran out where more were needed: the header is refused with the
    // text `format` (naming the record), unless a line too long or comments too
    // many stopped the reading, which is then what the text says.
    int ended(const char *format) {
        if (lines_.too_long()) {
            record_error(
                "init: line %d of header %s is longer than %s, the most a header line may take (1/64 of "
                "the %s a record may use, SIGTROVE_MAX_RECORD_MEMORY)\n",
                lines_.line_number() + 1, where_.c_str(), megabytes(max_header_line()).c_str(),
                megabytes(max_record_memory()).c_str());
            return -3;
        }
        if (lines_.too_many_comments()) return refuse_comments(lines_.comment_bytes());
        return format ? reject(format) : 0;
    }

    int refuse_comments(long long bytes) {
        record_error(
            "init: the comments of record %s header take %s, more than the %s a record may use "
            "(SIGTROVE_MAX_RECORD_MEMORY)\n",
            text_, megabytes(bytes).c_str(), megabytes(max_record_memory()).c_str());
        return -3;
    }

    // The comments count with everything else a record holds.
    int check_comment_memory() {
        long long held = memory_for(static_cast<long long>(out_.signals.size()), kBytesPerSignal) +
                         memory_for(static_cast<long long>(out_.segments.size()), kBytesPerSegment);
        long long total = held + lines_.comment_bytes();
        if (total <= max_record_memory()) return 0;
        return refuse_comments(lines_.comment_bytes());
    }
    // Records a text with its own arguments, and rejects the header.
    template <typename... Args>
    int reject_with(const char *format, Args... args) {
        record_error(format, args...);
        return -2;
    }

    static bool is_content(const std::string &line) {
        size_t first = line.find_first_not_of(" \t\r\n");
        return first != std::string::npos && line[first] != '#';
    }

    // "#wfdb MAJOR[.MINOR[.RELEASE]]" as the very first line names the oldest reader able to read the record.
    int check_version_line(const std::string &line) {
        if (line.rfind("#wfdb", 0) != 0) return 0;
        int wanted[3] = {0, 0, 0};
        const char *p = line.c_str() + 5;
        for (int i = 0; i < 3; ++i) {
            char *end = nullptr;
            long part = std::strtol(p, &end, 10);
            if (end == p) {
                if (i == 0) return 0;  // no version: an ordinary comment
                break;
            }
            wanted[i] = static_cast<int>(std::clamp<long>(part, 0, INT_MAX));
            if (*end != '.') break;
            p = end + 1;
        }
        const int ours[3] = {WFDB_MAJOR, WFDB_MINOR, WFDB_RELEASE};
        if (!std::lexicographical_compare(ours, ours + 3, wanted, wanted + 3)) return 0;
        record_error(
            "init: reading record %s requires WFDB library version %d.%d.%d or later\n"
            "  (the most recent version is always available from http://physionet.org)\n",
            text_, wanted[0], wanted[1], wanted[2]);
        return -1;
    }

    int parse_record_line(const std::string &line) {
        FieldReader fields(line);
        std::string name = *fields.next();
        if (size_t slash = name.find('/'); slash != std::string::npos) {
            std::optional<int> nseg = integer_field<int>(name.substr(slash + 1));
            if (!nseg || *nseg < 1) return reject("init: number of segments in record %s header is incorrect\n");
            out_.multi_segment = true;
            segment_count_ = *nseg;
            name.resize(slash);
        }
        if (!header_name_matches(name, record_lookup_name(record_)))
            return reject("init: record name in record %s header is incorrect\n");

        std::optional<std::string> nsig = fields.next();
        if (!nsig) return reject("init: obsolete format in record %s header\n");
        std::optional<int> count = integer_field<int>(*nsig);
        if (!count || *count < 0) return reject("init: number of signals in record %s header is incorrect\n");
        out_.nsig = *count;
        // A master's signals are described elsewhere: no lines here bound its count, so it is held to the ceiling now.
        if (out_.multi_segment) {
            if (int rc = check_signal_count(out_.nsig); rc < 0) return rc;
        }

        std::optional<std::string> freq = fields.next();
        if (!freq) return 0;
        if (int rc = parse_frequencies(*freq); rc < 0) return rc;

        std::optional<std::string> nsamp = fields.next();
        if (!nsamp) return 0;
        std::optional<long> length = integer_field<long>(*nsamp);
        if (!length || *length < 0) return reject("init: number of samples in record %s header is incorrect\n");
        out_.nsamp = *length;

        std::optional<std::string> base = fields.rest();
        return base ? parse_base(*base) : 0;
    }

    // FREQ[/CFREQ[(BASECOUNT)]]
    int parse_frequencies(const std::string &field) {
        double freq = std::strtod(field.c_str(), nullptr);
        if (!(freq > 0) || !std::isfinite(freq))
            return reject("init: sampling frequency in record %s header is incorrect\n");
        out_.has_freq = true;
        out_.freq = freq;
        out_.cfreq = freq;
        size_t slash = field.find('/');
        if (slash == std::string::npos) return 0;
        double cfreq = std::strtod(field.c_str() + slash + 1, nullptr);
        if (cfreq > 0 && std::isfinite(cfreq)) out_.cfreq = cfreq;
        size_t paren = field.find('(', slash);
        if (paren == std::string::npos) return 0;
        double basecount = std::strtod(field.c_str() + paren + 1, nullptr);
        if (!std::isfinite(basecount)) return reject("init: counter base in record %s header is incorrect\n");
        out_.basecount = basecount;
        return 0;
    }

    int parse_base(const std::string &text) {
        std::optional<BaseTime> base = parse_base_time(text);
        if (!base) {
            std::string shown = shown_field(base_time_shown(text));
            return reject_with("setbasetime: incorrect time format, '%s'\n", shown.c_str());
        }
        out_.has_base = true;
        out_.base_ms = base->ms;
        out_.base_date = base->date;
        return 0;
    }

    int parse_signal_lines() {
        std::string line;
        for (int i = 0; i < out_.nsig; ++i) {
            if (!lines_.read_content(line)) return ended("init: unexpected EOF in header file for record %s\n");
            if (int rc = check_signal_count(i + 1); rc < 0) return rc;
            SignalSpec signal;
            if (int rc = parse_signal_line(line, i, signal); rc < 0) return rc;
            if (int rc = assign_group(signal, i); rc < 0) return rc;
            out_.signals.push_back(std::move(signal));
        }
        return check_memory();
    }

    // Consecutive lines naming the same file form a group, read together: they must agree on how it is stored.
    int assign_group(SignalSpec &signal, int index) {
        if (index == 0) return 0;
        const SignalSpec &previous = out_.signals.back();
        if (signal.fname != previous.fname) {
            signal.group = previous.group + 1;
            return 0;
        }
        signal.group = previous.group;
        if (signal.fmt != previous.fmt || signal.bsize != previous.bsize)
            return reject_with("init: signals %d and %d share a signal file but not its format and block size\n",
                               index - 1, index);
        return 0;
    }

    // Refuses a header whose claim (e.g. "25000000 signals") would take more than a record may use.
    int refuse_claim(const std::string &claim, long long bytes) {
        record_error(
            "init: record %s header asks for %s, which need %s, more than the %s a record may "
            "use (SIGTROVE_MAX_RECORD_MEMORY)\n",
            text_, claim.c_str(), megabytes(bytes).c_str(), megabytes(max_record_memory()).c_str());
        return -3;
    }

    // Signal and segment lines are held to the ceiling as they are read, so a
    // header of many lines is refused before its lines take more than that.
    int check_signal_count(int count) {
        long long bytes = memory_for(count, kBytesPerSignal + kBytesPerFrameSample);
        return bytes > max_record_memory() ? refuse_claim(std::to_string(out_.nsig) + " signals", bytes) : 0;
    }
    int check_segment_count(int count) {
        long long bytes = memory_for(count, kBytesPerSegment);
        return bytes > max_record_memory() ? refuse_claim(std::to_string(segment_count_) + " segments", bytes) : 0;
    }

    // What holding every signal open takes at the least: the signals, their
    // frame samples, the groups, and each group's window of decoded frames
    // (its largest skew plus one frame). Refuses the header, naming the value
    // that asks for most, when that passes the ceiling.
    int check_memory() {
        long long total = memory_for(out_.nsig, kBytesPerSignal);
        long long largest = -1;
        std::string claim;
        auto note = [&](long long bytes, std::string what) {
            total = bytes > LLONG_MAX - total ? LLONG_MAX : total + bytes;
            if (bytes > largest) {
                largest = bytes;
                claim = std::move(what);
            }
        };
        const std::vector<SignalSpec> &signals = out_.signals;
        long long groups = 0, flac_groups = 0;
        for (std::size_t begin = 0, end; begin < signals.size(); begin = end) {
            if (is_flac_format(signals[begin].fmt)) ++flac_groups;
            long long frame = 0, span = 0;
            std::size_t widest = begin, most_skewed = begin;
            for (end = begin; end < signals.size() && signals[end].group == signals[begin].group; ++end) {
                frame += signals[end].spf;
                if (signals[end].spf > signals[widest].spf) widest = end;
                if (signals[end].skew > signals[most_skewed].skew) most_skewed = end;
                span = std::max<long long>(span, signals[end].skew);
            }
            ++groups;
            long long samples = memory_for(frame, kBytesPerFrameSample);
            long long window = memory_for(memory_for(span, frame), static_cast<long long>(sizeof(std::int32_t)));
            note(samples,
                 std::to_string(signals[widest].spf) + " samples per frame (signal " + std::to_string(widest) + ")");
            if (span > 0)
                note(window,
                     "a skew of " + std::to_string(span) + " frames (signal " + std::to_string(most_skewed) + ")");
        }
        note(memory_for(groups, kBytesPerGroup), std::to_string(groups) + " signal groups");
        if (flac_groups > 0)
            note(memory_for(flac_groups, kBytesPerFlacGroup), std::to_string(flac_groups) + " FLAC signal groups");
        if (total <= max_record_memory()) return 0;
        return refuse_claim(claim, total);
    }

    int out_of_range(const std::string &field, int index) {
        return reject_with("init: value '%s' out of range for signal %d, record %s\n", shown_field(field).c_str(),
                           index, text_);
    }

    // FILE FMT[xSPF][:SKEW][+OFFSET] [GAIN[(BASELINE)][/UNITS] [ADCRES [ADCZERO [INITVAL [CKSUM [BSIZE [DESC]]]]]]]
    int parse_signal_line(const std::string &line, int index, SignalSpec &s) {
        FieldReader fields(line);
        s.fname = *fields.next();
        std::optional<std::string> format = fields.next();
        if (int rc = parse_format(format, index, s); rc < 0) return rc;

        s.adcres = default_adc_resolution(s.fmt);
        std::optional<int> baseline;
        bool complete = false;
        if (std::optional<std::string> gain = fields.next()) {
            if (int rc = parse_gain(*gain, index, s, baseline); rc < 0) return rc;
            int *numbers[] = {&s.adcres, &s.adczero, &s.initval, &s.cksum, &s.bsize};
            int given = 0;
            for (int *number : numbers) {
                std::optional<std::string> field = fields.next();
                if (!field) break;
                std::optional<int> value = integer_field<int>(*field);
                if (!value) return out_of_range(*field, index);
                *number = *value;
                ++given;
            }
            if (given < 3) s.initval = s.adczero;
            s.has_cksum = given >= 4;
            complete = given == 5;
        }
        s.baseline = baseline.value_or(s.adczero);
        if (s.has_cksum) s.nsamp = out_.nsamp;
        std::optional<std::string> desc = complete ? fields.rest() : std::nullopt;
        if (desc) {
            s.desc = desc->substr(0, WFDB_MAXDSL);
        } else {
            char fallback[64];
            std::snprintf(fallback, sizeof fallback, ", signal %d", index);
            s.desc = ("record " + record_ + fallback).substr(0, WFDB_MAXDSL);
        }
        return 0;
    }

    int parse_format(const std::optional<std::string> &field, int index, SignalSpec &s) {
        char *end = nullptr;
        long fmt = field ? std::strtol(field->c_str(), &end, 10) : -1;
        if (!field || end == field->c_str() || fmt < INT_MIN || fmt > INT_MAX ||
            !is_legal_format(static_cast<int>(fmt)))
            return reject_with("init: illegal format for signal %d, record %s\n", index, text_);
        s.fmt = static_cast<int>(fmt);
        if (std::optional<std::string> spf = after_marker(*field, 'x')) {
            std::optional<int> value = integer_field<int>(*spf);
            if (!value) return out_of_range(*field, index);
            s.spf = *value < 1 ? 1 : *value;
        }
        if (std::optional<std::string> skew = after_marker(*field, ':')) {
            std::optional<int> value = integer_field<int>(*skew);
            if (!value) return out_of_range(*field, index);
            int samples = *value < 0 ? 0 : *value;
            // Skew is written in samples but applied in whole frames.
            s.skew = static_cast<int>(static_cast<double>(samples) / s.spf + 0.5);
        }
        if (std::optional<std::string> offset = after_marker(*field, '+')) {
            std::optional<long> value = integer_field<long>(*offset);
            if (!value) return out_of_range(*field, index);
            s.offset = *value < 0 ? 0 : *value;
        }
        return 0;
    }

    // GAIN[(BASELINE)][/UNITS]
    int parse_gain(const std::string &field, int index, SignalSpec &s, std::optional<int> &baseline) {
        s.gain = std::strtod(field.c_str(), nullptr);
        if (!std::isfinite(s.gain)) return out_of_range(field, index);
        size_t paren = field.find_first_of("(/");
        if (paren != std::string::npos && field[paren] == '(') {
            std::optional<int> value = integer_field<int>(field.substr(paren + 1));
            if (!value) return out_of_range(field, index);
            baseline = *value;
        }
        if (std::optional<std::string> units = after_marker(field, '/')) s.units = units->substr(0, WFDB_MAXUSL);
        return 0;
    }

    int parse_segment_lines() {
        std::string line;
        long start = 0;
        for (int i = 0; i < segment_count_; ++i) {
            if (!lines_.read_content(line)) return ended("init: unexpected EOF in header file for record %s\n");
            if (int rc = check_segment_count(i + 1); rc < 0) return rc;
            FieldReader fields(line);
            SegmentSpec segment;
            segment.name = *fields.next();
            if (segment.name[0] == '+')
                return reject_with("init: `%s' is not a valid segment name in record %s\n",
                                   shown_field(segment.name).c_str(), text_);
            if (segment.name.size() > WFDB_MAXRNL)
                return reject_with("init: `%s' is too long for a segment name in record %s\n",
                                   shown_field(segment.name).c_str(), text_);
            std::optional<std::string> length = fields.next();
            std::optional<long> frames = length ? integer_field<long>(*length) : std::nullopt;
            if (!frames || *frames < 0)
                return reject_with("init: length must be specified for segment %s in record %s\n", segment.name.c_str(),
                                   text_);
            if (*frames > LONG_MAX - start)
                return reject("init: total length of the segments of record %s is too large\n");
            segment.nsamp = *frames;
            segment.start = start;
            start += *frames;
            out_.segments.push_back(std::move(segment));
        }
        if (out_.nsamp == 0) {
            out_.nsamp = start;
        } else if (out_.nsamp != start) {
            record_error("warning (init): in record %s, stated record length (%ld)\n", text_, out_.nsamp);
            record_error(" does not match sum of segment lengths (%ld)\n", start);
        }
        return 0;
    }

    const std::string &record_;
    const std::string &where_;  // where the header was found (a path or a URL)
    const char *text_;          // the record as named in error texts
    HeaderLines lines_;
    Header &out_;
    int segment_count_ = 0;
};

}  // namespace

namespace {

// Finds RECORD's header with `find` and parses it (nothing found: the "can't open" text).
template <class Find>
int read_found_header(const std::string &record, Find find, Header &out) {
    try {
        out = Header{};
        out.record = record;
        // "-" would mean standard input to the reference reader; the engine reads only files.
        FoundFile found = record == "-" ? FoundFile{} : find();
        if (!found) {
            if (found.failure.empty())
                record_error("init: can't open header for record %s\n", record.c_str());
            else {
                if (found.remote_failure()) note_remote_failure();
                record_error("init: can't open header for record %s (%s)\n", record.c_str(), found.failure.c_str());
            }
            return -1;
        }
        out.path = std::move(found.path);
        HeaderParser parser(record, out.path, *found.source, out);
        int rc = parser.parse();
        // A header cut short by a failed read would parse as a different header: it is not used at all.
        if (parser.read_failed()) {
            if (!found.source->failure().empty()) note_remote_failure();
            record_error("init: can't read header for record %s%s\n", record.c_str(),
                         failure_suffix(*found.source).c_str());
            return -1;
        }
        return rc;
    } catch (const std::bad_alloc &) {
        record_error("WFDB: can't allocate memory to read the header of record %s\n", record.c_str());
        return -2;
    }
}

}  // namespace

int read_wfdb_header(const std::string &record, Header &out) {
    return read_found_header(record, [&] { return open_record_file(record, "hea"); }, out);
}

int read_wfdb_header(const std::string &record, SearchLocation &location, Header &out) {
    return read_found_header(record, [&] { return location.open_record_file(record, "hea"); }, out);
}

}  // namespace sigtrove::engine
