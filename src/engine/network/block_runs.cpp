#include "network/block_runs.h"

#include <algorithm>
#include <iterator>

namespace sigtrove::engine {

bool BlockRuns::has(long long block) const {
    auto after = runs_.upper_bound(block);
    if (after == runs_.begin()) return false;
    return std::prev(after)->second >= block;
}

void BlockRuns::add(long long block) { add_run(block, block); }

void BlockRuns::add_run(long long first, long long last) {
    if (first < 0) first = 0;
    if (last >= count_) last = count_ - 1;
    if (last < first) return;
    // Every run that overlaps or touches [first, last] is joined into it.
    auto it = runs_.upper_bound(first);
    if (it != runs_.begin() && std::prev(it)->second + 1 >= first) --it;
    while (it != runs_.end() && it->first <= last + 1) {
        first = std::min(first, it->first);
        last = std::max(last, it->second);
        it = runs_.erase(it);
    }
    runs_[first] = last;
}

void BlockRuns::add_all(const BlockRuns &other) {
    for (const auto &[first, last] : other.runs_) add_run(first, last);
}

bool BlockRuns::complete() const {
    if (count_ == 0) return true;
    return runs_.size() == 1 && runs_.begin()->first == 0 && runs_.begin()->second == count_ - 1;
}

std::string BlockRuns::text() const {
    std::string text;
    for (const auto &[first, last] : runs_) {
        if (!text.empty()) text += ',';
        text += std::to_string(first);
        if (last > first) {
            text += '-';
            text += std::to_string(last);
        }
    }
    return text;
}

namespace {

// A block number filling [begin, end); -1 when it is not one.
long long block_number(const char *begin, const char *end) {
    if (begin == end || end - begin > 18) return -1;
    long long value = 0;
    for (const char *c = begin; c != end; ++c) {
        if (*c < '0' || *c > '9') return -1;
        value = value * 10 + (*c - '0');
    }
    return value;
}

}  // namespace

bool BlockRuns::parse(const std::string &text) {
    runs_.clear();
    const char *p = text.c_str(), *end = p + text.size();
    long long previous_last = -2;
    while (p < end) {
        const char *comma = p;
        while (comma < end && *comma != ',') ++comma;
        const char *dash = p;
        while (dash < comma && *dash != '-') ++dash;
        long long first = block_number(p, dash);
        long long last = dash == comma ? first : block_number(dash + 1, comma);
        // Runs come in order, apart, inside the file.
        if (first < 0 || last < first || last >= count_ || first <= previous_last + 1) {
            runs_.clear();
            return false;
        }
        runs_[first] = last;
        previous_last = last;
        p = comma + 1;
    }
    return true;
}

}  // namespace sigtrove::engine
