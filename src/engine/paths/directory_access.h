// Whether a directory can be searched: what a record's directory must allow
// for its files to be found from it, as changing into it would demand.
#ifndef SIGTROVE_ENGINE_DIRECTORY_ACCESS_H
#define SIGTROVE_ENGINE_DIRECTORY_ACCESS_H

#include <string>

namespace sigtrove::engine {

// 0 when PATH names a directory this process may search; else the error number
// that changing the working directory into it gives (ENOENT, ENOTDIR, EACCES,
// ELOOP, ENAMETOOLONG). Changes nothing.
int directory_access_error(const std::string &path);

}  // namespace sigtrove::engine

#endif
