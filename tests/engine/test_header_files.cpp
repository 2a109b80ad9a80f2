// What a header names of a record's other files, as the download command and a
// database's scan ask for it: signal files once each (none for format 0), the
// segments of a multi-segment record without its null ones, and the parser's
// own failure for a header it refuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixture_files.h"
#include "record_header/header_files.h"
#include "wfdb/wfdb.h"

namespace {

using sigtrove::engine::ErrorKind;
using sigtrove::engine::HeaderFiles;
using sigtrove::engine::read_header_files;
using sigtrove::testing::TempDir;

TEST(HeaderFiles, AreWhatTheHeaderNames) {
    struct Case {
        const char *name, *text;
        bool multi_segment;
        std::vector<std::string> files, segments;
    };
    wfdbquiet();
    TempDir dir;
    for (const Case &c : {
             Case{"one",
                  "one 3 360 10\none.dat 212 200 11 1024 0 0 0 a\none.dat 212 200 11 1024 0 0 0 b\n"
                  "x.dat 16 200 16 0 0 0 0 c\n",
                  false,
                  {"one.dat", "x.dat"},
                  {}},
             Case{"blank", "# a comment first\nblank 2 250\n~ 0\nblank.dat 16\n", false, {"blank.dat"}, {}},
             Case{"multi",
                  "multi/3 2 125 300\nmulti_layout 0\n~ 100\nmulti_0001 200\n",
                  true,
                  {},
                  {"multi_layout", "multi_0001"}},
         }) {
        dir.write(std::string(c.name) + ".hea", c.text);
        HeaderFiles files;
        ASSERT_TRUE(read_header_files(dir.path(), c.name, files)) << c.name;
        EXPECT_EQ(files.multi_segment, c.multi_segment) << c.name;
        EXPECT_EQ(files.signal_files, c.files) << c.name;
        EXPECT_EQ(files.segments, c.segments) << c.name;
    }
}

TEST(HeaderFiles, AHeaderThatCanNotBeReadIsTheParsersFailure) {
    wfdbquiet();
    TempDir dir;
    dir.write("bad.hea", "bad 2000000000 360\nf 16\n");
    for (const auto &[name, kind] :
         {std::pair{"bad", ErrorKind::malformed}, std::pair{"absent", ErrorKind::not_found}}) {
        HeaderFiles files;
        auto status = read_header_files(dir.path(), name, files);
        ASSERT_FALSE(status) << name;
        EXPECT_EQ(status.kind(), kind) << name;
        EXPECT_NE(status.text().find(name), std::string::npos) << status.text();
    }
}

}  // namespace
