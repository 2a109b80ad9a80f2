#include "network/url_text.h"

#include <algorithm>
#include <cctype>
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

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// The path of an http(s) URL ("/" for none), without its query or fragment.
std::string_view url_path(std::string_view url) {
    std::size_t start = path_start(url);
    if (start == std::string_view::npos) return "/";
    std::string_view path = url.substr(start);
    return path.substr(0, path.find_first_of("?#"));
}

// A path step that could lead out of the directory it is in, once a server decodes it.
bool is_climbing_step(std::string_view step) {
    std::string decoded;
    for (std::size_t i = 0; i < step.size(); ++i) {
        if (step[i] == '%' && i + 2 < step.size()) {
            const char a = lower(step[i + 1]), b = lower(step[i + 2]);
            if (a == '2' && b == 'e') {
                decoded += '.';
                i += 2;
                continue;
            }
            // An encoded slash or backslash would split the step where the server decodes it.
            if ((a == '2' && b == 'f') || (a == '5' && b == 'c')) return true;
        }
        decoded += step[i];
    }
    return decoded.empty() || decoded == "." || decoded == "..";
}

}  // namespace

std::optional<UrlOrigin> url_origin(std::string_view url) {
    UrlOrigin origin;
    std::size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos) return std::nullopt;
    std::string_view scheme = url.substr(0, scheme_end);
    if (equals_ignoring_case(scheme, "http")) {
        origin.scheme = "http";
        origin.port = 80;
    } else if (equals_ignoring_case(scheme, "https")) {
        origin.scheme = "https";
        origin.port = 443;
    } else if (equals_ignoring_case(scheme, "s3") || equals_ignoring_case(scheme, "physionet")) {
        // A bucket, or a PhysioNet database: the authority names where the files are, with no port.
        origin.scheme = equals_ignoring_case(scheme, "s3") ? "s3" : "physionet";
        std::string_view authority = url.substr(scheme_end + 3);
        authority = authority.substr(0, authority.find_first_of("/?#"));
        if (authority.empty() || authority.find_first_of("@:") != std::string_view::npos) return std::nullopt;
        for (char c : authority) origin.host += lower(c);
        return origin;
    } else {
        return std::nullopt;
    }
    std::string_view authority = url.substr(scheme_end + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    std::string_view host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(0, close + 1);
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return std::nullopt;
            port = rest.substr(1);
        }
    } else if (std::size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    if (host.empty()) return std::nullopt;
    for (char c : host) origin.host += lower(c);
    if (!port.empty()) {
        if (port.size() > 5) return std::nullopt;
        int value = 0;
        for (char c : port) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + (c - '0');
        }
        if (value <= 0 || value > 65535) return std::nullopt;
        origin.port = value;
    }
    return origin;
}

bool url_within_directory(std::string_view url, std::string_view directory_url) {
    std::optional<UrlOrigin> file = url_origin(url), directory = url_origin(directory_url);
    if (!file || !directory || !(*file == *directory)) return false;
    if (url.find_first_of("?#\\") != std::string_view::npos) return false;
    std::string_view directory_path = url_path(directory_url), path = url_path(url);
    while (!directory_path.empty() && directory_path.back() == '/') directory_path.remove_suffix(1);
    if (path.size() <= directory_path.size() + 1 || path.compare(0, directory_path.size(), directory_path) != 0 ||
        path[directory_path.size()] != '/')
        return false;
    std::string_view rest = path.substr(directory_path.size() + 1);
    for (std::size_t begin = 0;;) {
        std::size_t end = rest.find('/', begin);
        if (is_climbing_step(rest.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin)))
            return false;
        if (end == std::string_view::npos) return true;
        begin = end + 1;
    }
}

bool redirect_allowed(std::string_view from_url, std::string_view to_url) {
    std::optional<UrlOrigin> from = url_origin(from_url), to = url_origin(to_url);
    if (!from || !to || from->host != to->host) return false;
    if (from->scheme == to->scheme) return from->port == to->port;
    return from->scheme == "http" && to->scheme == "https";
}

std::string printable_text(std::string_view text, std::size_t limit) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (out.size() >= limit) {
            out += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

bool is_http_url(std::string_view name) {
    // A scheme is case-insensitive: "HTTPS://" names the same server as "https://".
    auto starts = [name](std::string_view scheme) {
        return name.size() >= scheme.size() &&
               std::equal(scheme.begin(), scheme.end(), name.begin(),
                          [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    };
    return starts("http://") || starts("https://");
}

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
