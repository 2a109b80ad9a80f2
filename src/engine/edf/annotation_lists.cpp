#include "edf/annotation_lists.h"

namespace sigtrove::engine {
namespace {

constexpr std::uint8_t kDurationMark = 0x15;
constexpr std::uint8_t kTextEnd = 0x14;

class ListReader {
public:
    ListReader(const std::uint8_t *bytes, std::size_t size) : bytes_(bytes), size_(size) {}

    // Parses the list at the position; false with `error` set when it is malformed.
    // Sets `done` instead when only NUL padding (or nothing) is left.
    bool next(EdfAnnotationList &list, bool &done, std::string &error) {
        done = false;
        if (pos_ >= size_ || bytes_[pos_] == 0) {
            done = true;
            return true;
        }
        const std::size_t start = pos_;
        std::string_view onset = until_mark(kDurationMark, kTextEnd);
        std::optional<DecimalSeconds> value = parse_decimal_seconds(onset, Sign::required);
        if (pos_ >= size_) return fail(error, start, "is cut off after its onset");
        if (!value) return fail(error, start, "has an onset that is not a signed number (\"" + shown(onset) + "\")");
        list.onset = *value;
        list.duration.reset();
        list.texts.clear();
        if (bytes_[pos_++] == kDurationMark) {
            std::string_view duration = until_mark(kTextEnd, kTextEnd);
            if (pos_ >= size_) return fail(error, start, "is cut off after its duration");
            list.duration = parse_decimal_seconds(duration, Sign::none);
            if (!list.duration)
                return fail(error, start, "has a duration that is not a number (\"" + shown(duration) + "\")");
            ++pos_;
        }
        // Texts, each ended by 0x14, until the NUL that ends the list.
        for (;;) {
            if (pos_ >= size_) return fail(error, start, "has no NUL at its end");
            if (bytes_[pos_] == 0) {
                ++pos_;
                return true;
            }
            const std::size_t text_start = pos_;
            while (pos_ < size_ && bytes_[pos_] != kTextEnd && bytes_[pos_] != 0) ++pos_;
            if (pos_ >= size_ || bytes_[pos_] == 0) return fail(error, start, "has a text that is not ended by 0x14");
            list.texts.emplace_back(reinterpret_cast<const char *>(bytes_ + text_start), pos_ - text_start);
            ++pos_;
        }
    }

private:
    // The bytes from the position up to (not including) either mark, the NUL or the end.
    std::string_view until_mark(std::uint8_t a, std::uint8_t b) {
        const std::size_t begin = pos_;
        while (pos_ < size_ && bytes_[pos_] != a && bytes_[pos_] != b && bytes_[pos_] != 0) ++pos_;
        if (pos_ < size_ && bytes_[pos_] == 0) pos_ = size_;  // a NUL inside a number: cut off
        return std::string_view(reinterpret_cast<const char *>(bytes_ + begin), pos_ - begin);
    }

    static std::string shown(std::string_view text) {
        std::string out;
        for (char c : text.substr(0, 24)) {
            auto u = static_cast<unsigned char>(c);
            out += (u >= 32 && u < 127) ? c : '?';
        }
        return text.size() > 24 ? out + "..." : out;
    }

    static bool fail(std::string &error, std::size_t start, const std::string &what) {
        error = "the annotation list at byte " + std::to_string(start) + " " + what;
        return false;
    }

    const std::uint8_t *bytes_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace

bool parse_annotation_lists(const std::uint8_t *bytes, std::size_t size, std::vector<EdfAnnotationList> &out,
                            std::string &error) {
    ListReader reader(bytes, size);
    for (;;) {
        EdfAnnotationList list;
        bool done = false;
        if (!reader.next(list, done, error)) return false;
        if (done) return true;
        out.push_back(std::move(list));
    }
}

std::optional<DecimalSeconds> data_record_onset(const std::uint8_t *bytes, std::size_t size, std::string &error) {
    ListReader reader(bytes, size);
    EdfAnnotationList list;
    bool done = false;
    if (!reader.next(list, done, error)) return std::nullopt;
    if (done) {
        error = "there is no annotation list to give the data record's onset";
        return std::nullopt;
    }
    if (list.texts.empty() || !list.texts.front().empty()) {
        error = "the first annotation list does not begin with an empty text (it is no time stamp)";
        return std::nullopt;
    }
    return list.onset;
}

}  // namespace sigtrove::engine
