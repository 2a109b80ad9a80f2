// The signal files a record's groups are stored in, looked up once each: groups
// that name one file (by any name) share one handle, so a record holds at most
// one open file per distinct signal file, and none until it reads.
#ifndef SIGTROVE_ENGINE_SIGNAL_FILE_SET_H
#define SIGTROVE_ENGINE_SIGNAL_FILE_SET_H

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <utility>

#include "io/signal_file_handle.h"
#include "paths/found_file.h"

namespace sigtrove::engine {

class SearchLocation;

class SignalFileSet {
public:
    explicit SignalFileSet(SearchLocation &location) : location_(location) {}

    // The handle of the file a header names, looked up along the location (the
    // file must exist and be readable now); null when it can not be found, and
    // then `found` says why when the file may be there but could not be fetched
    // from its web server, or is no regular file (see FoundFile::failure).
    std::shared_ptr<SignalFileHandle> find(const std::string &fname, FoundFile &found);

private:
    SearchLocation &location_;
    std::map<std::string, std::shared_ptr<SignalFileHandle>> by_name_;
    std::map<std::pair<dev_t, ino_t>, std::shared_ptr<SignalFileHandle>> by_identity_;
};

}  // namespace sigtrove::engine

#endif
