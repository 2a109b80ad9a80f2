// The pieces of a URL that the engine needs: whether a name is one, its
// directory and origin (whether a file lies in a record's own directory on its
// own server), and its host and path for naming a cache entry.
#ifndef SIGTROVE_ENGINE_URL_TEXT_H
#define SIGTROVE_ENGINE_URL_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace sigtrove::engine {

// True for an http:// or https:// URL (the scheme in any case): names the engine
// reads from a web server.
bool is_http_url(std::string_view name);

// The URL of the directory holding a file's URL: everything before its last
// '/' after the host ("http://h/db/100.hea" gives "http://h/db").
std::string url_directory(std::string_view url);

// Where an http(s) URL's files come from: its scheme, host and port, each
// lower-cased, the port made explicit ("http://Host/x" is http, host, 80). The
// user information ("user:password@") is no part of it.
struct UrlOrigin {
    std::string scheme, host;
    int port = 0;
    bool operator==(const UrlOrigin &other) const {
        return scheme == other.scheme && host == other.host && port == other.port;
    }
};

// The origin of an http:// or https:// URL (of an s3:// or physionet:// name: its
// bucket or database, port 0); none for anything else, or a URL
// whose authority can not be read (an empty host, a port that is no number).
std::optional<UrlOrigin> url_origin(std::string_view url);

// True when `url` names a file in the directory `directory_url` or below it, on
// the same origin: its path begins with the directory's, and what follows has no
// step that could climb out ("..", ".", encoded dots or slashes, a backslash)
// and no query or fragment that would name something else.
bool url_within_directory(std::string_view url, std::string_view directory_url);

// Whether a redirect from `from_url` to `to_url` is followed: only to the same
// host, by the same scheme and port or from http to https (on any port). A
// record's files stay on its own server, and a connection made secure stays so.
bool redirect_allowed(std::string_view from_url, std::string_view to_url);

// `text` as it may be shown: printable ASCII kept, every other byte as "\xHH",
// and at most `limit` bytes of it (then "..."). For what a server sends.
std::string printable_text(std::string_view text, std::size_t limit = 200);

// A relative file path that names the URL in a cache directory: the host (with
// "_PORT" for a port) and the path's segments ("http://h:8080/db/100.dat" gives
// "h_8080/db/100.dat"). None for a URL with a query, a fragment, user
// information, or path segments that could climb out of the directory.
std::optional<std::string> url_cache_path(std::string_view url);

}  // namespace sigtrove::engine

#endif
