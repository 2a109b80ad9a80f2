// What the format decoders produce: one annotation as stored in a file (time in
// the file's own ticks), the registers carried from one annotation to the next,
// and how a decoding step ended.
#ifndef SIGTROVE_ENGINE_ANNOTATION_RECORD_H
#define SIGTROVE_ENGINE_ANNOTATION_RECORD_H

#include <cstdint>

namespace sigtrove::engine {

struct StoredAnnotation {
    int64_t time = 0;  // in ticks of the file's own time resolution
    int anntyp = 0;
    signed char subtyp = 0;
    unsigned char chan = 0;
    signed char num = 0;
    bool has_aux = false;
    uint8_t aux_length = 0;
    uint8_t aux[255] = {};
    bool nonpositive_serial = false;  // AHA records number themselves from 1
};

// State that one annotation passes to the next: the running time and the
// channel and number registers (MIT format; the AHA format keeps none).
struct DecoderRegisters {
    int64_t time = 0;
    unsigned char chan = 0;
    signed char num = 0;
};

enum class DecodeStatus {
    delivered,    // the annotation is complete
    end,          // the file's end mark
    truncated,    // the file ends inside an annotation or before its end mark
    malformed,    // the bytes can not be an annotation of this format
    read_failed,  // the operating system reported an error
};

}  // namespace sigtrove::engine

#endif
