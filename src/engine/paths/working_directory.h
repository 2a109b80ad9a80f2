// The working directory a record was opened in, entered again for a moment.
// Segments of a multi-segment record are opened when reading reaches them,
// possibly after the caller has changed directory (the Python module enters a
// record's directory only while opening it); their headers and signal files
// must still be looked up from where the record was opened, as the database
// path's relative components meant then.
#ifndef SIGTROVE_ENGINE_WORKING_DIRECTORY_H
#define SIGTROVE_ENGINE_WORKING_DIRECTORY_H

#include <string>

namespace sigtrove::engine {

// The current working directory, or "" when it can not be determined.
std::string current_working_directory();

// Enters `directory` (unless it is "" or already current) and returns to the
// previous working directory when it goes.
class WorkingDirectoryVisit {
public:
    explicit WorkingDirectoryVisit(const std::string &directory);
    ~WorkingDirectoryVisit();
    WorkingDirectoryVisit(const WorkingDirectoryVisit &) = delete;
    WorkingDirectoryVisit &operator=(const WorkingDirectoryVisit &) = delete;

    // False when the directory could not be entered.
    bool entered() const { return entered_; }

private:
    std::string previous_;  // "" when nothing was changed
    bool entered_ = true;
};

}  // namespace sigtrove::engine

#endif
