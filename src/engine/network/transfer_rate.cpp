#include "network/transfer_rate.h"

#include <algorithm>
#include <cstdio>

namespace sigtrove::engine {
namespace {

// Arrivals this close together (in seconds of waiting) are kept as one, so that
// a fast transfer keeps a few dozen of them, not one per packet.
constexpr double kResolution = 0.1;

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    return text;
}

}  // namespace

void TransferRate::waited(double seconds, long long bytes) {
    clock_ += std::max(0.0, seconds);
    if (bytes > 0) {
        if (!arrivals_.empty() && clock_ - arrivals_.back().first < kResolution)
            arrivals_.back().second += bytes;
        else
            arrivals_.emplace_back(clock_, bytes);
    }
    forget_old();
}

void TransferRate::forget_old() {
    while (!arrivals_.empty() && arrivals_.front().first <= clock_ - window_) arrivals_.pop_front();
}

long long TransferRate::in_window() const {
    long long bytes = 0;
    for (const auto &arrival : arrivals_) bytes += arrival.second;
    return bytes;
}

bool TransferRate::too_slow() const {
    return clock_ >= window_ && static_cast<double>(in_window()) < static_cast<double>(floor_) * window_;
}

double TransferRate::patience() const {
    // With nothing more arriving, arrivals leave the window one by one; the rule
    // fails once what stays in it falls below the floor, and not before a whole window.
    const double needed = static_cast<double>(floor_) * window_;
    double remaining = static_cast<double>(in_window());
    double fails_at = std::max(clock_, window_);
    if (remaining >= needed) {
        for (const auto &arrival : arrivals_) {
            remaining -= static_cast<double>(arrival.second);
            if (remaining < needed) {
                fails_at = std::max(arrival.first + window_, window_);
                break;
            }
        }
    }
    return std::max(0.0, fails_at - clock_);
}

std::string TransferRate::failure() const {
    if (in_window() == 0) return "timed out: nothing arrived for " + seconds_text(window_) + " s";
    return "too slow: fewer than " + std::to_string(floor_) + " bytes a second arrived over " + seconds_text(window_) +
           " s";
}

}  // namespace sigtrove::engine
