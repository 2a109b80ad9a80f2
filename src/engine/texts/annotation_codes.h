// The process-wide annotation code tables behind annstr, strann and anndesc.
#ifndef SIGTROVE_ENGINE_ANNOTATION_CODES_H
#define SIGTROVE_ENGINE_ANNOTATION_CODES_H

#include <string_view>

namespace sigtrove::engine {

// Replaces the mnemonic and description of CODE (0..ACMAX) for the rest of the
// process, as a code definition inside an annotation file does. One trailing
// line break of the description is dropped: it belongs to the file's text
// layout, not to the description. Codes outside 0..ACMAX are ignored.
// Throws std::bad_alloc and then leaves the table unchanged.
void define_annotation_code(int code, std::string_view mnemonic, std::string_view description);

}  // namespace sigtrove::engine

#endif
