#include "network/remote_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "network/url_text.h"

namespace sigtrove::engine {
namespace {

constexpr const char *kMagic = "sigtrove cache entry 1";

std::string partial_path(const std::string &path) { return path + ".partial"; }
std::string record_path(const std::string &path) { return path + ".sigtrove-cache"; }

// "0-4,7,9-12": the blocks held.
std::string held_text(const std::vector<bool> &held) {
    std::string text;
    for (std::size_t i = 0; i < held.size();) {
        if (!held[i]) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j + 1 < held.size() && held[j + 1]) ++j;
        if (!text.empty()) text += ',';
        text += std::to_string(i);
        if (j > i) {
            text += '-';
            text += std::to_string(j);
        }
        i = j + 1;
    }
    return text;
}

bool parse_held(const std::string &text, std::vector<bool> &held) {
    std::stringstream runs(text);
    std::string run;
    while (std::getline(runs, run, ',')) {
        if (run.empty()) continue;
        std::size_t dash = run.find('-');
        char *end = nullptr;
        long long first = std::strtoll(run.c_str(), &end, 10);
        long long last = dash == std::string::npos ? first : std::strtoll(run.c_str() + dash + 1, nullptr, 10);
        if (first < 0 || last < first || last >= static_cast<long long>(held.size())) return false;
        for (long long k = first; k <= last; ++k) held[static_cast<std::size_t>(k)] = true;
    }
    return true;
}

struct EntryRecord {
    std::string url;
    RemoteVersion version;
    std::string blocks;  // held_text, or "all"
    bool ok = false;
};

EntryRecord read_record(const std::string &file) {
    EntryRecord record;
    std::ifstream in(file);
    std::string line;
    if (!std::getline(in, line) || line != kMagic) return record;
    long long block_size = -1;
    while (std::getline(in, line)) {
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
    record.ok = block_size == static_cast<long long>(kRemoteBlockSize) && record.version.size >= 0;
    return record;
}

// Writes `text` to `file` under a passing name, then renames it: a reader never sees half a record.
void write_atomically(const std::string &file, const std::string &text) {
    static std::atomic<unsigned> counter{0};
    std::string temporary = file + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(counter++);
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << text;
        if (!out.flush()) {
            out.close();
            ::unlink(temporary.c_str());
            return;
        }
    }
    if (::rename(temporary.c_str(), file.c_str()) != 0) ::unlink(temporary.c_str());
}

}  // namespace

bool RemoteVersion::same_as(const RemoteVersion &other) const {
    if (size != other.size) return false;
    if (!etag.empty() || !other.etag.empty()) return etag == other.etag;
    return last_modified == other.last_modified;
}

std::unique_ptr<CacheEntry> CacheEntry::open(const std::string &directory, const std::string &url) {
    if (directory.empty()) return nullptr;
    std::optional<std::string> relative = url_cache_path(url);
    if (!relative) return nullptr;
    std::string path = directory + "/" + *relative;
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (error) return nullptr;
    std::unique_ptr<CacheEntry> entry(new CacheEntry(url, path));
    entry->load();
    return entry;
}

CacheEntry::~CacheEntry() {
    save();
    close_data();
}

void CacheEntry::load() {
    EntryRecord record = read_record(record_path(path_));
    if (!record.ok || record.url != url_) return;
    version_ = record.version;
    held_.assign(static_cast<std::size_t>(block_count()), false);
    if (record.blocks == "all") {
        // A whole file counts only while it is there with its full size.
        struct stat info{};
        if (::stat(path_.c_str(), &info) != 0 || info.st_size != version_.size) return;
        held_.assign(held_.size(), true);
        whole_ = true;
    } else if (!parse_held(record.blocks, held_) || ::access(partial_path(path_).c_str(), F_OK) != 0) {
        held_.assign(held_.size(), false);
    }
    known_ = true;
}

long long CacheEntry::block_count() const {
    const auto block = static_cast<long long>(kRemoteBlockSize);
    return version_.size <= 0 ? 0 : (version_.size + block - 1) / block;
}

bool CacheEntry::complete() const {
    for (bool b : held_)
        if (!b) return false;
    return true;
}

void CacheEntry::adopt(const RemoteVersion &version) {
    if (known_ && version_.same_as(version)) {
        // The same file: only validators the server did not give before are added.
        if (version_.etag.empty()) version_.etag = version.etag;
        if (version_.last_modified.empty()) version_.last_modified = version.last_modified;
        return;
    }
    close_data();
    ::unlink(path_.c_str());
    ::unlink(partial_path(path_).c_str());
    version_ = version;
    known_ = true;
    whole_ = false;
    held_.assign(static_cast<std::size_t>(block_count()), false);
    dirty_ = true;
    save(true);
}

bool CacheEntry::has_block(long long index) const {
    return known_ && index >= 0 && index < static_cast<long long>(held_.size()) &&
           held_[static_cast<std::size_t>(index)];
}

bool CacheEntry::open_data(bool create) {
    if (data_fd_ >= 0) return true;
    const std::string file = whole_ ? path_ : partial_path(path_);
    data_fd_ = ::open(file.c_str(), (create && !whole_ ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC, 0644);
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
    if (!known_ || whole_ || index < 0 || index >= static_cast<long long>(held_.size()) ||
        held_[static_cast<std::size_t>(index)])
        return;
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
    held_[static_cast<std::size_t>(index)] = true;
    dirty_ = true;
    if (complete()) {
        // Whole at last: the file takes its own name.
        close_data();
        if (::rename(partial_path(path_).c_str(), path_.c_str()) == 0) whole_ = true;
        save(true);
    }
}

void CacheEntry::save(bool replacing) {
    if (!known_ || !dirty_) return;
    dirty_ = false;
    EntryRecord on_disk = read_record(record_path(path_));
    if (!replacing && on_disk.ok && on_disk.url == url_) {
        // Another reader has recorded another version, or the whole file: its record stands.
        if (!on_disk.version.same_as(version_) || (on_disk.blocks == "all" && !whole_)) return;
        // Blocks another reader of the same version recorded meanwhile are kept too.
        std::vector<bool> theirs(held_.size(), false);
        if (!whole_ && parse_held(on_disk.blocks, theirs))
            for (std::size_t k = 0; k < held_.size(); ++k) held_[k] = held_[k] || theirs[k];
    }
    // Blocks written into a data file that another reader has since replaced are in no file any more.
    if (!whole_ && data_fd_ >= 0) {
        struct stat ours{}, named{};
        if (::fstat(data_fd_, &ours) != 0 || ::stat(partial_path(path_).c_str(), &named) != 0 ||
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
    line("blocks", whole_ ? std::string("all") : held_text(held_));
    text += '\n';
    write_atomically(record_path(path_), text);
}

}  // namespace sigtrove::engine
