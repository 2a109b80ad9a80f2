// Record names and finding files along the database path (the WFDB environment variable).
#ifndef SIGTROVE_ENGINE_PATH_SEARCH_H
#define SIGTROVE_ENGINE_PATH_SEARCH_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "network/remote_file.h"
#include "paths/database_path.h"
#include "paths/found_file.h"

namespace sigtrove::engine {

// The engine's own copy of a record argument given to an opening call. With
// keep_open non-null (isigopen, annopen) a leading '+' is removed and reported
// there; sampfreq passes null, so '+' stays part of the name. A trailing ".hea"
// (on a name longer than 4 characters) is removed. The caller's text is never
// changed. A null name gives "".
std::string record_name_for_open(const char *name, bool *keep_open);

// The name files of a record are looked up under: a name ending in '/' gets its
// last directory repeated ("abc/123/" is "abc/123/123").
std::string record_lookup_name(const std::string &record);

// True for names the engine reads from a server (http://, https://, s3:// and physionet:// URLs).
bool is_url(std::string_view name);

// Finds RECORD.TYPE (then RECORD.TYP truncated to 3 characters) along the
// database path and opens it, learning the directory it is found in. Also makes
// RECORD the name that %r stands for in the path. Names containing ".." are
// never found. A RECORD that is a URL is opened there and nowhere else; a path
// component that is a URL is searched on its server. A remote location that can
// not be reached (or answers with an error other than "not found") ends the
// search: the result then has no source and says why in `failure`.
FoundFile open_record_file(const std::string &record, const std::string &type);
// The same, giving only the path of the file found ("" for none).
std::string find_record_file(const std::string &record, const std::string &type);

// Finds and opens a signal file named in a header (FNAME, then "FNAME.") along the path.
FoundFile open_signal_file(const std::string &fname);
std::string find_signal_file(const std::string &fname);

// The candidates a lookup tries after each prefix, in order.
std::vector<std::string> record_file_names(const std::string &lookup_name, const std::string &type);
std::vector<std::string> signal_file_names(const std::string &fname);

// Tries each name after each prefix of `path`, in path order, and opens the first
// readable regular file (remote files as `access` says). `base` (an absolute
// directory, or "") is put before every prefix that is relative, so the same
// lookup gives the same file whatever the working directory is by then. The
// directory of the file found is learned in `path` when `learn` is set.
FoundFile search_path(std::vector<PathComponent> &path, std::string_view record_name, const std::string &base,
                      const std::vector<std::string> &names, bool learn, RemoteAccess access);

// Opens the first of `names` (URLs) that the server has.
FoundFile open_url_file(const std::vector<std::string> &names, RemoteAccess access);

// The database path in use, one entry per prefix, learned directories included
// (reads WFDB on first use). For tests and diagnostics.
std::vector<std::string> database_path_components();

}  // namespace sigtrove::engine

#endif
