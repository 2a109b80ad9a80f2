// Finding a record's files along the database path: the WFDB value and its
// components, %r, the 3-character type, learning of directories, refused names,
// and the engine's own copy of a record name.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "fixture_files.h"
#include "header/header.h"
#include "paths/database_path.h"
#include "paths/database_path_choice.h"
#include "paths/path_search.h"
#include "record_dir_fixture.h"
#include "record_header/record_header.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"

namespace {

using sigtrove::engine::component_prefix;
using sigtrove::engine::database_path_components;
using sigtrove::engine::find_record_file;
using sigtrove::engine::find_signal_file;
using sigtrove::engine::PathComponent;
using sigtrove::engine::record_name_for_open;
using sigtrove::engine::reset_database_path;
using sigtrove::engine::set_path_record_name;
using sigtrove::engine::split_database_path;
using sigtrove::testing::EnvironmentVariable;
using sigtrove::testing::RecordDirTest;
using Strings = std::vector<std::string>;

// "@PATH": a WFDB value naming the file that holds the path. (Built by appending:
// GCC 12 warns falsely about "literal" + std::string at -O3.)
std::string indirect(const std::string &path) {
    std::string value(1, '@');
    value += path;
    return value;
}

std::string numbered(int i) {
    std::string name(1, 'p');
    name += std::to_string(i);
    return name;
}

// ---- the WFDB value -------------------------------------------------------------

struct SplitCase {
    const char *value;
    Strings components;
    friend void PrintTo(const SplitCase &c, std::ostream *os) { *os << ::testing::PrintToString(c.value); }
};

class PathSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(PathSplit, Components) { EXPECT_EQ(split_database_path(GetParam().value), GetParam().components); }

INSTANTIATE_TEST_SUITE_P(Cases, PathSplit,
                         ::testing::Values(SplitCase{". /usr/local/database", {".", "/usr/local/database"}},
                                           SplitCase{"  a \t\r\n b  ", {"a", "b"}}, SplitCase{"a;b:c", {"a", "b", "c"}},
                                           SplitCase{":a", {"", "a"}},  // an empty component: names as given
                                           SplitCase{"a::b", {"a", "", "b"}}, SplitCase{"a:", {"a"}}, SplitCase{"", {}},
                                           SplitCase{". http://physionet.org/physiobank/database",
                                                     {".", "http://physionet.org/physiobank/database"}},
                                           SplitCase{"a:http://host:8080/db:b", {"a", "http://host:8080/db", "b"}},
                                           SplitCase{"https://h/x/y:z", {"https://h/x/y", "z"}}));

struct PrefixCase {
    const char *component;
    const char *record;
    const char *prefix;
    friend void PrintTo(const PrefixCase &c, std::ostream *os) { *os << c.component << " for " << c.record; }
};

class ComponentPrefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(ComponentPrefix, SubstitutesAndEndsInASlash) {
    set_path_record_name(GetParam().record);
    EXPECT_EQ(component_prefix(PathComponent{GetParam().component, false}), GetParam().prefix);
    set_path_record_name("");
}

INSTANTIATE_TEST_SUITE_P(Cases, ComponentPrefix,
                         ::testing::Values(PrefixCase{"", "100", ""}, PrefixCase{".", "100", "./"},
                                           PrefixCase{"/db/", "100", "/db/"},
                                           PrefixCase{"/db/%r", "mitdb/100", "/db/100/"},
                                           PrefixCase{"/db/%2r/x", "12345", "/db/12/x/"},
                                           PrefixCase{"%9r", "12345", "12345/"}, PrefixCase{"a%%b%x", "100", "a%bx/"}));

TEST(ComponentPrefixLimits, RecordNameIsKeptTo50Characters) {
    std::string name(60, 'n');
    set_path_record_name("dir/" + name);
    EXPECT_EQ(component_prefix(PathComponent{"%r", false}), name.substr(0, 50) + "/");
    // a learned directory is a literal name, even with a '%' in it
    EXPECT_EQ(component_prefix(PathComponent{"/x/%r", true}), "/x/%r/");
    set_path_record_name("");
}

// ---- lookups ------------------------------------------------------------------------

TEST_F(RecordDirTest, AChosenPathStandsForWfdbUntilItIsDropped) {
    EnvironmentVariable path("WFDB", "/from/the/environment");
    sigtrove::engine::choose_database_path(std::string(". ") + dir / "chosen");
    EXPECT_EQ(sigtrove::engine::database_path_setting(), std::string(". ") + dir / "chosen");
    sigtrove::engine::choose_database_path(std::nullopt);
    EXPECT_EQ(sigtrove::engine::database_path_setting(), "/from/the/environment");
}

TEST_F(RecordDirTest, FindsAHeaderInTheCurrentDirectory) {
    write_header("100", "100 0\n");
    EXPECT_EQ(find_record_file("100", "hea"), "./100.hea");
    EXPECT_EQ(find_record_file("101", "hea"), "");
}

TEST_F(RecordDirTest, SubdirectoryIsLearnedBehindTheCurrentDirectory) {
    dir.write("mitdb/100.hea", "100 0\n");
    dir.write("mitdb/100.dat", "");
    EXPECT_EQ(find_record_file("mitdb/100", "hea"), "./mitdb/100.hea");
    EXPECT_EQ(database_path_components(), (Strings{".", "./mitdb"}));
    EXPECT_EQ(find_signal_file("100.dat"), "./mitdb/100.dat");
    // the current directory is still tried first
    dir.write("100.dat", "");
    EXPECT_EQ(find_signal_file("100.dat"), "./100.dat");
    EXPECT_EQ(database_path_components(), (Strings{".", "./mitdb"}));
}

TEST_F(RecordDirTest, LearnedDirectoryMovesToTheFrontWithoutDuplicates) {
    EnvironmentVariable path("WFDB", dir / "a" + " " + dir / "b");
    reset_database_path();
    dir.write("a/x/r.hea", "");
    dir.write("b/y/s.hea", "");
    EXPECT_EQ(find_record_file("x/r", "hea"), dir / "a/x/r.hea");
    EXPECT_EQ(database_path_components(), (Strings{dir / "a/x", dir / "a", dir / "b"}));
    EXPECT_EQ(find_record_file("y/s", "hea"), dir / "b/y/s.hea");
    EXPECT_EQ(database_path_components(), (Strings{dir / "b/y", dir / "a/x", dir / "a", dir / "b"}));
    EXPECT_EQ(find_record_file("x/r", "hea"), dir / "a/x/r.hea");
    EXPECT_EQ(database_path_components(), (Strings{dir / "a/x", dir / "b/y", dir / "a", dir / "b"}));
}

TEST_F(RecordDirTest, ComponentsAreTriedInOrder) {
    EnvironmentVariable path("WFDB", dir / "first;" + dir / "second:" + dir / "third");
    reset_database_path();
    dir.write("second/r.hea", "");
    dir.write("third/r.hea", "");
    dir.write("third/only.hea", "");
    EXPECT_EQ(find_record_file("r", "hea"), dir / "second/r.hea");
    EXPECT_EQ(find_record_file("only", "hea"), dir / "third/only.hea");
}

TEST_F(RecordDirTest, EmptyComponentUsesNamesAsGiven) {
    EnvironmentVariable path("WFDB", std::string(":") + dir / "nowhere");
    reset_database_path();
    dir.write("abs/s.dat", "");
    EXPECT_EQ(find_signal_file(dir / "abs/s.dat"), dir / "abs/s.dat");
    write_header("r", "");
    EXPECT_EQ(find_record_file("r", "hea"), "r.hea");
}

TEST_F(RecordDirTest, AbsoluteSignalFileNeedsAnEmptyComponent) {
    dir.write("abs/s.dat", "");
    EXPECT_EQ(find_signal_file(dir / "abs/s.dat"), "");  // "./" + "/abs..." is relative
}

TEST_F(RecordDirTest, EmptyPathUsesNamesAsGiven) {
    EnvironmentVariable path("WFDB", " ");
    reset_database_path();
    write_header("r", "");
    dir.write("sub/s.hea", "");
    dir.write("t.hea", "");
    EXPECT_EQ(find_record_file("r", "hea"), "r.hea");
    EXPECT_EQ(find_record_file("sub/s", "hea"), "sub/s.hea");
    EXPECT_EQ(database_path_components(), (Strings{"sub", ""}));
    EXPECT_EQ(find_record_file("t", "hea"), "t.hea");  // still found after learning
}

TEST_F(RecordDirTest, RecordNameSubstitution) {
    EnvironmentVariable path("WFDB", dir / "db/%r " + dir / "short/%2r");
    reset_database_path();
    dir.write("db/100/100.hea", "");
    dir.write("short/20/201.atr", "");
    EXPECT_EQ(find_record_file("100", "hea"), dir / "db/100/100.hea");
    EXPECT_EQ(find_record_file("201", "atr"), dir / "short/20/201.atr");
}

TEST_F(RecordDirTest, TypeIsAlsoTriedTruncatedToThreeCharacters) {
    dir.write("r.wab", "");
    EXPECT_EQ(find_record_file("r", "wabp"), "./r.wab");
    dir.write("r.wabp", "");
    EXPECT_EQ(find_record_file("r", "wabp"), "./r.wabp");
    EXPECT_EQ(find_record_file("r", "wa"), "");
}

TEST_F(RecordDirTest, SignalFileIsAlsoTriedWithATrailingDot) {
    dir.write("data.", "");
    EXPECT_EQ(find_signal_file("data"), "./data.");
}

TEST_F(RecordDirTest, NamesWithTwoDotsAreRefused) {
    dir.write("up.hea", "");
    dir.write("up.dat", "");
    dir.write("a..b.hea", "");
    sigtrove::testing::WorkingDirectory inner(dir.make_dir("sub"));
    EXPECT_EQ(find_record_file("../up", "hea"), "");
    EXPECT_EQ(find_signal_file("../up.dat"), "");
    EXPECT_EQ(find_record_file("a..b", "hea"), "");
    EnvironmentVariable path("WFDB", "..");
    reset_database_path();
    EXPECT_EQ(find_record_file("up", "hea"), "");
}

TEST_F(RecordDirTest, DirectoriesAreNotFiles) {
    dir.make_dir("r.hea");
    dir.make_dir("s.dat");
    EXPECT_EQ(find_record_file("r", "hea"), "");
    EXPECT_EQ(find_signal_file("s.dat"), "");
}

// A name that is there but is no regular file ends the lookup with its reason,
// and is never opened for reading in a way that could wait (a FIFO without a writer).
TEST_F(RecordDirTest, FilesThatAreNoRegularFilesAreRefusedNamingThem) {
    ASSERT_EQ(::mkfifo((dir.path() + "/f.hea").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", (dir.path() + "/z.dat").c_str()), 0);
    sigtrove::engine::FoundFile fifo = sigtrove::engine::open_record_file("f", "hea");
    EXPECT_FALSE(fifo);
    EXPECT_EQ(fifo.failure, "./f.hea is a FIFO, not a regular file");
    EXPECT_FALSE(fifo.remote_failure());
    sigtrove::engine::FoundFile device = sigtrove::engine::open_signal_file("z.dat");
    EXPECT_FALSE(device);
    EXPECT_EQ(device.failure, "./z.dat is a character device, not a regular file");
}

// Nothing listens on port 1 of the loopback address: a lookup that reaches it fails there.
TEST_F(RecordDirTest, RemoteComponentsAreSearchedInTheirPlace) {
    EnvironmentVariable path("WFDB", ". http://127.0.0.1:1/db");
    reset_database_path();
    write_header("r", "");
    EXPECT_EQ(find_record_file("r", "hea"), "./r.hea") << "found before the URL is tried";
    sigtrove::engine::FoundFile found = sigtrove::engine::open_record_file("s", "hea");
    EXPECT_FALSE(found);
    EXPECT_EQ(found.path, "http://127.0.0.1:1/db/s.hea") << "the lookup ends where it could not go on";
    EXPECT_NE(found.failure.find("http://127.0.0.1:1/db/s.hea"), std::string::npos) << found.failure;
    EXPECT_EQ(find_record_file("http://127.0.0.1:1/r", "hea"), "");
}

TEST_F(RecordDirTest, TrailingSlashRepeatsTheLastDirectory) {
    dir.write("abc/123/123.hea", "123 0\n");
    EXPECT_EQ(find_record_file("abc/123/", "hea"), "./abc/123/123.hea");
    EXPECT_EQ(sigtrove::engine::read_header("abc/123/", header), 0) << wfdberror();
    EXPECT_EQ(sigtrove::engine::record_lookup_name("abc/123/"), "abc/123/123");
    EXPECT_EQ(sigtrove::engine::record_lookup_name("123/"), "123/123");
}

TEST_F(RecordDirTest, DottedNameIsLookedUpAsAWfdbHeader) {
    write_header("x.y", "x.y 1 100\nx.y.dat 16\n");
    ASSERT_EQ(sigtrove::engine::read_header("x.y", header), 0) << wfdberror();
    EXPECT_EQ(header.signals[0].fname, "x.y.dat");
}

// ---- the WFDB value: indirection and the environment --------------------------------

TEST_F(RecordDirTest, AtFileSuppliesThePath) {
    dir.write("db/r.hea", "");
    dir.write("paths2", dir / "db\r\n");
    dir.write("paths1", indirect(dir / "paths2") + "\n");
    EnvironmentVariable path("WFDB", indirect(dir / "paths1"));
    reset_database_path();
    EXPECT_EQ(find_record_file("r", "hea"), dir / "db/r.hea");
    EXPECT_EQ(std::string(std::getenv("WFDB")), dir / "db");  // the value in use is exported
}

TEST_F(RecordDirTest, AtFilesNestedTooDeeplyGiveAnEmptyPath) {
    for (int i = 0; i < 11; ++i) dir.write(numbered(i), indirect(dir / numbered(i + 1)));
    dir.write("p11", "/nowhere");
    EnvironmentVariable path("WFDB", indirect(dir / "p0"));
    reset_database_path();
    EXPECT_EQ(database_path_components(), Strings{""});
    EXPECT_STREQ(wfdberror(), "getwfdb: files nested too deeply\n");
}

TEST_F(RecordDirTest, TenLevelsOfAtFilesAreFollowed) {
    for (int i = 0; i < 9; ++i) dir.write(numbered(i), indirect(dir / numbered(i + 1)));
    dir.write("p9", "/somewhere");
    EnvironmentVariable path("WFDB", indirect(dir / "p0"));
    reset_database_path();
    EXPECT_EQ(database_path_components(), Strings{"/somewhere"});
}

TEST_F(RecordDirTest, UnreadableAtFileIsReported) {
    EnvironmentVariable path("WFDB", indirect(dir / "missing"));
    reset_database_path();
    EXPECT_EQ(database_path_components(), Strings{""});
    EXPECT_EQ(std::string(wfdberror()), "getwfdb: can't read database path file " + dir / "missing" + "\n");
}

TEST(DatabasePathEnvironment, FirstUseExportsThePathAndDefaults) {
    EnvironmentVariable wfdb("WFDB", std::nullopt), cal("WFDBCAL", std::nullopt), sort("WFDBANNSORT", std::nullopt),
        mode("WFDBGVMODE", std::nullopt);
    reset_database_path();
    EXPECT_EQ(database_path_components(), (Strings{".", "/usr/local/database"}));
    EXPECT_STREQ(std::getenv("WFDB"), ". /usr/local/database");
    EXPECT_STREQ(std::getenv("WFDBCAL"), "wfdbcal");
    EXPECT_STREQ(std::getenv("WFDBANNSORT"), "1");
    EXPECT_STREQ(std::getenv("WFDBGVMODE"), "0");
    reset_database_path();
}

TEST(DatabasePathEnvironment, SetVariablesAreKeptAndTheModeReadsTheSame) {
    EnvironmentVariable wfdb("WFDB", "/a:/b"), cal("WFDBCAL", "mycal"), sort("WFDBANNSORT", "0"),
        mode("WFDBGVMODE", "3");
    reset_database_path();
    EXPECT_EQ(sigtrove::engine::getvec_mode_from_environment(), 3);
    database_path_components();
    EXPECT_STREQ(std::getenv("WFDB"), "/a:/b");
    EXPECT_STREQ(std::getenv("WFDBCAL"), "mycal");
    EXPECT_STREQ(std::getenv("WFDBANNSORT"), "0");
    EXPECT_STREQ(std::getenv("WFDBGVMODE"), "3");
    EXPECT_EQ(sigtrove::engine::getvec_mode_from_environment(), 3);
    reset_database_path();
}

TEST(DatabasePathEnvironment, PathIsReadOncePerProcess) {
    EnvironmentVariable wfdb("WFDB", "/first");
    reset_database_path();
    EXPECT_EQ(database_path_components(), Strings{"/first"});
    setenv("WFDB", "/second", 1);
    EXPECT_EQ(database_path_components(), Strings{"/first"});
    reset_database_path();
}

struct ModeCase {
    std::optional<std::string> value;
    int mode;
    friend void PrintTo(const ModeCase &c, std::ostream *os) { *os << c.value.value_or("(unset)"); }
};

class GetvecModeFromEnvironment : public ::testing::TestWithParam<ModeCase> {};

TEST_P(GetvecModeFromEnvironment, Bits) {
    EnvironmentVariable mode("WFDBGVMODE", GetParam().value);
    EXPECT_EQ(sigtrove::engine::getvec_mode_from_environment(), GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(Cases, GetvecModeFromEnvironment,
                         ::testing::Values(ModeCase{std::nullopt, 0}, ModeCase{"0", 0}, ModeCase{"1", 1},
                                           ModeCase{"2", 2}, ModeCase{"3", 3}, ModeCase{"7", 3}, ModeCase{"-1", 0},
                                           ModeCase{"x", 0}));

// ---- the engine's copy of a record name ---------------------------------------------

struct NameCase {
    const char *given;
    bool with_plus;  // isigopen/annopen interpret a leading '+'; sampfreq does not
    const char *own;
    bool keep_open;
    friend void PrintTo(const NameCase &c, std::ostream *os) { *os << c.given << (c.with_plus ? " (+)" : ""); }
};

class RecordNameForOpen : public ::testing::TestWithParam<NameCase> {};

TEST_P(RecordNameForOpen, CallersTextIsUntouched) {
    const NameCase &c = GetParam();
    std::string buffer = c.given;
    bool keep_open = !c.keep_open;
    std::string own = record_name_for_open(buffer.c_str(), c.with_plus ? &keep_open : nullptr);
    EXPECT_EQ(own, c.own);
    if (c.with_plus) {
        EXPECT_EQ(keep_open, c.keep_open);
    }
    EXPECT_EQ(buffer, c.given);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordNameForOpen,
    ::testing::Values(NameCase{"100", true, "100", false}, NameCase{"+100", true, "100", true},
                      NameCase{"+100", false, "+100", false}, NameCase{"100.hea", true, "100", false},
                      NameCase{"+mitdb/100.hea", true, "mitdb/100", true}, NameCase{".hea", true, ".hea", false},
                      NameCase{"a.hea.hea", true, "a.hea", false}, NameCase{"x.y", true, "x.y", false},
                      NameCase{"-", true, "-", false}, NameCase{"", true, "", false}));

TEST(RecordNameForOpenNull, NullIsEmpty) { EXPECT_EQ(record_name_for_open(nullptr, nullptr), ""); }

}  // namespace
