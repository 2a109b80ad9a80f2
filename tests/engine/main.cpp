// The engine suite's entry point. Every test starts from the process state a
// fresh process has (no signals or annotation files open, no header read, the
// database path unread, the initial code table, the version line as the error
// text), so the suite gives the same results run as one process or one
// process per test.
#include <gtest/gtest.h>

#include "wfdb_interface/process_state.h"

namespace {

class FreshProcessState : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo &) override { sigtrove::engine::reset_process_state(); }
    void OnTestEnd(const ::testing::TestInfo &) override { sigtrove::engine::reset_process_state(); }
};

}  // namespace

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshProcessState);
    return RUN_ALL_TESTS();
}
