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
    // The location of a record whose header was found on a web server: every
    // other file of the record is looked up in the header's directory there, and
    // nowhere else, so a remote record is never mixed with local files.
    static SearchLocation remote(const std::string &directory_url, const std::string &record);
    // The location of a record in one local folder (absolute, or anchored at the
    // working directory now): its files are looked up there and nowhere else.
    static SearchLocation folder(const std::string &directory, const std::string &record);

    // As open_record_file and open_signal_file of path_search.h, along this
    // location; directories learned are learned here only.
    FoundFile open_record_file(const std::string &record, const std::string &type);
    FoundFile open_signal_file(const std::string &fname);

    // The absolute working directory the relative prefixes stand on ("" if it was unknown).
    const std::string &base() const { return base_; }
    // An absolute form of a path found through this location.
    std::string absolute(const std::string &found) const;

private:
    std::vector<PathComponent> path_;
    std::string base_;
    std::string record_name_;  // what %r stands for
};

}  // namespace sigtrove::engine

#endif
