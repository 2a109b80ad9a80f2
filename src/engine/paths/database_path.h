// The database path: the list of prefixes that input files are searched along,
// read once from the WFDB environment variable and extended by the directories
// in which files are found.
#ifndef SIGTROVE_ENGINE_DATABASE_PATH_H
#define SIGTROVE_ENGINE_DATABASE_PATH_H

#include <string>
#include <string_view>
#include <vector>

namespace sigtrove::engine {

// Used when WFDB is unset: the current directory first, then the usual install location.
inline constexpr const char *kDefaultDatabasePath = ". /usr/local/database";

struct PathComponent {
    std::string text;      // as written in WFDB, or a learned directory
    bool learned = false;  // learned directories are taken literally, with no % substitution
};

// A copy of the path in use, never empty (an empty value is one empty component:
// names as given). The first call reads WFDB (following @file indirection) and
// writes the path back into the environment; see database_path.cpp. Safe from
// any thread: the path's state is guarded.
std::vector<PathComponent> database_path();

// The database path an engine object searches along: the WFDB value given (see
// database_path_setting), following @file indirection, split into its
// components. Nothing is learned into it or written into the environment, and
// no process-wide state is read or changed; a failure to follow an @file is
// recorded (and leaves one empty component, as an empty WFDB does).
std::vector<PathComponent> database_path_of(const std::string &setting);

// The path the program chose (see database_path_choice.h), else the value of the
// WFDB environment variable, or kDefaultDatabasePath when it is unset.
std::string database_path_setting();

// Splits a WFDB value into its components (spaces, tabs, line breaks, ';' and ':'
// separate; a ':' that belongs to a URL does not).
std::vector<std::string> split_database_path(std::string_view value);

// The prefix a component puts before a file name: %r substituted by `record_name`
// (see path_record_name), and a '/' appended unless it is empty or already ends in one.
std::string component_prefix(const PathComponent &component, std::string_view record_name);
// The same with the record name of the last record looked up along the database path.
std::string component_prefix(const PathComponent &component);

// The name that %r stands for when looking up RECORD: its last component, at most
// 50 characters.
std::string path_record_name(std::string_view record);

// Makes RECORD (see path_record_name) what %r stands for in the database path.
void set_path_record_name(std::string_view record);
// What %r stands for in the database path now.
std::string current_path_record_name();

// Moves (or inserts) the directory of a file just found to the head of `path`,
// or to second place behind a leading ".", so the rest of the record is found there too.
void learn_directory(std::vector<PathComponent> &path, const std::string &found_file);

// learn_directory on the database path.
void learn_directory_of(const std::string &found_file);

// Forgets the path, the learned directories and the record name, so that the next
// lookup reads WFDB again. For tests.
void reset_database_path();

}  // namespace sigtrove::engine

#endif
