#include "texts/hidden_credentials.h"

#include <cstring>

namespace sigtrove::engine {
namespace {

// Where a URL's authority (what follows "scheme://") ends: at its path, query or
// fragment, or at whatever ends the URL in a text.
bool ends_authority(char c) {
    return c == '/' || c == '?' || c == '#' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '"' ||
           c == '\'' || c == '\0';
}

}  // namespace

std::size_t remove_credentials(char *text, std::size_t length) noexcept {
    std::size_t at = 0;
    while (at + 3 <= length) {
        const void *found = std::memchr(text + at, ':', length - at);
        if (!found) break;
        std::size_t colon = static_cast<std::size_t>(static_cast<const char *>(found) - text);
        if (colon + 3 > length || text[colon + 1] != '/' || text[colon + 2] != '/') {
            at = colon + 1;
            continue;
        }
        const std::size_t begin = colon + 3;
        std::size_t end = begin, last_at = begin;
        bool has_user = false;
        while (end < length && !ends_authority(text[end])) {
            if (text[end] == '@') {
                has_user = true;
                last_at = end;
            }
            ++end;
        }
        if (has_user) {
            const std::size_t cut = last_at + 1 - begin;
            std::memmove(text + begin, text + last_at + 1, length - last_at - 1);
            length -= cut;
            end -= cut;
        }
        at = end;
    }
    return length;
}

std::string without_credentials(std::string_view text) {
    std::string out(text);
    out.resize(remove_credentials(out.data(), out.size()));
    return out;
}

}  // namespace sigtrove::engine
