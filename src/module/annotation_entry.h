// What the annotation types share: the entry that Annotation.read builds from
// what it takes from the engine, and the code of a mnemonic.
#ifndef SIGTROVE_ANNOTATION_ENTRY_H
#define SIGTROVE_ANNOTATION_ENTRY_H

#include <cstring>
#include <string>

#include "sigtrove.h"
#include "wfdb/wfdb.h"

namespace sigtrove {

// An annotation as a read takes it from the engine: its fields, and the text of
// its aux record (the bytes after WFDB's leading count byte, up to the first NUL:
// rhythm labels, measurements, notes), copied because the engine reuses its aux
// buffer at the next getann. May throw std::bad_alloc.
struct TakenAnnotation {
    WFDB_Annotation fields{};  // with aux cleared
    bool has_aux = false;
    std::string aux;

    explicit TakenAnnotation(const WFDB_Annotation &annotation) : fields(annotation) {
        fields.aux = nullptr;
        if (annotation.aux == nullptr) return;
        has_aux = true;
        const char *text = reinterpret_cast<const char *>(annotation.aux + 1);
        const size_t count = annotation.aux[0];
        const void *nul = std::memchr(text, '\0', count);
        aux.assign(text, nul ? static_cast<size_t>(static_cast<const char *>(nul) - text) : count);
    }
};

// A new AnnotationEntry for an annotation taken from a file.
PyObject *entry_from_annotation(const TakenAnnotation &annotation);

// The engine's code for a mnemonic (a str); 0 (no code) when it has no such
// mnemonic. False with an exception set when the text can not be passed on.
bool code_of_mnemonic(PyObject *text, int &code);

}  // namespace sigtrove

#endif
