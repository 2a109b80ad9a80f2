#include "texts/shown_field.h"

namespace sigtrove::engine {

std::string shown_field(std::string_view field) {
    if (field.size() <= kShownFieldLength) return std::string(field);
    return std::string(field.substr(0, kShownFieldLength)) + "... (" + std::to_string(field.size()) + " characters)";
}

}  // namespace sigtrove::engine
