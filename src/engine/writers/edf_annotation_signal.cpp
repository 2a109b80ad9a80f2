#include "writers/edf_annotation_signal.h"

#include <algorithm>
#include <numeric>

namespace sigtrove::engine {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// An onset or duration's digits: whole seconds, then up to 9 decimals without their trailing zeros.
void append_seconds(std::uint64_t nanoseconds, std::string &out) {
    out += std::to_string(nanoseconds / kNanosecondsPerSecond);
    std::uint64_t part = nanoseconds % kNanosecondsPerSecond;
    if (part == 0) return;
    char digits[10];
    for (int i = 8; i >= 0; --i, part /= 10) digits[i] = static_cast<char>('0' + part % 10);
    int used = 9;
    while (digits[used - 1] == '0') --used;
    out += '.';
    out.append(digits, static_cast<std::size_t>(used));
}

void append_onset(std::int64_t nanoseconds, std::string &out) {
    out += nanoseconds < 0 ? '-' : '+';
    append_seconds(
        nanoseconds < 0 ? 0 - static_cast<std::uint64_t>(nanoseconds) : static_cast<std::uint64_t>(nanoseconds), out);
}

}  // namespace

std::string edf_onset_text(std::int64_t nanoseconds) {
    std::string out;
    append_onset(nanoseconds, out);
    return out;
}

Status EdfAnnotationSignal::create(std::vector<EdfAnnotationToWrite> annotations, std::int64_t records,
                                   std::int64_t span, std::int64_t first, int sample_bytes, EdfAnnotationSignal &out) {
    for (std::size_t i = 0; i < annotations.size(); ++i) {
        const std::string &text = annotations[i].text;
        if (text.find_first_of(std::string("\x00\x14\x15", 3)) != std::string::npos)
            return Status::failure(ErrorKind::bad_request,
                                   "sigtrove: annotation " + std::to_string(i) +
                                       ": its text holds a NUL, 0x14 or 0x15 byte, which EDF+ lists are made of\n");
        if (annotations[i].duration && *annotations[i].duration < 0)
            return Status::failure(ErrorKind::bad_request,
                                   "sigtrove: annotation " + std::to_string(i) + ": a duration can not be negative\n");
    }
    std::stable_sort(annotations.begin(), annotations.end(),
                     [](const EdfAnnotationToWrite &a, const EdfAnnotationToWrite &b) { return a.onset < b.onset; });
    out.annotations_ = std::move(annotations);
    out.records_ = records;
    out.span_ = span;
    out.first_ = first;
    out.sample_bytes_ = sample_bytes;
    out.next_ = 0;
    out.record_of_.clear();
    for (const EdfAnnotationToWrite &a : out.annotations_) {
        const std::int64_t from_first = a.onset - first;
        std::int64_t r = from_first < 0 ? 0 : from_first / span;
        out.record_of_.push_back(std::min(r, records - 1));
    }
    // The fullest data record: one that holds annotations, or the last (whose onset is the longest).
    std::int64_t longest = 0;
    std::string lists;
    auto measure = [&](std::int64_t r) {
        lists.clear();
        out.append_lists(r, lists);
        longest = std::max<std::int64_t>(longest, static_cast<std::int64_t>(lists.size()));
    };
    for (std::size_t i = 0; i < out.annotations_.size();) {
        const std::int64_t r = out.record_of_[i];
        measure(r);
        while (i < out.annotations_.size() && out.record_of_[i] == r) ++i;
    }
    out.next_ = 0;
    measure(records - 1);
    out.next_ = 0;
    out.samples_ = (longest + sample_bytes - 1) / sample_bytes;
    return Status();
}

// The lists of data record R, from the annotation next_ on (which is left after them).
void EdfAnnotationSignal::append_lists(std::int64_t r, std::string &out) {
    // The data record's own onset, with the empty text that marks it.
    append_onset(first_ + r * span_, out);
    out += "\x14\x14";
    out += '\0';
    std::size_t i = next_;
    while (i < annotations_.size() && record_of_[i] < r) ++i;
    for (; i < annotations_.size() && record_of_[i] == r; ++i) {
        const EdfAnnotationToWrite &a = annotations_[i];
        append_onset(a.onset, out);
        if (a.duration) {
            out += '\x15';
            append_seconds(static_cast<std::uint64_t>(*a.duration), out);
        }
        out += '\x14';
        out += a.text;
        out += '\x14';
        out += '\0';
    }
    next_ = i;
}

void EdfAnnotationSignal::record_bytes(std::int64_t r, std::vector<std::uint8_t> &out) {
    scratch_.clear();
    append_lists(r, scratch_);
    out.assign(static_cast<std::size_t>(samples_ * sample_bytes_), 0);
    std::copy(scratch_.begin(), scratch_.end(), out.begin());
}

}  // namespace sigtrove::engine
