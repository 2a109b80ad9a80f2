// Where the files of one open record are looked up: the database path as it
// stood when the record's header was found, every relative prefix anchored at
// the working directory of that moment. Signal files and segment headers found
// later through it are the same files whatever the working directory is by then,
// and looking them up changes nothing process-wide.
#ifndef SIGTROVE_ENGINE_SEARCH_LOCATION_H
#define SIGTROVE_ENGINE_SEARCH_LOCATION_H

#include <string>
#include <vector>

#include "paths/database_path.h"
#include "paths/found_file.h"

namespace sigtrove::engine {

class SearchLocation {
public:
    SearchLocation() = default;

    // The database path now (learned directories included), anchored at the
    // working directory now; %r stands for RECORD until another record is looked up.
    static SearchLocation capture(const std::string &record);
    // The database path `path` (see database_path_of), every relative prefix
    // anchored at the absolute directory `base`; %r stands for RECORD. What a
    // record named from a directory of its own is looked up along: nothing
    // process-wide is read or changed, whatever the working directory is.
    static SearchLocation at(std::vector<PathComponent> path, std::string base, const std::string &record);
    // The location of a record whose header was found on a web server: every
    // other file of the record is looked up in the header's directory there, and
    // nowhere else, so a remote record is never mixed with local files. A name
    // that leads out of that directory (a URL of another server or directory, a
    // path that climbs) is refused: the lookup fails with a text naming it.
    static SearchLocation remote(const std::string &directory_url, const std::string &record);
    // The location of a record in one local folder (absolute, or anchored at the
    // working directory now): its files are looked up there and nowhere else.
    static SearchLocation folder(const std::string &directory, const std::string &record);

    // As open_record_file and open_signal_file of path_search.h, along this
    // location; directories learned are learned here only.
    FoundFile open_record_file(const std::string &record, const std::string &type);
    FoundFile open_signal_file(const std::string &fname);

    // The URL a remote record's file RECORD.TYPE is fetched from first (a record
    // named by its URL is fetched from there along any location); "" for a local
    // record, and for a name refused outside the record's directory.
    std::string remote_record_file(const std::string &record, const std::string &type) const;
    // The URL a remote record's signal file FNAME (as its header names it) is
    // fetched from first; "" as for remote_record_file.
    std::string remote_signal_file(const std::string &fname) const;

    // The absolute working directory the relative prefixes stand on ("" if it was unknown).
    const std::string &base() const { return base_; }
    // An absolute form of a path found through this location.
    std::string absolute(const std::string &found) const;

private:
    // A failed lookup when `name` would lead a remote record out of its own directory; empty otherwise.
    FoundFile refused_outside_directory(const std::string &name) const;

    std::vector<PathComponent> path_;
    std::string remote_directory_;  // a remote record's directory URL, "" for a local one
    std::string base_;
    std::string record_name_;  // what %r stands for
};

}  // namespace sigtrove::engine

#endif
