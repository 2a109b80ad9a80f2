#include "annotations/annotation_mit_format.h"

#include <limits>

#include "annotations/annotation_pdp11.h"

namespace sigtrove::engine {
namespace {

struct Word {
    int code;  // top 6 bits
    int data;  // low 10 bits
    bool is_end_mark() const { return code == 0 && data == 0; }
    bool is_modifier() const { return code >= mit_skip; }
};

Word split(const uint8_t bytes[2]) {
    unsigned value = bytes[0] | (bytes[1] << 8);
    return {static_cast<int>(value >> 10), static_cast<int>(value & 0x3FF)};
}

int64_t add_saturating(int64_t a, int64_t b) {
    int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

// Reading one annotation, with the first shortfall turned into the status to report.
class MitDecoder {
public:
    MitDecoder(AnnotationStream &stream, DecoderRegisters &registers, StoredAnnotation &out)
        : stream_(stream), registers_(registers), out_(out) {}

    DecodeStatus decode() {
        Word word{};
        // SKIP words before an annotation move the running time to it.
        do {
            if (!read_word(word)) return shortfall();
            if (word.code == mit_skip && !apply_skip()) return shortfall();
        } while (word.code == mit_skip);
        if (word.is_end_mark()) return DecodeStatus::end;
        // A modifier with no annotation before it: the file is not in this format.
        if (word.is_modifier()) return DecodeStatus::malformed;

        registers_.time = add_saturating(registers_.time, word.data);
        out_.time = registers_.time;
        out_.anntyp = word.code;
        out_.subtyp = 0;
        out_.has_aux = false;
        out_.aux_length = 0;
        out_.nonpositive_serial = false;
        for (;;) {
            if (!peek_word(word)) return shortfall();
            if (!word.is_modifier()) break;
            stream_.skip(2);
            if (!apply_modifier(word)) return shortfall();
        }
        out_.chan = registers_.chan;
        out_.num = registers_.num;
        return DecodeStatus::delivered;
    }

private:
    bool read_word(Word &word) {
        uint8_t bytes[2];
        if (!stream_.read(bytes, 2)) return false;
        word = split(bytes);
        return true;
    }

    bool peek_word(Word &word) {
        uint8_t bytes[2];
        if (!stream_.peek(bytes, 2)) return false;
        word = split(bytes);
        return true;
    }

    bool apply_skip() {
        uint8_t bytes[4];
        if (!stream_.read(bytes, 4)) return false;
        registers_.time = add_saturating(registers_.time, pdp11_int32(bytes));
        return true;
    }

    bool read_aux(int data) {
        auto length = static_cast<uint8_t>(data & 0xFF);
        if (!stream_.read(out_.aux, length)) return false;
        // Texts of odd length are padded to a whole word.
        if (length % 2 != 0 && !stream_.skip(1)) return false;
        out_.has_aux = true;
        out_.aux_length = length;
        return true;
    }

    // The 10-bit data are cut to the 8-bit fields that hold them.
    bool apply_modifier(const Word &word) {
        switch (word.code) {
            case mit_skip: return apply_skip();
            case mit_num: registers_.num = static_cast<signed char>(word.data & 0xFF); return true;
            case mit_sub: out_.subtyp = static_cast<signed char>(word.data & 0xFF); return true;
            case mit_chn: registers_.chan = static_cast<unsigned char>(word.data & 0xFF); return true;
            default: return read_aux(word.data);
        }
    }

    DecodeStatus shortfall() const { return stream_.failed() ? DecodeStatus::read_failed : DecodeStatus::truncated; }

    AnnotationStream &stream_;
    DecoderRegisters &registers_;
    StoredAnnotation &out_;
};

}  // namespace

DecodeStatus decode_mit_annotation(AnnotationStream &stream, DecoderRegisters &registers, StoredAnnotation &out) {
    return MitDecoder(stream, registers, out).decode();
}

}  // namespace sigtrove::engine
