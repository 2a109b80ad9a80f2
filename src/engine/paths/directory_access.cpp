#include "paths/directory_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace sigtrove::engine {

int directory_access_error(const std::string &path) {
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0) return errno;
    if (!S_ISDIR(info.st_mode)) return ENOTDIR;
    // Searching is what changing into a directory needs, by the effective identity as chdir checks.
    if (::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) != 0) return errno;
    return 0;
}

}  // namespace sigtrove::engine
