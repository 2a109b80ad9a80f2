#include "network/remote_settings.h"

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace sigtrove::engine {
namespace {

// A day: longer is no timeout at all, and would overflow the milliseconds given to libcurl.
constexpr double kLongestTimeout = 86400;

struct ChosenSettings {
    std::optional<double> timeout;
    std::optional<std::string> cache_directory;
};

// Never destroyed, as remote files may still be read by static objects while the process exits.
std::mutex &settings_lock() {
    static auto *lock = new std::mutex;
    return *lock;
}

ChosenSettings &chosen() {
    static auto *settings = new ChosenSettings;
    return *settings;
}

bool is_usable_timeout(double seconds) { return std::isfinite(seconds) && seconds > 0 && seconds <= kLongestTimeout; }

}  // namespace

RemoteSettings remote_settings() {
    ChosenSettings settings;
    {
        std::lock_guard<std::mutex> guard(settings_lock());
        settings = chosen();
    }
    RemoteSettings out;
    if (settings.timeout) {
        out.timeout_seconds = *settings.timeout;
    } else if (const char *text = std::getenv("SIGTROVE_TIMEOUT"); text && *text) {
        char *end = nullptr;
        double seconds = std::strtod(text, &end);
        if (*end != '\0' || !is_usable_timeout(seconds))
            out.error = std::string("SIGTROVE_TIMEOUT must be a number of seconds greater than 0, not '") + text + "'";
        else
            out.timeout_seconds = seconds;
    }
    if (settings.cache_directory) {
        out.cache_directory = *settings.cache_directory;
    } else if (const char *directory = std::getenv("SIGTROVE_CACHE")) {
        out.cache_directory = directory;
    }
    return out;
}

bool set_remote_timeout(std::optional<double> seconds) {
    if (seconds && !is_usable_timeout(*seconds)) return false;
    std::lock_guard<std::mutex> guard(settings_lock());
    chosen().timeout = seconds;
    return true;
}

void set_remote_cache_directory(std::optional<std::string> directory) {
    std::lock_guard<std::mutex> guard(settings_lock());
    chosen().cache_directory = std::move(directory);
}

void reset_remote_settings() {
    std::lock_guard<std::mutex> guard(settings_lock());
    chosen() = ChosenSettings{};
}

}  // namespace sigtrove::engine
