// Modification labels: the NOTE annotations at time 0 that open an annotation
// file and carry its time resolution or definitions of annotation codes.
#ifndef SIGTROVE_ENGINE_ANNOTATION_LABELS_H
#define SIGTROVE_ENGINE_ANNOTATION_LABELS_H

#include <string_view>

namespace sigtrove::engine {

struct ModificationLabel {
    enum class Kind { other, time_resolution, code_definition };
    Kind kind = Kind::other;
    double resolution = 0;         // ticks per second, > 0 (time_resolution)
    int code = 0;                  // 0..ACMAX (code_definition)
    std::string_view mnemonic;     // never empty (code_definition)
    std::string_view description;  // possibly empty (code_definition)
};

// Interprets the text of a label (its aux bytes up to the first NUL). The views
// of the result point into TEXT.
ModificationLabel parse_modification_label(std::string_view text);

}  // namespace sigtrove::engine

#endif
