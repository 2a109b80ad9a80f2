#include "paths/database_path_choice.h"

#include <mutex>

namespace sigtrove::engine {
namespace {

// Never destroyed, as records may still be opened by static objects while the process exits.
std::mutex &choice_lock() {
    static auto *lock = new std::mutex;
    return *lock;
}

std::optional<std::string> &choice() {
    static auto *chosen = new std::optional<std::string>;
    return *chosen;
}

}  // namespace

std::optional<std::string> chosen_database_path() {
    std::lock_guard<std::mutex> guard(choice_lock());
    return choice();
}

void choose_database_path(std::optional<std::string> setting) {
    std::lock_guard<std::mutex> guard(choice_lock());
    choice() = std::move(setting);
}

}  // namespace sigtrove::engine
