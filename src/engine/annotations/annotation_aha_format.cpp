#include "annotations/annotation_aha_format.h"

#include <cstring>

#include "annotations/annotation_pdp11.h"
#include "wfdb/ecgcodes.h"

namespace sigtrove::engine {
namespace {

constexpr size_t record_size = 16;
constexpr uint8_t end_mark = 0xFF;
constexpr size_t text_size = 6;

DecodeStatus shortfall(const AnnotationStream &stream) {
    return stream.failed() ? DecodeStatus::read_failed : DecodeStatus::truncated;
}

}  // namespace

int mit_code_of_aha_letter(uint8_t letter) {
    switch (letter) {
        case 'E': return VESC;
        case 'F': return FUSION;
        case 'N': return NORMAL;
        case 'O': return NOTE;
        case 'P': return PACE;
        case 'Q': return UNKNOWN;
        case 'R': return RONT;
        case 'U': return NOISE;
        case 'V': return PVC;
        case '[': return VFON;
        case ']': return VFOFF;
        default: return NOTQRS;
    }
}

bool starts_like_aha(const uint8_t first_two[2]) {
    uint8_t letter = first_two[1];
    return first_two[0] == 0 && letter != '[' && letter != ']' && mit_code_of_aha_letter(letter) != NOTQRS;
}

DecodeStatus decode_aha_annotation(AnnotationStream &stream, StoredAnnotation &out) {
    uint8_t record[record_size];
    if (!stream.peek(record, 1)) return shortfall(stream);
    if (record[0] == end_mark) return DecodeStatus::end;
    if (!stream.read(record, record_size)) return shortfall(stream);

    uint8_t letter = record[1];
    out.anntyp = mit_code_of_aha_letter(letter);
    out.time = pdp11_int32(record + 2);
    auto serial = static_cast<int16_t>(record[6] | (record[7] << 8));
    out.nonpositive_serial = serial <= 0;
    out.subtyp = static_cast<signed char>(record[8]);
    if (letter == 'U' && out.subtyp == 0) out.subtyp = -1;
    // Byte 9 holds the MIT code the record was written from; it is delivered as the channel.
    out.chan = record[9];
    out.num = 0;
    out.has_aux = record[10] != 0;
    out.aux_length = out.has_aux ? text_size : 0;
    if (out.has_aux) std::memcpy(out.aux, record + 10, text_size);
    return DecodeStatus::delivered;
}

}  // namespace sigtrove::engine
