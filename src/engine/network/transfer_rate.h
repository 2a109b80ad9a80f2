// The slowest a server may send: a transfer that, while it is waited for,
// brings fewer than kRateFloorBytesPerSecond bytes a second over a stretch as
// long as the timeout fails. Silence is the extreme case, and a server that
// trickles a byte or two a second, which resets any timeout of silence, is held
// to the same bound. Only time spent waiting counts: a reader that takes its
// time between reads never makes its transfer look slow.
#ifndef SIGTROVE_ENGINE_TRANSFER_RATE_H
#define SIGTROVE_ENGINE_TRANSFER_RATE_H

#include <deque>
#include <string>
#include <utility>

namespace sigtrove::engine {

// As libcurl's low-speed limit is used: a rate no working connection falls below for long.
inline constexpr long long kRateFloorBytesPerSecond = 1024;

class TransferRate {
public:
    // Over a stretch of `window_seconds` (the timeout) of waiting, at least
    // `floor` bytes a second must arrive.
    explicit TransferRate(double window_seconds, long long floor = kRateFloorBytesPerSecond)
        : window_(window_seconds), floor_(floor) {}

    // `seconds` more were spent waiting, and `bytes` arrived in them.
    void waited(double seconds, long long bytes);
    // The transfer has been waited for a whole window, and the last window of
    // that waiting brought fewer bytes than the floor asks.
    bool too_slow() const;
    // Seconds of waiting with nothing arriving before too_slow() holds.
    double patience() const;
    // Why the transfer failed, once too_slow(): silence, or too few bytes.
    std::string failure() const;

private:
    long long in_window() const;
    void forget_old();

    double window_;
    long long floor_;
    double clock_ = 0;  // seconds spent waiting so far
    // When (on that clock) bytes arrived and how many, for the last window.
    std::deque<std::pair<double, long long>> arrivals_;
};

}  // namespace sigtrove::engine

#endif
