// Which blocks of a remote file the cache holds, as runs of consecutive blocks
// ("0-4,7,9-12"). Its size follows what was fetched, never the size a server
// claims: a file said to be 10^14 bytes long costs nothing until blocks of it
// are held, and a read of its first block costs one run.
#ifndef SIGTROVE_ENGINE_BLOCK_RUNS_H
#define SIGTROVE_ENGINE_BLOCK_RUNS_H

#include <map>
#include <string>

namespace sigtrove::engine {

class BlockRuns {
public:
    // Blocks [0, count) may be held.
    explicit BlockRuns(long long count = 0) : count_(count < 0 ? 0 : count) {}

    long long count() const { return count_; }
    bool has(long long block) const;
    // Adds a block, or the blocks first..last, of those in [0, count); others are ignored.
    void add(long long block);
    void add_run(long long first, long long last);
    // Adds every block another record of the same file holds.
    void add_all(const BlockRuns &other);
    void clear() { runs_.clear(); }
    // Every block of [0, count) is held (an empty file counts as whole).
    bool complete() const;

    // "0-4,7,9-12", "" for none.
    std::string text() const;
    // The runs `text` names, in [0, count); false (and nothing held) for a text that is not one.
    bool parse(const std::string &text);

private:
    long long count_;
    std::map<long long, long long> runs_;  // first block -> last block, disjoint and not touching
};

}  // namespace sigtrove::engine

#endif
