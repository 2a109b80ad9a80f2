// The rate floor: a transfer fails once a whole timeout's length of waiting has
// brought fewer bytes than the floor asks, whether it is silent or trickles; a
// fast transfer, or one that slowed only briefly, goes on.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "network/transfer_rate.h"

namespace {

using sigtrove::engine::TransferRate;

struct RateCase {
    const char *name;
    std::vector<std::pair<double, long long>> waits;  // seconds waited, bytes that came in them
    bool too_slow;
    const char *failure;  // a part of the failure's text, when too slow
};

class TransferRates : public ::testing::TestWithParam<RateCase> {};

TEST_P(TransferRates, FailOnlyBelowTheFloorForAWholeWindow) {
    // A window of 10 s at the floor of 1024 bytes a second: 10240 bytes a window.
    TransferRate rate(10);
    for (const auto &[seconds, bytes] : GetParam().waits) rate.waited(seconds, bytes);
    EXPECT_EQ(rate.too_slow(), GetParam().too_slow);
    if (GetParam().too_slow) {
        EXPECT_NE(rate.failure().find(GetParam().failure), std::string::npos) << rate.failure();
    }
}

std::vector<std::pair<double, long long>> repeated(int times, double seconds, long long bytes) {
    return std::vector<std::pair<double, long long>>(static_cast<std::size_t>(times), {seconds, bytes});
}

std::vector<std::pair<double, long long>> joined(std::vector<std::pair<double, long long>> a,
                                                 const std::vector<std::pair<double, long long>> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Rates, TransferRates,
    ::testing::Values(
        RateCase{"Silence", {{10, 0}}, true, "timed out: nothing arrived for 10 s"},
        RateCase{"SilenceShorterThanAWindow", {{9.9, 0}}, false, ""},
        RateCase{"TwoBytesASecond", repeated(20, 1, 2), true,
                 "too slow: fewer than 1024 bytes a second arrived over 10 s"},
        RateCase{"JustAtTheFloor", repeated(20, 1, 1024), false, ""},
        RateCase{"FastThenSilentForLessThanAWindow", joined({{1, 1 << 20}}, {{9.5, 0}}), false, ""},
        RateCase{"FastThenSilentForAWindow", joined({{1, 1 << 20}}, {{10, 0}}), true, "timed out: nothing arrived"},
        RateCase{"FastThenTrickling", joined(repeated(5, 1, 1 << 20), repeated(11, 1, 2)), true, "too slow"},
        RateCase{"BurstsNowAndThen", repeated(40, 5, 60000), false, ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TransferRate, PatienceIsTheWaitBeforeTheRuleFails) {
    TransferRate rate(10);
    EXPECT_DOUBLE_EQ(rate.patience(), 10);
    rate.waited(4, 0);
    EXPECT_DOUBLE_EQ(rate.patience(), 6);
    // Enough for a whole window, arrived at 4 s: it stops counting once it is 10 s old.
    rate.waited(0, 20000);
    EXPECT_DOUBLE_EQ(rate.patience(), 10);
    rate.waited(10, 0);
    EXPECT_TRUE(rate.too_slow());
    EXPECT_DOUBLE_EQ(rate.patience(), 0);
}

}  // namespace
