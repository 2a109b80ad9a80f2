#include "network/remote_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>

#include "network/remote_location.h"
#include "network/url_text.h"

namespace sigtrove::engine {
namespace {

constexpr const char *kMagic = "sigtrove cache entry 1";
// A record of an entry is a few lines and its runs of blocks; anything longer is not one of ours.
constexpr long long kLongestRecord = 16LL << 20;

std::string partial_name(const std::string &name) { return name + ".partial"; }
std::string record_name(const std::string &name) { return name + ".sigtrove-cache"; }

// Opens `name` in the folder `directory` without following a symbolic link and
// without waiting on a FIFO, as a regular file only; -1 when it can not.
int open_regular(int directory, const std::string &name, int flags) {
    int fd = ::openat(directory, name.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

// True when `name` in `directory` is a regular file (a link is not followed); its size in `size`.
bool regular_file(int directory, const std::string &name, long long *size = nullptr) {
    struct stat info{};
    if (::fstatat(directory, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) return false;
    if (size) *size = static_cast<long long>(info.st_size);
    return true;
}

// The folder `name` below the open folder `parent`, made when it is not there; -1 when it can
// not be had or is anything but a folder (a symbolic link to one included).
int open_folder(int parent, const std::string &name) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT) return fd;
        if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) return -1;
    }
    return -1;
}

// The whole of a small file, or nothing when it is not one.
std::optional<std::string> read_small_file(int directory, const std::string &name) {
    int fd = open_regular(directory, name, O_RDONLY);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[8192];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0 || static_cast<long long>(text.size()) + got > kLongestRecord) {
            ::close(fd);
            if (got == 0) return text;
            return std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

struct EntryRecord {
    std::string url;
    RemoteVersion version;
    std::string blocks;  // BlockRuns::text, or "all"
    bool ok = false;
};

EntryRecord read_record(int directory, const std::string &name) {
    EntryRecord record;
    std::optional<std::string> text = read_small_file(directory, name);
    if (!text) return record;
    long long block_size = -1;
    bool first = true;
    for (std::size_t begin = 0; begin < text->size();) {
        std::size_t end = text->find('\n', begin);
        if (end == std::string::npos) end = text->size();
        std::string line = text->substr(begin, end - begin);
        begin = end + 1;
        if (first) {
            if (line != kMagic) return record;
            first = false;
            continue;
        }
        std::size_t space = line.find(' ');
        std::string key = line.substr(0, space), value = space == std::string::npos ? "" : line.substr(space + 1);
        if (key == "url")
            record.url = value;
        else if (key == "size")
            record.version.size = std::strtoll(value.c_str(), nullptr, 10);
        else if (key == "block-size")
            block_size = std::strtoll(value.c_str(), nullptr, 10);
        else if (key == "etag")
            record.version.etag = value;
        else if (key == "last-modified")
            record.version.last_modified = value;
        else if (key == "blocks")
            record.blocks = value;
    }
    record.ok = !first && block_size == static_cast<long long>(kRemoteBlockSize) && record.version.size >= 0;
    return record;
}

// A name no other process can guess before it is made: NAME.tmp. and 16 random hex digits.
std::string temporary_name(const std::string &name) {
    static const char digits[] = "0123456789abcdef";
    std::random_device random;
    std::string out = name + ".tmp.";
    for (int i = 0; i < 4; ++i) {
        unsigned value = random();
        for (int k = 0; k < 4; ++k, value >>= 4) out += digits[value & 15];
    }
    return out;
}

// Writes `text` as `name` in `directory` under a new temporary name, then renames it: a
// reader never sees half a record, and nothing is written through a name made beforehand.
void write_atomically(int directory, const std::string &name, const std::string &text) {
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 8 && fd < 0; ++attempt) {
        temporary = temporary_name(name);
        fd = ::openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) return;
    }
    if (fd < 0) return;
    bool written = true;
    for (std::size_t done = 0; done < text.size();) {
        ssize_t put = ::write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            written = false;
            break;
        }
        done += static_cast<std::size_t>(put);
    }
    if (::close(fd) != 0) written = false;
    if (!written || ::renameat(directory, temporary.c_str(), directory, name.c_str()) != 0)
        ::unlinkat(directory, temporary.c_str(), 0);
}

}  // namespace

bool RemoteVersion::same_as(const RemoteVersion &other) const {
    if (size != other.size) return false;
    if (!etag.empty() || !other.etag.empty()) return etag == other.etag;
    return last_modified == other.last_modified;
}

std::unique_ptr<CacheEntry> CacheEntry::open(const std::string &directory, const std::string &url) {
    if (directory.empty()) return nullptr;
    // An s3:// or physionet:// name is kept under the URL it is fetched from: an object of one
    // endpoint never stands in for another's, and no key is in it (credentials come from the
    // environment, and a URL that carries a user's name and password has no entry).
    const std::string fetched = fetch_url_of(url);
    std::optional<std::string> relative = url_cache_path(fetched);
    if (!relative) return nullptr;
    // The cache directory is the user's choice (a link to it is followed); below it, nothing is.
    int folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0 && errno == ENOENT) {
        std::error_code error;
        std::filesystem::create_directories(directory, error);
        folder = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    std::size_t begin = 0;
    for (std::size_t slash; folder >= 0 && (slash = relative->find('/', begin)) != std::string::npos;
         begin = slash + 1) {
        int inner = open_folder(folder, relative->substr(begin, slash - begin));
        ::close(folder);
        folder = inner;
    }
    if (folder < 0) return nullptr;
    std::unique_ptr<CacheEntry> entry(new CacheEntry(fetched, folder, relative->substr(begin)));
    entry->load();
    return entry;
}

CacheEntry::~CacheEntry() {
    save();
    close_data();
    ::close(directory_);
}

void CacheEntry::load() {
    EntryRecord record = read_record(directory_, record_name(name_));
    if (!record.ok || record.url != url_) return;
    version_ = record.version;
    held_ = BlockRuns(block_count());
    if (record.blocks == "all") {
        // A whole file counts only while it is there with its full size.
        long long size = -1;
        if (!regular_file(directory_, name_, &size) || size != version_.size) return;
        held_.add_run(0, block_count() - 1);
        whole_ = true;
    } else if (!held_.parse(record.blocks) || !regular_file(directory_, partial_name(name_))) {
        held_.clear();
    }
    known_ = true;
}

long long CacheEntry::block_count() const {
    const auto block = static_cast<long long>(kRemoteBlockSize);
    return version_.size <= 0 ? 0 : (version_.size + block - 1) / block;
}

void CacheEntry::adopt(const RemoteVersion &version) {
    if (known_ && version_.same_as(version)) {
        // The same file: only validators the server did not give before are added.
        if (version_.etag.empty()) version_.etag = version.etag;
        if (version_.last_modified.empty()) version_.last_modified = version.last_modified;
        return;
    }
    close_data();
    ::unlinkat(directory_, name_.c_str(), 0);
    ::unlinkat(directory_, partial_name(name_).c_str(), 0);
    version_ = version;
    known_ = true;
    whole_ = false;
    held_ = BlockRuns(block_count());
    dirty_ = true;
    save(true);
}

bool CacheEntry::has_block(long long index) const { return known_ && held_.has(index); }

bool CacheEntry::open_data(bool create) {
    if (data_fd_ >= 0) return true;
    const std::string file = whole_ ? name_ : partial_name(name_);
    data_fd_ = open_regular(directory_, file, create && !whole_ ? O_RDWR | O_CREAT : O_RDONLY);
    return data_fd_ >= 0;
}

void CacheEntry::close_data() {
    if (data_fd_ >= 0) ::close(data_fd_);
    data_fd_ = -1;
}

bool CacheEntry::read_block(long long index, std::uint8_t *dest, std::size_t length) {
    if (!has_block(index) || !open_data(false)) return false;
    off_t offset = static_cast<off_t>(index) * static_cast<off_t>(kRemoteBlockSize);
    std::size_t done = 0;
    while (done < length) {
        ssize_t got = ::pread(data_fd_, dest + done, length - done, offset + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void CacheEntry::store_block(long long index, const std::uint8_t *data, std::size_t length) {
    if (!known_ || whole_ || index < 0 || index >= held_.count() || held_.has(index)) return;
    // A read-only data file (opened to read blocks) can not take new ones.
    if (data_fd_ >= 0 && (::fcntl(data_fd_, F_GETFL) & O_ACCMODE) == O_RDONLY) close_data();
    if (!open_data(true)) return;
    off_t offset = static_cast<off_t>(index) * static_cast<off_t>(kRemoteBlockSize);
    std::size_t done = 0;
    while (done < length) {
        ssize_t put = ::pwrite(data_fd_, data + done, length - done, offset + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;  // not held: it will be fetched again
        done += static_cast<std::size_t>(put);
    }
    held_.add(index);
    dirty_ = true;
    if (held_.complete()) {
        // Whole at last: the file takes its own name.
        close_data();
        if (::renameat(directory_, partial_name(name_).c_str(), directory_, name_.c_str()) == 0) whole_ = true;
        save(true);
    }
}

void CacheEntry::save(bool replacing) {
    if (!known_ || !dirty_) return;
    dirty_ = false;
    EntryRecord on_disk = read_record(directory_, record_name(name_));
    if (!replacing && on_disk.ok && on_disk.url == url_) {
        // Another reader has recorded another version, or the whole file: its record stands.
        if (!on_disk.version.same_as(version_) || (on_disk.blocks == "all" && !whole_)) return;
        // Blocks another reader of the same version recorded meanwhile are kept too.
        BlockRuns theirs(held_.count());
        if (!whole_ && theirs.parse(on_disk.blocks)) held_.add_all(theirs);
    }
    // Blocks written into a data file that another reader has since replaced are in no file any more.
    if (!whole_ && data_fd_ >= 0) {
        struct stat ours{}, named{};
        if (::fstat(data_fd_, &ours) != 0 ||
            ::fstatat(directory_, partial_name(name_).c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
            ours.st_ino != named.st_ino || ours.st_dev != named.st_dev)
            return;
    }
    // Appended piece by piece: GCC 12 warns falsely about "literal" + std::string at -O3.
    std::string text(kMagic);
    auto line = [&text](const char *key, const std::string &value) {
        text += '\n';
        text += key;
        text += ' ';
        text += value;
    };
    line("url", url_);
    line("size", std::to_string(version_.size));
    line("block-size", std::to_string(kRemoteBlockSize));
    line("etag", version_.etag);
    line("last-modified", version_.last_modified);
    line("blocks", whole_ ? std::string("all") : held_.text());
    text += '\n';
    write_atomically(directory_, record_name(name_), text);
}

}  // namespace sigtrove::engine
