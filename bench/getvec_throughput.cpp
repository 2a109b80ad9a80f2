// Frames per second that getvec delivers reading a whole record, best of
// several passes (each pass reopens the record, so file reading is included).
//
//   getvec_throughput [FOLDER RECORD [PASSES]]
//
// Defaults to record 100 of the test fixtures (650000 frames, format 212).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "wfdb/wfdb.h"

int main(int argc, char **argv) {
    std::string folder = argc > 2 ? argv[1] : SIGTROVE_FIXTURES "/records";
    std::string record = argc > 2 ? argv[2] : "100";
    int passes = argc > 3 ? std::atoi(argv[3]) : 5;
    if (chdir(folder.c_str()) != 0) {
        std::perror(folder.c_str());
        return 1;
    }
    setenv("WFDB", ".", 1);
    int nsig = isigopen(record.data(), nullptr, 0);
    if (nsig <= 0) {
        std::fprintf(stderr, "%s: no signals (%d)\n", record.c_str(), nsig);
        return 1;
    }
    std::vector<WFDB_Siginfo> info(static_cast<std::size_t>(nsig));
    std::vector<WFDB_Sample> v(static_cast<std::size_t>(nsig));
    double best = 0;
    long frames = 0;
    long long checksum = 0;  // keeps the reads from being optimised away
    for (int pass = 0; pass < passes; ++pass) {
        auto start = std::chrono::steady_clock::now();
        if (isigopen(record.data(), info.data(), nsig) != nsig) return 1;
        frames = 0;
        while (getvec(v.data()) > 0) {
            checksum += v[0];
            ++frames;
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::max(best, frames / seconds);
        for (WFDB_Siginfo &s : info) std::free(s.fname), std::free(s.desc), std::free(s.units);
    }
    std::printf("%s: %ld frames of %d signals, best of %d passes: %.1f million frames/s (%.2f ns/frame)\n",
                record.c_str(), frames, nsig, passes, best / 1e6, 1e9 / best);
    return checksum == 42 ? 2 : 0;
}
