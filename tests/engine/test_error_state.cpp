// The engine's last error text, its version line and its print mode.
#include <gtest/gtest.h>

#include <string>

#include "errors/error_state.h"
#include "wfdb/wfdb.h"

namespace {

using sigtrove::engine::record_error;

TEST(ErrorState, BeforeAnyErrorTheTextIsTheVersionLine) {
    std::string line = wfdberror();
    EXPECT_EQ(line.rfind("sigtrove engine version ", 0), 0u) << line;
    ASSERT_GE(line.size(), 3u);
    EXPECT_EQ(line.substr(line.size() - 3), ").\n");
    // "(Mmm dd yyyy)" as the compiler's __DATE__ gives it
    auto open = line.find('(');
    ASSERT_NE(open, std::string::npos);
    EXPECT_EQ(line.size() - open, std::string("(Jun 10 2022).\n").size());
}

TEST(ErrorState, VerboseModePrintsEachTextWhenRecorded) {
    wfdbverbose();
    testing::internal::CaptureStderr();
    record_error("init: can't open header for record %s\n", "x");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "init: can't open header for record x\n");
    EXPECT_STREQ(wfdberror(), "init: can't open header for record x\n");
}

TEST(ErrorState, QuietModeRecordsWithoutPrinting) {
    wfdbquiet();
    testing::internal::CaptureStderr();
    record_error("getvec: unexpected EOF in signal %d\n", 3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_STREQ(wfdberror(), "getvec: unexpected EOF in signal 3\n");
    wfdbverbose();
}

TEST(ErrorState, LongTextsAreKeptWhole) {
    wfdbquiet();
    std::string name(3000, 'r');
    record_error("init: can't open header for record %s\n", name.c_str());
    EXPECT_EQ(std::string(wfdberror()), "init: can't open header for record " + name + "\n");
}

}  // namespace
