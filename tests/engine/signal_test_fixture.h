// A fixture for tests that read signals through the C interface: records
// written into a temporary working directory, the signal state reset around
// each test, and helpers that open a record and read frames.
#ifndef SIGTROVE_TESTS_SIGNAL_TEST_FIXTURE_H
#define SIGTROVE_TESTS_SIGNAL_TEST_FIXTURE_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "record_dir_fixture.h"
#include "record_writer.h"
#include "wfdb/wfdb.h"
#include "wfdb_interface/signal_input.h"

namespace sigtrove::testing {

using Frame = std::vector<WFDB_Sample>;

// getvec results: the frames delivered, then the code that ended the read.
struct ReadResult {
    std::vector<Frame> frames;
    int stop = 0;
};

class SignalTest : public RecordDirTest {
protected:
    SignalTest() { engine::reset_signal_input(); }
    ~SignalTest() override {
        release();
        engine::reset_signal_input();
    }

    void write(const RecordToWrite &record) { write_record(dir.path(), record); }

    // isigopen(name, siginfo, nsig) with room for nsig signals; siginfo keeps
    // what it filled (its texts are freed at the next open or at the end).
    int open(const std::string &name, int nsig = 64) {
        release();
        siginfo.assign(static_cast<std::size_t>(nsig > 0 ? nsig : 1), WFDB_Siginfo{});
        int n = isigopen(const_cast<char *>(name.c_str()), siginfo.data(), nsig);
        opened = n > 0 ? n : 0;
        siginfo.resize(static_cast<std::size_t>(opened));
        return n;
    }

    // Reads up to `limit` frames with `width` slots each; stops at the first code <= 0 or -4.
    static ReadResult read_frames(std::size_t width, long limit = -1) {
        ReadResult r;
        Frame v(width);
        for (long i = 0; limit < 0 || i < limit; ++i) {
            r.stop = getvec(v.data());
            if (r.stop <= 0 && r.stop != -4) return r;
            r.frames.push_back(v);
            if (r.stop == -4) return r;
        }
        return r;
    }
    ReadResult read_all() const { return read_frames(static_cast<std::size_t>(opened)); }

    std::string last_error() const { return wfdberror(); }

    std::vector<WFDB_Siginfo> siginfo;
    int opened = 0;

private:
    void release() {
        for (WFDB_Siginfo &s : siginfo) {
            std::free(s.fname);
            std::free(s.desc);
            std::free(s.units);
        }
        siginfo.clear();
    }
};

// One signal's samples frame by frame, for building expected frames.
inline std::vector<Frame> frames_of(const std::vector<std::vector<int>> &columns) {
    std::vector<Frame> frames(columns.empty() ? 0 : columns[0].size());
    for (std::size_t f = 0; f < frames.size(); ++f)
        for (const auto &c : columns) frames[f].push_back(c[f]);
    return frames;
}

}  // namespace sigtrove::testing

#endif
