// Annotation code tables: each code's mnemonic and description. Every process
// starts from the same table; an annotation file may define codes of its own.
#ifndef SIGTROVE_ENGINE_ANNOTATION_CODES_H
#define SIGTROVE_ENGINE_ANNOTATION_CODES_H

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "wfdb/ecgcodes.h"

namespace sigtrove::engine {

class AnnotationCodeTable {
public:
    // The table every process starts with; codes without a meaning of their own
    // carry a bracketed mnemonic and no description.
    AnnotationCodeTable();

    // Replaces the mnemonic and description of CODE (0..ACMAX), as a code
    // definition inside an annotation file does. One trailing line break of the
    // description is dropped: it belongs to the file's text layout, not to the
    // description. Codes outside 0..ACMAX are ignored. Throws std::bad_alloc and
    // then leaves the table unchanged.
    void define(int code, std::string_view mnemonic, std::string_view description);

    // The mnemonic of any code ("[N]" outside the table).
    std::string mnemonic(int code) const;
    // The description; null for a code without one, "illegal annotation code" outside the table.
    const char *description(int code) const;
    // The code of a mnemonic among codes 1..ACMAX, 0 (NOTQRS) when none has it.
    int code_of(std::string_view mnemonic) const;

    // The stored texts themselves, for the C interface, which hands out pointers
    // to them (CODE within 0..ACMAX).
    char *mnemonic_data(int code);
    char *description_data(int code);

private:
    struct Entry {
        std::string mnemonic;
        std::optional<std::string> description;  // none: anndesc gives a null pointer
    };
    std::array<Entry, ACMAX + 1> entries_;
};

// The table of the process: what annstr, strann and anndesc read, and what
// annopen applies an annotation file's definitions to.
AnnotationCodeTable &process_code_table();

// process_code_table().define(...).
void define_annotation_code(int code, std::string_view mnemonic, std::string_view description);

// The process's table back to the initial one. For tests.
void reset_annotation_codes();

}  // namespace sigtrove::engine

#endif
