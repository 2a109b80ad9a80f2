// A database path chosen by the program instead of the WFDB environment
// variable: a command line that adds its own folder of records to the path
// says so here, so that nothing writes the environment (which reads made
// without the interpreter lock, on other threads, may be looking at).
#ifndef SIGTROVE_ENGINE_DATABASE_PATH_CHOICE_H
#define SIGTROVE_ENGINE_DATABASE_PATH_CHOICE_H

#include <optional>
#include <string>

namespace sigtrove::engine {

// The path chosen, as a WFDB value; none when WFDB (or its default) is in force.
std::optional<std::string> chosen_database_path();

// Chooses the path that records opened from now on are looked up along (a WFDB
// value: components, @file indirection), or with nullopt goes back to WFDB.
void choose_database_path(std::optional<std::string> setting);

}  // namespace sigtrove::engine

#endif
