// Every shared single-segment record read through the C interface, in the
// order the reference run made its calls, compared with what the reference
// returned. Where the reference is faulty the engine's sound behaviour is
// asserted instead: no stale values in a vector that was not delivered, a text
// for every failed seek, format 8 values after a seek equal to those read from
// the start, and no position for format 0 signals of unknown length.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <string>
#include <vector>

#include "errors/error_state.h"
#include "expected_records.h"
#include "fixture_files.h"
#include "header/header.h"
#include "paths/database_path.h"
#include "record_header/record_header.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"
#include "wfdb_interface/signal_input.h"

namespace {

using nlohmann::json;
using sigtrove::testing::ExpectedRecord;
using Frame = std::vector<WFDB_Sample>;

const Frame &invalid_frame(std::size_t width) {
    static Frame frame;
    frame.assign(width, WFDB_INVALID_SAMPLE);
    return frame;
}

// Where the reference still showed its version line (no text recorded yet),
// ours must show whatever it showed before: the call recorded nothing.
std::string our_text(const std::string &reference_text, const std::string &before) {
    return reference_text.rfind("WFDB library version", 0) == 0 ? before : reference_text;
}

bool is_flac(int fmt) { return fmt == 508 || fmt == 516 || fmt == 524; }

class SharedRecordSamples : public ::testing::TestWithParam<ExpectedRecord> {
protected:
    SharedRecordSamples()
        : expected(sigtrove::testing::load_expected(GetParam())), wfdb("WFDB", "."), cwd(GetParam().folder) {
        sigtrove::engine::reset_database_path();
        sigtrove::engine::reset_record_state();
        sigtrove::engine::reset_signal_input();
        wfdbquiet();
    }
    ~SharedRecordSamples() override {
        free_siginfo();
        sigtrove::engine::reset_signal_input();
    }

    int open_with_signals(int n) {
        free_siginfo();
        siginfo.assign(static_cast<std::size_t>(n), WFDB_Siginfo{});
        int r = isigopen(record_name(), siginfo.data(), n);
        siginfo.resize(static_cast<std::size_t>(std::max(r, 0)));
        return r;
    }

    char *record_name() { return const_cast<char *>(GetParam().record.c_str()); }

    void free_siginfo() {
        for (WFDB_Siginfo &s : siginfo) std::free(s.fname), std::free(s.desc), std::free(s.units);
        siginfo.clear();
    }

    void compare_signals() {
        const json &signals = expected["signals"];
        ASSERT_EQ(siginfo.size(), signals.size());
        for (std::size_t i = 0; i < siginfo.size(); ++i) {
            const WFDB_Siginfo &s = siginfo[i];
            const json &e = signals[i];
            SCOPED_TRACE("signal " + std::to_string(i));
            sigtrove::testing::expect_siginfo_matches(s, e);
            EXPECT_EQ(s.nsamp, e["nsamp"].get<long>());
        }
    }

    // Reads from the start to the end, as the reference did; keeps every frame.
    void compare_full_read() {
        const json &s = expected["samples"];
        const std::size_t width = siginfo.size();
        const std::string before = wfdberror();
        Frame v(width);
        std::vector<std::vector<int>> returns;
        int r;
        while ((r = getvec(v.data())) > 0) {
            all.push_back(v);
            if (returns.empty() || returns.back()[0] != r) returns.push_back({r, 0});
            ++returns.back()[1];
        }
        returns.push_back({r, 1});
        position = static_cast<long>(all.size()) + 1;
        EXPECT_EQ(static_cast<long>(all.size()), s["frames_delivered"].get<long>());
        EXPECT_EQ(json(returns), s["getvec_returns"]);
        EXPECT_EQ(r, s["stop_ret"].get<int>());
        EXPECT_EQ(std::string(wfdberror()), our_text(s["wfdberror_at_stop"], before));
        EXPECT_EQ(v, invalid_frame(width)) << "the frame not delivered";
        for (const json &after : s["after_stop"]) {
            v.assign(width, 12345);
            EXPECT_EQ(getvec(v.data()), after["ret"].get<int>());
            EXPECT_EQ(v, invalid_frame(width));
            ++position;
        }
        for (std::size_t f = 0; f < s["first"].size() && f < all.size(); ++f)
            EXPECT_EQ(json(all[f]), s["first"][f]) << "frame " << f;
        auto last_start = s["last_start_index"].get<std::size_t>();
        for (std::size_t f = 0; f < s["last"].size() && last_start + f < all.size(); ++f)
            EXPECT_EQ(json(all[last_start + f]), s["last"][f]) << "frame " << last_start + f;
        compare_statistics(s);
    }

    void compare_statistics(const json &s) {
        for (std::size_t i = 0; i < siginfo.size(); ++i) {
            long long sum = 0, invalid = 0;
            __int128 sumsq = 0;
            int low = 0, high = 0;
            for (std::size_t f = 0; f < all.size(); ++f) {
                int x = all[f][i];
                sum += x;
                sumsq += static_cast<__int128>(x) * x;
                invalid += x == WFDB_INVALID_SAMPLE;
                low = f == 0 ? x : std::min(low, x);
                high = f == 0 ? x : std::max(high, x);
            }
            SCOPED_TRACE("signal " + std::to_string(i));
            EXPECT_EQ(sum, s["sum"][i].get<long long>());
            // Sums of squares can exceed 64 bits; the file then holds them as doubles.
            if (s["sumsq"][i].is_number_integer())
                EXPECT_EQ(static_cast<long long>(sumsq), s["sumsq"][i].get<long long>());
            else
                EXPECT_EQ(static_cast<double>(sumsq), s["sumsq"][i].get<double>());
            EXPECT_EQ(low, s["min"][i].get<int>());
            EXPECT_EQ(high, s["max"][i].get<int>());
            EXPECT_EQ(invalid, s["invalid_count"][i].get<long long>());
        }
    }

    bool only_null_signals_of_unknown_length() const {
        for (const WFDB_Siginfo &s : siginfo)
            if (s.fmt != 0 || s.nsamp != 0) return false;
        return !siginfo.empty();
    }

    void compare_seeks(const json &section) {
        const std::size_t width = siginfo.size();
        for (const json &call : section["calls"]) {
            long t = call["t"].get<long>();
            SCOPED_TRACE("isigsettime(" + std::to_string(t) + ")");
            std::string before = wfdberror();
            int expected_ret = call["ret"].get<int>();
            // Format 0 signals of unknown length have no position: every real seek fails.
            if (only_null_signals_of_unknown_length()) expected_ret = t == position ? 0 : -1;
            int r = isigsettime(t);
            EXPECT_EQ(r, expected_ret);
            if (r < 0)
                EXPECT_EQ(std::string(wfdberror()).rfind("isigsettime: ", 0), 0u) << wfdberror();
            else
                EXPECT_EQ(std::string(wfdberror()), before);
            long frame = t < 0 ? -t : t;
            position = frame;
            for (const json &e : call["frames"]) {
                Frame v(width, 12345);
                int got = getvec(v.data());
                EXPECT_EQ(got, e["ret"].get<int>()) << "frame " << frame;
                if (got == -1 || got == -3) {
                    EXPECT_EQ(v, invalid_frame(width));
                } else {
                    for (std::size_t i = 0; i < width; ++i) {
                        // Format 8 values after a seek are recomputed: they equal those read from the start.
                        int want = siginfo[i].fmt == 8 ? all.at(static_cast<std::size_t>(frame))[i]
                                                       : e["vector"][i].get<int>();
                        EXPECT_EQ(v[i], want) << "frame " << frame << ", signal " << i;
                    }
                }
                ++frame;
                ++position;
            }
        }
    }

    json expected;
    sigtrove::testing::EnvironmentVariable wfdb;
    sigtrove::testing::WorkingDirectory cwd;
    std::vector<WFDB_Siginfo> siginfo;
    std::vector<Frame> all;
    long position = 0;  // where the engine's position counter stands, as the calls move it
};

TEST_P(SharedRecordSamples, MatchesTheReference) {
    sigtrove::engine::Header header;
    if (sigtrove::engine::read_header(GetParam().record, header) == 0 && header.multi_segment)
        GTEST_SKIP() << "multi-segment records are compared in test_shared_multi_segment.cpp";
    sigtrove::engine::reset_database_path();
    int n = isigopen(record_name(), nullptr, 0);
    EXPECT_EQ(n, expected["header_open"]["ret"].get<int>());
    const json &open = expected["open"];
    if (!open.value("called", false)) return;
    const std::string before = wfdberror();
    int opened = open_with_signals(n);
    bool flac = false;
    for (const json &s : expected["header_signals"].value("signals", json::array()))
        flac = flac || is_flac(s["fmt"].get<int>());
    if (flac && opened != open["ret"].get<int>()) GTEST_SKIP() << "FLAC groups can not be read by this build";
    ASSERT_EQ(opened, open["ret"].get<int>());
    if (opened <= 0) {
        EXPECT_EQ(std::string(wfdberror()), our_text(open["wfdberror"], before));
        return;
    }
    compare_signals();
    compare_full_read();
    compare_seeks(expected["seek"]);

    const json &reopen = expected["seek_after_reopen"];
    ASSERT_EQ(open_with_signals(n), reopen["reopen_ret"].get<int>());
    position = 0;
    compare_seeks(reopen);

    // The '+' forms keep what is open and add the record's signals again.
    const json &errors = expected["errors"];
    EXPECT_EQ(isigopen(const_cast<char *>(("+" + GetParam().record).c_str()), nullptr, 0),
              errors["isigopen_plus_header_only"]["ret"].get<int>());
    EXPECT_EQ(isigopen(const_cast<char *>("nosuchrecord"), nullptr, 0), -1);
    std::vector<WFDB_Siginfo> more(static_cast<std::size_t>(n));
    for (const char *key : {"isigopen_plus_full_after_close", "isigopen_plus_full_again"}) {
        int r = isigopen(const_cast<char *>(("+" + GetParam().record).c_str()), more.data(), n);
        EXPECT_EQ(r, errors[key]["ret"].get<int>()) << key;
        for (int i = 0; i < r; ++i) std::free(more[i].fname), std::free(more[i].desc), std::free(more[i].units);
    }
}

std::vector<ExpectedRecord> records_with_headers() { return sigtrove::testing::expected_records(); }

INSTANTIATE_TEST_SUITE_P(Records, SharedRecordSamples, ::testing::ValuesIn(records_with_headers()),
                         [](const auto &info) { return sigtrove::testing::test_name_of(info.param); });

}  // namespace
