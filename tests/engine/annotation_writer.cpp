#include "annotation_writer.h"

#include <cstdint>

namespace sigtrove::testing {
namespace {

constexpr int skip_code = 59;
constexpr int num_code = 60;
constexpr int sub_code = 61;
constexpr int chn_code = 62;
constexpr int aux_code = 63;
constexpr int note_code = 22;

}  // namespace

std::string pdp11_bytes(int32_t value) {
    auto bits = static_cast<uint32_t>(value);
    std::string out;
    out += static_cast<char>((bits >> 16) & 0xFF);
    out += static_cast<char>((bits >> 24) & 0xFF);
    out += static_cast<char>(bits & 0xFF);
    out += static_cast<char>((bits >> 8) & 0xFF);
    return out;
}

void MitAnnotationWriter::put16(unsigned value) {
    bytes_ += static_cast<char>(value & 0xFF);
    bytes_ += static_cast<char>((value >> 8) & 0xFF);
}

MitAnnotationWriter &MitAnnotationWriter::word(int code, int data) {
    put16((static_cast<unsigned>(code) << 10) | (static_cast<unsigned>(data) & 0x3FF));
    return *this;
}

MitAnnotationWriter &MitAnnotationWriter::skip(int32_t interval) {
    word(skip_code, 0);
    bytes_ += pdp11_bytes(interval);
    time_ += interval;
    return *this;
}

MitAnnotationWriter &MitAnnotationWriter::aux(const std::string &text) {
    word(aux_code, static_cast<int>(text.size()));
    bytes_ += text;
    if (text.size() % 2 != 0) bytes_ += '\0';
    return *this;
}

MitAnnotationWriter &MitAnnotationWriter::add(const MitEntry &entry) {
    long interval = entry.time - time_;
    if (interval < 0 || interval > 1023) {
        for (; interval > INT32_MAX; interval -= INT32_MAX) skip(INT32_MAX);
        for (; interval < INT32_MIN; interval -= INT32_MIN) skip(INT32_MIN);
        skip(static_cast<int32_t>(interval));
        interval = 0;
    }
    word(entry.type, static_cast<int>(interval));
    word_ends_.push_back(bytes_.size());
    time_ = entry.time;
    if (entry.subtyp != 0) word(sub_code, entry.subtyp);
    if (entry.chan != chan_) word(chn_code, chan_ = entry.chan);
    if (entry.num != num_) word(num_code, num_ = entry.num);
    if (entry.aux) aux(*entry.aux);
    return *this;
}

MitAnnotationWriter &MitAnnotationWriter::label(const std::string &text) {
    return add(MitEntry{.time = 0, .type = note_code, .aux = text});
}

std::string MitAnnotationWriter::finish() const { return bytes_ + std::string(2, '\0'); }

AhaAnnotationWriter &AhaAnnotationWriter::add(const AhaEntry &entry) {
    int serial = entry.serial.value_or(++count_);
    std::string record(16, '\0');
    record[1] = entry.letter;
    record.replace(2, 4, pdp11_bytes(static_cast<int32_t>(entry.time)));
    record[6] = static_cast<char>(serial & 0xFF);
    record[7] = static_cast<char>((serial >> 8) & 0xFF);
    record[8] = static_cast<char>(entry.subtyp);
    record[9] = static_cast<char>(entry.mit_code);
    record.replace(10, entry.text.size(), entry.text);
    bytes_ += record.substr(0, 16);
    return *this;
}

std::string AhaAnnotationWriter::finish() const {
    size_t padded = (bytes_.size() / 1024 + 1) * 1024;
    return bytes_ + std::string(padded - bytes_.size(), '\xFF');
}

}  // namespace sigtrove::testing
