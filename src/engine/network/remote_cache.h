// The cache directory: what was fetched of a remote file, kept between reads and
// between processes. A file fetched whole lies there under its own name (the
// cache of a database is a local copy of it); one fetched in part is kept in a
// sparse ".partial" file beside a record of the blocks it holds. Each entry
// remembers the version it holds (size, ETag, Last-Modified), so that a change
// on the server is noticed and never mixed with the old bytes.
//
// The cache directory may be shared, and what lies in it is not trusted: below
// the directory itself no symbolic link is followed (each folder is opened from
// the one above it, each file without following a link), and every file is
// written under an unpredictable temporary name before it takes its own.
#ifndef SIGTROVE_ENGINE_REMOTE_CACHE_H
#define SIGTROVE_ENGINE_REMOTE_CACHE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "network/block_runs.h"

namespace sigtrove::engine {

// Blocks are the unit of fetching and of caching.
inline constexpr std::size_t kRemoteBlockSize = 64 * 1024;

// Which version of a file the server has: what its validators say.
struct RemoteVersion {
    long long size = -1;
    std::string etag;
    std::string last_modified;

    // The same version: the same size and, where the server gives them, the same validators.
    bool same_as(const RemoteVersion &other) const;
};

class CacheEntry {
public:
    // The entry of `url` under `directory`; null when the URL can not name an
    // entry or the directory can not be used.
    static std::unique_ptr<CacheEntry> open(const std::string &directory, const std::string &url);
    ~CacheEntry();
    CacheEntry(const CacheEntry &) = delete;
    CacheEntry &operator=(const CacheEntry &) = delete;

    // True when the entry holds a version of the file (perhaps none of its blocks yet).
    bool known() const { return known_; }
    const RemoteVersion &version() const { return version_; }
    // Makes `version` the one held; another version's blocks are dropped.
    void adopt(const RemoteVersion &version);

    bool has_block(long long index) const;
    // Copies block `index` (the last block may be short) into `dest`, which has
    // room for `length` bytes, the block's length. False when it can not.
    bool read_block(long long index, std::uint8_t *dest, std::size_t length);
    // Keeps block `index`. A block that can not be written is simply fetched again another time.
    void store_block(long long index, const std::uint8_t *data, std::size_t length);
    // Records which blocks are held (also done when the entry is closed).
    // `replacing`: this record replaces whatever another reader recorded.
    void save(bool replacing = false);

private:
    CacheEntry(std::string url, int directory, std::string name)
        : url_(std::move(url)), directory_(directory), name_(std::move(name)) {}
    void load();
    bool open_data(bool create);
    void close_data();
    long long block_count() const;

    std::string url_;
    int directory_;     // the folder the file lies in, open
    std::string name_;  // the file's own name in that folder
    bool known_ = false;
    RemoteVersion version_;
    BlockRuns held_;
    bool whole_ = false;  // every block is held and the data file has its own name
    int data_fd_ = -1;
    bool dirty_ = false;  // blocks stored since the last save
};

}  // namespace sigtrove::engine

#endif
