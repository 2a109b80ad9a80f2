#include "signals/signal_file_set.h"

#include <sys/stat.h>

#include "paths/path_search.h"
#include "paths/search_location.h"

namespace sigtrove::engine {

std::shared_ptr<SignalFileHandle> SignalFileSet::find(const std::string &fname, FoundFile &found) {
    found = FoundFile{};
    if (auto known = by_name_.find(fname); known != by_name_.end()) return known->second;
    std::shared_ptr<SignalFileHandle> handle;
    found = location_.open_signal_file(fname);
    if (!found) {
        // Nothing to keep: the failure is reported by the caller.
    } else if (is_url(found.path)) {
        // A file on a web server is read through the source its lookup opened.
        handle = std::make_shared<SignalFileHandle>(std::move(found.source));
    } else {
        // The lookup opened the file to see that it is readable; that handle is
        // closed at once, and the file opened again when reading reaches it.
        found.source.reset();
        std::string path = location_.absolute(found.path);
        struct stat info{};
        if (::stat(path.c_str(), &info) == 0) {
            std::shared_ptr<SignalFileHandle> &shared = by_identity_[{info.st_dev, info.st_ino}];
            if (!shared) shared = std::make_shared<SignalFileHandle>(path);
            handle = shared;
        }
    }
    if (found.failure.empty()) by_name_.emplace(fname, handle);
    return handle;
}

}  // namespace sigtrove::engine
