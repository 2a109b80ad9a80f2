// A field taken from a file, as an error text quotes it: the whole field when it
// is short, else its beginning and how long it is. A header may hold a field of
// any length; the text that names it stays a line.
#ifndef SIGTROVE_ENGINE_SHOWN_FIELD_H
#define SIGTROVE_ENGINE_SHOWN_FIELD_H

#include <cstddef>
#include <string>
#include <string_view>

namespace sigtrove::engine {

// The most of a field a text quotes.
constexpr std::size_t kShownFieldLength = 80;

// "abc" for a short field; "abcd... (104857600 characters)" for a longer one.
std::string shown_field(std::string_view field);

}  // namespace sigtrove::engine

#endif
