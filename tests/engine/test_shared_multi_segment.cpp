// The shared multi-segment records (237s: fixed layout with a segment whose
// header does not exist; s25047: variable layout with a layout header, a null
// segment and segments with fewer signals) read through the C interface and
// compared with what the reference returned, where the reference is sound.
// Where it is not, the sound behaviour is asserted: every signal reports the
// record's total length, the record can be reopened, and a segment that can
// not be opened fails only the reads that need it, a seek elsewhere recovering.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "expected_records.h"
#include "fixture_files.h"
#include "header/header.h"
#include "multi_segment/multi_segment_source.h"
#include "paths/database_path.h"
#include "record_header/record_header.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/record_state.h"
#include "wfdb_interface/signal_input.h"

namespace {

using nlohmann::json;
using sigtrove::testing::ExpectedRecord;
using Frame = std::vector<WFDB_Sample>;

Frame invalid_frame(std::size_t width) { return Frame(width, WFDB_INVALID_SAMPLE); }

// What getvec gave: its code and the vector.
struct Read {
    int ret;
    Frame vector;
};

class SharedMultiSegment : public ::testing::TestWithParam<ExpectedRecord> {
protected:
    SharedMultiSegment()
        : expected(sigtrove::testing::load_expected(GetParam())), wfdb("WFDB", "."), cwd(GetParam().folder) {
        sigtrove::engine::reset_database_path();
        sigtrove::engine::reset_record_state();
        sigtrove::engine::reset_signal_input();
        wfdbquiet();
        EXPECT_EQ(sigtrove::engine::read_header(GetParam().record, master), 0);
        total = expected["strtim_e"].get<long>();
        width = expected["signals"].size();
    }
    ~SharedMultiSegment() override {
        free_siginfo();
        sigtrove::engine::reset_signal_input();
    }

    int open(const std::string &name, int n) {
        free_siginfo();
        siginfo.assign(static_cast<std::size_t>(n), WFDB_Siginfo{});
        int r = isigopen(const_cast<char *>(name.c_str()), siginfo.data(), n);
        siginfo.resize(static_cast<std::size_t>(std::max(r, 0)));
        return r;
    }
    int open_record() { return open(GetParam().record, static_cast<int>(width)); }

    void free_siginfo() {
        for (WFDB_Siginfo &s : siginfo) std::free(s.fname), std::free(s.desc), std::free(s.units);
        siginfo.clear();
    }

    Read next(std::size_t slots) {
        Read r{0, Frame(slots, 12345)};
        r.ret = getvec(r.vector.data());
        return r;
    }

    // The reference's fields, except nsamp: every signal reports the record's total length.
    void expect_reference_fields(const WFDB_Siginfo *got, std::size_t count) {
        const json &signals = expected["signals"];
        ASSERT_EQ(count, signals.size());
        for (std::size_t i = 0; i < count; ++i) {
            const WFDB_Siginfo &s = got[i];
            const json &e = signals[i];
            SCOPED_TRACE("signal " + std::to_string(i));
            sigtrove::testing::expect_siginfo_matches(s, e);
            EXPECT_EQ(s.nsamp, total);
        }
    }

    // Reads from the current position until getvec returns <= 0; returns that code.
    int read_to_stop(std::vector<Frame> &frames, std::vector<std::vector<int>> &returns) {
        for (;;) {
            Read r = next(width);
            if (returns.empty() || returns.back()[0] != r.ret) returns.push_back({r.ret, 0});
            ++returns.back()[1];
            if (r.ret <= 0) {
                EXPECT_EQ(r.vector, invalid_frame(width)) << "a frame not delivered leaves no values";
                return r.ret;
            }
            frames.push_back(r.vector);
        }
    }

    void expect_statistics(const std::vector<Frame> &frames, const json &s) {
        for (std::size_t i = 0; i < width; ++i) {
            long long sum = 0, invalid = 0;
            __int128 sumsq = 0;
            int low = frames.empty() ? 0 : frames[0][i], high = low;
            for (const Frame &f : frames) {
                sum += f[i];
                sumsq += static_cast<__int128>(f[i]) * f[i];
                invalid += f[i] == WFDB_INVALID_SAMPLE;
                low = std::min(low, f[i]);
                high = std::max(high, f[i]);
            }
            SCOPED_TRACE("signal " + std::to_string(i));
            EXPECT_EQ(sum, s["sum"][i].get<long long>());
            EXPECT_EQ(static_cast<double>(sumsq), s["sumsq"][i].get<double>());
            EXPECT_EQ(low, s["min"][i].get<int>());
            EXPECT_EQ(high, s["max"][i].get<int>());
            EXPECT_EQ(invalid, s["invalid_count"][i].get<long long>());
        }
    }

    json expected;
    sigtrove::testing::EnvironmentVariable wfdb;
    sigtrove::testing::WorkingDirectory cwd;
    sigtrove::engine::Header master;
    long total = 0;
    std::size_t width = 0;
    std::vector<WFDB_Siginfo> siginfo;
};

TEST_P(SharedMultiSegment, OpensWithTheMasterSignalsFrequencyAndTime) {
    int n = isigopen(const_cast<char *>(GetParam().record.c_str()), nullptr, 0);
    ASSERT_EQ(n, expected["header_open"]["ret"].get<int>());
    EXPECT_EQ(sampfreq(const_cast<char *>(GetParam().record.c_str())), expected["sampfreq"]["value"].get<double>());
    ASSERT_EQ(open_record(), expected["open"]["ret"].get<int>());
    expect_reference_fields(siginfo.data(), siginfo.size());
    EXPECT_EQ(sampfreq(nullptr), expected["sampfreq_after_open"]["value"].get<double>());
    EXPECT_EQ(getcfreq(), expected["sampfreq_after_open"]["getcfreq"].get<double>());
    EXPECT_EQ(std::string(timstr(0)), expected["timstr"]["t0"].get<std::string>());
    for (const json &point : expected["timstr"]["points"])
        EXPECT_EQ(std::string(timstr(point["t"].get<long>())), point["text"].get<std::string>()) << point["label"];

    // The negative-count form fills the same fields from the headers alone (the reference refused it).
    std::vector<WFDB_Siginfo> shallow(width);
    EXPECT_EQ(isigopen(const_cast<char *>(GetParam().record.c_str()), shallow.data(), -n), n);
    expect_reference_fields(shallow.data(), shallow.size());
}

TEST_P(SharedMultiSegment, ReadsFromTheStartAsTheReferenceUntilItStops) {
    ASSERT_EQ(open_record(), static_cast<int>(width));
    const json &s = expected["samples"];
    std::vector<Frame> frames;
    std::vector<std::vector<int>> returns;
    int stop = read_to_stop(frames, returns);
    EXPECT_EQ(json(returns), s["getvec_returns"]) << "getvec counts the current segment's signals";
    EXPECT_EQ(stop, s["stop_ret"].get<int>());
    if (stop == -3) {
        EXPECT_EQ(std::string(wfdberror()), s["wfdberror_at_stop"].get<std::string>());
    }
    // After the stop every read still needs what stopped it: the same code again (the reference gave -1).
    for (std::size_t k = 0; k < s["after_stop"].size(); ++k) EXPECT_EQ(next(width).ret, stop);
    ASSERT_EQ(static_cast<long>(frames.size()), s["frames_delivered"].get<long>());
    for (std::size_t f = 0; f < s["first"].size(); ++f) EXPECT_EQ(json(frames[f]), s["first"][f]) << "frame " << f;
    auto last_start = s["last_start_index"].get<std::size_t>();
    for (std::size_t f = 0; f < s["last"].size(); ++f)
        EXPECT_EQ(json(frames[last_start + f]), s["last"][f]) << "frame " << last_start + f;
    expect_statistics(frames, s);
}

// The frames of a fixed-layout record come unchanged from its segments: each
// segment read on its own is what the record holds in that stretch.
class FixedLayoutModel {
public:
    FixedLayoutModel(const sigtrove::engine::Header &master, std::size_t width) : master_(master), width_(width) {
        for (const auto &segment : master.segments) {
            if (segments_.count(segment.name)) continue;
            std::vector<WFDB_Siginfo> info(width);
            int n = isigopen(const_cast<char *>(segment.name.c_str()), info.data(), static_cast<int>(width));
            for (int i = 0; i < n; ++i) std::free(info[i].fname), std::free(info[i].desc), std::free(info[i].units);
            std::vector<Frame> frames;
            Frame v(width);
            while (n == static_cast<int>(width) && getvec(v.data()) > 0) frames.push_back(v);
            if (n > 0) segments_[segment.name] = std::move(frames);
        }
    }

    const sigtrove::engine::SegmentSpec &segment_at(long t) const {
        for (const auto &segment : master_.segments)
            if (t >= segment.start && t < segment.start + segment.nsamp) return segment;
        return master_.segments.back();
    }
    // The frame at t, or null when its segment can not be read.
    const Frame *frame_at(long t) const {
        const auto &segment = segment_at(t);
        auto found = segments_.find(segment.name);
        return found == segments_.end() ? nullptr : &found->second.at(static_cast<std::size_t>(t - segment.start));
    }
    bool readable(const sigtrove::engine::SegmentSpec &segment) const { return segments_.count(segment.name) > 0; }
    std::size_t frames_of(const std::string &name) const { return segments_.at(name).size(); }

private:
    const sigtrove::engine::Header &master_;
    std::size_t width_;
    std::map<std::string, std::vector<Frame>> segments_;
};

// The records of one layout kind.
class SharedFixedLayout : public SharedMultiSegment {};
class SharedVariableLayout : public SharedMultiSegment {};

TEST_P(SharedFixedLayout, ReachesEverySegmentWhileOneCanNotBeOpened) {
    FixedLayoutModel model(master, width);
    ASSERT_EQ(open_record(), static_cast<int>(width));
    // Last segment first, so that no seek lands where reading already stands (a seek there does nothing).
    for (auto segment = master.segments.rbegin(); segment != master.segments.rend(); ++segment) {
        SCOPED_TRACE("segment " + segment->name + " at " + std::to_string(segment->start));
        if (!model.readable(*segment)) {
            EXPECT_EQ(isigsettime(segment->start), -1);
            EXPECT_EQ(std::string(wfdberror()), "isigsettime: can't open segment " + segment->name + "\n");
            EXPECT_EQ(next(width).ret, -3);
            EXPECT_EQ(std::string(wfdberror()), "getvec: error opening segment " + segment->name + "\n");
            continue;
        }
        ASSERT_EQ(model.frames_of(segment->name), static_cast<std::size_t>(segment->nsamp));
        ASSERT_EQ(isigsettime(segment->start), 0);
        for (long f = segment->start; f < segment->start + segment->nsamp; ++f) {
            Read r = next(width);
            ASSERT_EQ(r.ret, static_cast<int>(width)) << "frame " << f;
            ASSERT_EQ(r.vector, *model.frame_at(f)) << "frame " << f;
        }
    }
    // Reading on from the end of segment 0 enters segment 1.
    EXPECT_EQ(next(width).ret, model.frame_at(master.segments[0].nsamp) ? static_cast<int>(width) : -3);
    ASSERT_EQ(isigsettime(total - 1), 0);
    EXPECT_EQ(next(width).ret, static_cast<int>(width));
    EXPECT_EQ(next(width).ret, -1) << "the end of the last segment is the end of the record";
}

// isigsettime(t) then five frames, as the sound engine must give them for a
// fixed-layout record: frames of readable segments, -3 with the segment's text
// for each frame of one that can not be opened, -1 past the end.
void expect_seek_in_fixed_layout(const FixedLayoutModel &model, long total, std::size_t width, long t,
                                 std::size_t frames) {
    SCOPED_TRACE("isigsettime(" + std::to_string(t) + ")");
    long target = t < 0 ? -t : t;
    int r = isigsettime(t);
    if (target >= total) {
        EXPECT_EQ(r, -1);
        EXPECT_EQ(std::string(wfdberror()), "isigsettime: improper seek on signal group 0\n");
    } else if (!model.frame_at(target)) {
        EXPECT_EQ(r, -1);
        EXPECT_EQ(std::string(wfdberror()), "isigsettime: can't open segment " + model.segment_at(target).name + "\n");
    } else {
        EXPECT_EQ(r, 0);
    }
    for (long f = target; f < target + static_cast<long>(frames); ++f) {
        Frame v(width, 12345);
        int got = getvec(v.data());
        if (f >= total) {
            EXPECT_EQ(got, -1);
            EXPECT_EQ(v, invalid_frame(width));
        } else if (!model.frame_at(f)) {
            EXPECT_EQ(got, -3) << "frame " << f;
            EXPECT_EQ(std::string(wfdberror()), "getvec: error opening segment " + model.segment_at(f).name + "\n");
        } else {
            EXPECT_EQ(got, static_cast<int>(width)) << "frame " << f;
            EXPECT_EQ(v, *model.frame_at(f)) << "frame " << f;
        }
    }
}

// The reference's seeks in a fixed-layout record follow its failed segment and refused reopen: not sound.
TEST_P(SharedFixedLayout, SeeksAsTheSoundEngineMustAfterReadingAndAfterReopening) {
    FixedLayoutModel model(master, width);
    ASSERT_EQ(open_record(), static_cast<int>(width));
    std::vector<Frame> frames;
    std::vector<std::vector<int>> returns;
    read_to_stop(frames, returns);
    for (const char *section : {"seek", "seek_after_reopen"}) {
        SCOPED_TRACE(section);
        if (std::string(section) == "seek_after_reopen") {
            ASSERT_EQ(open_record(), static_cast<int>(width));
        }
        for (const json &call : expected[section]["calls"])
            expect_seek_in_fixed_layout(model, total, width, call["t"].get<long>(), call["frames"].size());
    }
}

TEST_P(SharedVariableLayout, SeeksAsTheReferenceAfterReadingAndAfterReopening) {
    ASSERT_EQ(open_record(), static_cast<int>(width));
    std::vector<Frame> frames;
    std::vector<std::vector<int>> returns;
    read_to_stop(frames, returns);
    for (const char *section : {"seek", "seek_after_reopen"}) {
        SCOPED_TRACE(section);
        // The reference refused the reopen; its frames after starting afresh are the sound ones.
        if (std::string(section) == "seek_after_reopen") {
            ASSERT_EQ(open_record(), static_cast<int>(width));
        }
        for (const json &call : expected[section]["calls"]) {
            SCOPED_TRACE("isigsettime(" + std::to_string(call["t"].get<long>()) + ")");
            std::string before = wfdberror();
            int r = isigsettime(call["t"].get<long>());
            EXPECT_EQ(r, call["ret"].get<int>());
            EXPECT_EQ(std::string(wfdberror()), r < 0 ? call["wfdberror"].get<std::string>() : before);
            for (const json &e : call["frames"]) {
                Read got = next(width);
                EXPECT_EQ(got.ret, e["ret"].get<int>());
                EXPECT_EQ(json(got.vector), got.ret > 0 ? e["vector"] : json(invalid_frame(width)));
            }
        }
    }
}

TEST_P(SharedMultiSegment, PlusFormsAddTheRecordAgain) {
    const std::string plus = "+" + GetParam().record;
    const int n = static_cast<int>(width);
    EXPECT_EQ(isigopen(const_cast<char *>(plus.c_str()), nullptr, 0), n);
    EXPECT_EQ(isigopen(const_cast<char *>("nosuchrecord"), nullptr, 0), -1);
    std::vector<WFDB_Siginfo> info(2 * width);
    EXPECT_EQ(isigopen(const_cast<char *>(plus.c_str()), info.data(), n), n);
    EXPECT_EQ(isigopen(const_cast<char *>(plus.c_str()), info.data() + n, n), n);
    for (WFDB_Siginfo &s : info) std::free(s.fname), std::free(s.desc), std::free(s.units);
    // Each copy counts its current segment's signals.
    const int first_count = expected["samples"]["getvec_returns"][0][0].get<int>();
    EXPECT_EQ(next(2 * width).ret, 2 * first_count);
}

enum class Layouts { all, fixed, variable };

// The shared records whose header is a multi-segment master, of the layouts
// asked for. Decided from the header text alone: reading headers through the
// engine while tests are being listed would record texts.
std::vector<ExpectedRecord> multi_segment_records(Layouts layouts) {
    std::vector<ExpectedRecord> found;
    for (const ExpectedRecord &record : sigtrove::testing::expected_records()) {
        std::istringstream text(sigtrove::testing::read_file(record.folder + "/" + record.record + ".hea"));
        std::vector<std::string> lines;
        for (std::string line; lines.size() < 2 && std::getline(text, line);)
            if (line.find_first_not_of(" \t\r") != std::string::npos && line[line.find_first_not_of(" \t")] != '#')
                lines.push_back(line);
        std::string name, segment;
        long segment_length = -1;
        if (lines.size() < 2 || !(std::istringstream(lines[0]) >> name) || name.find('/') == std::string::npos)
            continue;
        std::istringstream(lines[1]) >> segment >> segment_length;
        // Segment 0 of length 0 is the layout header of a variable layout.
        bool variable = segment_length == 0 && segment != "~";
        if (layouts == Layouts::all || variable == (layouts == Layouts::variable)) found.push_back(record);
    }
    return found;
}

std::string name_of(const ::testing::TestParamInfo<ExpectedRecord> &info) {
    return sigtrove::testing::test_name_of(info.param);
}

INSTANTIATE_TEST_SUITE_P(Records, SharedMultiSegment, ::testing::ValuesIn(multi_segment_records(Layouts::all)),
                         name_of);
INSTANTIATE_TEST_SUITE_P(Records, SharedFixedLayout, ::testing::ValuesIn(multi_segment_records(Layouts::fixed)),
                         name_of);
INSTANTIATE_TEST_SUITE_P(Records, SharedVariableLayout, ::testing::ValuesIn(multi_segment_records(Layouts::variable)),
                         name_of);

}  // namespace
