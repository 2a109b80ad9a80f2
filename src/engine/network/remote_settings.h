// How remote files are fetched: the timeout and the cache directory. Each comes
// from a setting made by the program when it made one, else from the environment
// (SIGTROVE_TIMEOUT, SIGTROVE_CACHE) as it is when a file is opened.
#ifndef SIGTROVE_ENGINE_REMOTE_SETTINGS_H
#define SIGTROVE_ENGINE_REMOTE_SETTINGS_H

#include <optional>
#include <string>

namespace sigtrove::engine {

inline constexpr double kDefaultTimeoutSeconds = 30;

struct RemoteSettings {
    // Seconds a connection may take to be made, and an answer's head to come;
    // the stretch over which a body must bring the rate floor (TransferRate).
    double timeout_seconds = kDefaultTimeoutSeconds;
    std::string cache_directory;  // "" for no cache
    // Why the settings can not be used (a malformed SIGTROVE_TIMEOUT), "" when they can.
    std::string error;
};

// The settings in force now.
RemoteSettings remote_settings();

// Sets the timeout (seconds > 0) or, with nullopt, goes back to SIGTROVE_TIMEOUT
// and its default. False for a value that is not a positive finite number.
bool set_remote_timeout(std::optional<double> seconds);
// Sets the cache directory ("" for none) or, with nullopt, goes back to SIGTROVE_CACHE.
void set_remote_cache_directory(std::optional<std::string> directory);

// Forgets the settings made by the program. For tests.
void reset_remote_settings();

}  // namespace sigtrove::engine

#endif
