// The pieces of a URL that the engine needs: whether a name is one, its
// directory, and its host and path for naming a cache entry.
#ifndef SIGTROVE_ENGINE_URL_TEXT_H
#define SIGTROVE_ENGINE_URL_TEXT_H

#include <optional>
#include <string>
#include <string_view>

namespace sigtrove::engine {

// True for an http:// or https:// URL: names the engine reads from a web server.
bool is_http_url(std::string_view name);

// The URL of the directory holding a file's URL: everything before its last
// '/' after the host ("http://h/db/100.hea" gives "http://h/db").
std::string url_directory(std::string_view url);

// A relative file path that names the URL in a cache directory: the host (with
// "_PORT" for a port) and the path's segments ("http://h:8080/db/100.dat" gives
// "h_8080/db/100.dat"). None for a URL with a query, a fragment, user
// information, or path segments that could climb out of the directory.
std::optional<std::string> url_cache_path(std::string_view url);

}  // namespace sigtrove::engine

#endif
