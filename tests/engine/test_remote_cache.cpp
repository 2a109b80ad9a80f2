// The cache directory's entries: which blocks an entry holds costs what it holds,
// never the size a server claims; and what lies in the directory is not trusted:
// no symbolic link below it is followed, to read or to write, and a record is
// written under a name no one could have made beforehand.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fixture_files.h"
#include "network/block_runs.h"
#include "network/remote_cache.h"

namespace {

namespace fs = std::filesystem;
using sigtrove::engine::BlockRuns;
using sigtrove::engine::CacheEntry;
using sigtrove::engine::RemoteVersion;
using sigtrove::testing::read_file;
using sigtrove::testing::TempDir;

TEST(BlockRuns, JoinRunsAndSayThemInText) {
    BlockRuns runs(20);
    for (long long block : {3, 1, 2, 7, 9, 8, 19, 25, -1}) runs.add(block);
    EXPECT_EQ(runs.text(), "1-3,7-9,19");
    EXPECT_TRUE(runs.has(2));
    EXPECT_FALSE(runs.has(4));
    EXPECT_FALSE(runs.has(25));
    EXPECT_FALSE(runs.complete());
    runs.add_run(0, 19);
    EXPECT_EQ(runs.text(), "0-19");
    EXPECT_TRUE(runs.complete());
    EXPECT_TRUE(BlockRuns(0).complete());
}

TEST(BlockRuns, ParseOnlyOrderedRunsInsideTheFile) {
    struct Case {
        const char *text;
        bool ok;
    };
    for (const Case &c : {Case{"", true}, Case{"0", true}, Case{"0-4,7,9-12", true}, Case{"0-20", false},
                          Case{"4-2", false}, Case{"5,3", false}, Case{"1-3,4", false}, Case{"1,,3", false},
                          Case{"x", false}, Case{"-1", false}, Case{"99999999999999999999", false}}) {
        BlockRuns runs(20);
        EXPECT_EQ(runs.parse(c.text), c.ok) << c.text;
        EXPECT_EQ(runs.text(), c.ok ? c.text : "") << c.text;
    }
}

TEST(BlockRuns, OfAHugeFileCostWhatIsHeld) {
    // 10^14 bytes in 64 KiB blocks: a map of bits would take 190 MB.
    BlockRuns runs(1'525'878'907);
    runs.add(0);
    runs.add(1'525'878'906);
    EXPECT_EQ(runs.text(), "0,1525878906");
    EXPECT_FALSE(runs.complete());
}

const std::string kUrl = "http://h:8000/db/100.dat";

class CacheDirectory : public ::testing::Test {
protected:
    std::string folder() const { return cache / "h_8000/db"; }
    // A file outside the cache, which nothing may read or change.
    std::string outside_file() {
        outside.write("victim", "the user's own file\n");
        return outside / "victim";
    }
    std::vector<std::string> names_in(const std::string &folder) const {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    TempDir cache, outside;
    const std::vector<std::uint8_t> block = std::vector<std::uint8_t>(sigtrove::engine::kRemoteBlockSize, 0x5a);
};

TEST_F(CacheDirectory, AHugeClaimedSizeCostsTheEntryNothing) {
    {
        auto entry = CacheEntry::open(cache.path(), kUrl);
        ASSERT_TRUE(entry);
        entry->adopt(RemoteVersion{100'000'000'000'000LL, "\"v1\"", ""});
        entry->store_block(3, block.data(), block.size());
    }
    const std::string record = read_file(folder() + "/100.dat.sigtrove-cache");
    EXPECT_NE(record.find("\nsize 100000000000000\n"), std::string::npos) << record;
    EXPECT_NE(record.find("\nblocks 3\n"), std::string::npos) << record;
    auto again = CacheEntry::open(cache.path(), kUrl);
    ASSERT_TRUE(again && again->known());
    EXPECT_TRUE(again->has_block(3));
    EXPECT_FALSE(again->has_block(4));
    std::vector<std::uint8_t> read(block.size());
    ASSERT_TRUE(again->read_block(3, read.data(), read.size()));
    EXPECT_EQ(read, block);
}

TEST_F(CacheDirectory, AFolderThatIsALinkIsNotEntered) {
    const std::string victim = outside_file();
    fs::create_directories(cache / "h_8000");
    fs::create_directory_symlink(outside.path(), cache / "h_8000/db");
    EXPECT_FALSE(CacheEntry::open(cache.path(), kUrl));
    EXPECT_EQ(names_in(outside.path()), std::vector<std::string>{"victim"});
    // The cache directory itself is the user's choice, and may be a link.
    TempDir elsewhere;
    fs::create_directory_symlink(elsewhere.path(), cache / "chosen");
    EXPECT_TRUE(CacheEntry::open(cache / "chosen", kUrl));
}

TEST_F(CacheDirectory, FilesThatAreLinksAreNeitherReadNorWrittenThrough) {
    const std::string victim = outside_file();
    fs::create_directories(folder());
    // Every name the entry uses, and the one its records were once written under, leads outside.
    for (const char *name : {"100.dat", "100.dat.partial", "100.dat.sigtrove-cache", "100.dat.sigtrove-cache.tmp.1.0"})
        fs::create_symlink(victim, folder() + "/" + name);
    {
        auto entry = CacheEntry::open(cache.path(), kUrl);
        ASSERT_TRUE(entry);
        EXPECT_FALSE(entry->known());
        entry->adopt(RemoteVersion{3 * static_cast<long long>(block.size()), "\"v1\"", ""});
        for (long long k = 0; k < 3; ++k) entry->store_block(k, block.data(), block.size());
    }
    EXPECT_EQ(read_file(victim), "the user's own file\n");
    EXPECT_EQ(names_in(outside.path()), std::vector<std::string>{"victim"});
    // What was written is the cache's own: regular files with the file whole under its name.
    auto again = CacheEntry::open(cache.path(), kUrl);
    ASSERT_TRUE(again && again->known());
    EXPECT_TRUE(again->has_block(2));
    struct stat info{};
    ASSERT_EQ(::lstat((folder() + "/100.dat").c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_size, 3 * static_cast<long long>(block.size()));
}

TEST_F(CacheDirectory, ADataFileMadeALinkLaterIsNotWrittenThrough) {
    const std::string victim = outside_file();
    {
        auto entry = CacheEntry::open(cache.path(), kUrl);
        ASSERT_TRUE(entry);
        entry->adopt(RemoteVersion{3 * static_cast<long long>(block.size()), "\"v1\"", ""});
        entry->store_block(0, block.data(), block.size());
    }
    fs::remove(folder() + "/100.dat.partial");
    fs::create_symlink(victim, folder() + "/100.dat.partial");
    {
        auto entry = CacheEntry::open(cache.path(), kUrl);
        ASSERT_TRUE(entry && entry->known());
        EXPECT_FALSE(entry->has_block(0));
        std::vector<std::uint8_t> read(block.size());
        EXPECT_FALSE(entry->read_block(0, read.data(), read.size()));
        entry->store_block(1, block.data(), block.size());
        EXPECT_FALSE(entry->has_block(1));
    }
    EXPECT_EQ(read_file(victim), "the user's own file\n");
}

TEST_F(CacheDirectory, ARecordThatIsALinkIsNotRead) {
    fs::create_directories(folder());
    outside.write("record", "sigtrove cache entry 1\nurl " + kUrl +
                                "\nsize 10\nblock-size 65536\netag \nlast-modified \nblocks all\n");
    outside.write("data", "0123456789");
    fs::create_symlink(outside / "record", folder() + "/100.dat.sigtrove-cache");
    auto entry = CacheEntry::open(cache.path(), kUrl);
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->known());
}

TEST_F(CacheDirectory, RecordsLeaveNoPassingNameBehind) {
    {
        auto entry = CacheEntry::open(cache.path(), kUrl);
        ASSERT_TRUE(entry);
        entry->adopt(RemoteVersion{2 * static_cast<long long>(block.size()), "\"v1\"", ""});
        entry->store_block(1, block.data(), block.size());
    }
    EXPECT_EQ(names_in(folder()), (std::vector<std::string>{"100.dat.partial", "100.dat.sigtrove-cache"}));
}

}  // namespace
