// The MIT annotation format: 16-bit little-endian words, a 6-bit code and 10
// bits of data each, with pseudo-codes that modify the annotation before them.
#ifndef SIGTROVE_ENGINE_ANNOTATION_MIT_FORMAT_H
#define SIGTROVE_ENGINE_ANNOTATION_MIT_FORMAT_H

#include "annotations/annotation_record.h"
#include "annotations/annotation_stream.h"

namespace sigtrove::engine {

// Pseudo-codes of the MIT format, never delivered as annotation types.
enum MitPseudoCode : int { mit_skip = 59, mit_num = 60, mit_sub = 61, mit_chn = 62, mit_aux = 63 };

// Decodes the next annotation. An annotation is complete only once the word
// that follows its modifiers (the next annotation or the end mark) has been
// seen, so a file cut short never yields a half-read annotation. On anything
// but `delivered`, OUT is unspecified.
DecodeStatus decode_mit_annotation(AnnotationStream &stream, DecoderRegisters &registers, StoredAnnotation &out);

}  // namespace sigtrove::engine

#endif
