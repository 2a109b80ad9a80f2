// The AHA annotation format: fixed 16-byte records with an AHA letter, an
// absolute time and up to 6 bytes of text, ended by a record starting 0xFF.
#ifndef SIGTROVE_ENGINE_ANNOTATION_AHA_FORMAT_H
#define SIGTROVE_ENGINE_ANNOTATION_AHA_FORMAT_H

#include <cstdint>

#include "annotations/annotation_record.h"
#include "annotations/annotation_stream.h"

namespace sigtrove::engine {

// The MIT code an AHA letter stands for; 0 for letters without one.
int mit_code_of_aha_letter(uint8_t letter);

// True when the first two bytes of a file show the AHA format: a zero byte and
// a letter that stands for an annotation (the VF bracket letters excepted).
bool starts_like_aha(const uint8_t first_two[2]);

// Decodes the next record. Each record is complete in itself; the file must
// still end with its end mark, or the end is reported as truncated.
DecodeStatus decode_aha_annotation(AnnotationStream &stream, StoredAnnotation &out);

}  // namespace sigtrove::engine

#endif
