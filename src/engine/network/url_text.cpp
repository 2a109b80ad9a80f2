#include "network/url_text.h"

#include <vector>

namespace sigtrove::engine {
namespace {

// Where the path of an http(s) URL begins: the first '/' after "scheme://" (npos for none).
std::size_t path_start(std::string_view url) {
    std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return std::string_view::npos;
    return url.find('/', scheme + 3);
}

// Characters kept as they are in a cache path; any other becomes '_'.
bool is_plain(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
           c == '_' || c == '+' || c == '~' || c == '%' || c == '=' || c == ',' || c == '@';
}

}  // namespace

bool is_http_url(std::string_view name) { return name.rfind("http://", 0) == 0 || name.rfind("https://", 0) == 0; }

std::string url_directory(std::string_view url) {
    std::size_t start = path_start(url);
    if (start == std::string_view::npos) return std::string(url);
    std::size_t last = url.find_last_of('/');
    return std::string(url.substr(0, last > start ? last : start));
}

std::optional<std::string> url_cache_path(std::string_view url) {
    if (!is_http_url(url) || url.find_first_of("?#") != std::string_view::npos) return std::nullopt;
    std::size_t host_begin = url.find("://") + 3;
    std::size_t start = path_start(url);
    if (start == std::string_view::npos) return std::nullopt;
    std::string_view authority = url.substr(host_begin, start - host_begin);
    if (authority.empty() || authority.find('@') != std::string_view::npos) return std::nullopt;
    std::string out;
    for (char c : authority) out += c == ':' ? '_' : (is_plain(c) ? c : '_');
    std::size_t p = start;
    bool any_segment = false;
    while (p < url.size()) {
        std::size_t next = url.find('/', p + 1);
        std::string_view segment = url.substr(p + 1, (next == std::string_view::npos ? url.size() : next) - p - 1);
        p = next == std::string_view::npos ? url.size() : next;
        if (segment.empty()) continue;
        if (segment == "." || segment == "..") return std::nullopt;
        out += '/';
        for (char c : segment) out += is_plain(c) ? c : '_';
        any_segment = true;
    }
    // A URL naming a directory ("http://h/db/") names no file.
    if (!any_segment || url.back() == '/') return std::nullopt;
    return out;
}

}  // namespace sigtrove::engine
