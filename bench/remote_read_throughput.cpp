// Reading records from a web server on the loopback address (a real nginx,
// started here), beside the same reads of the local files in the same run:
//
//   1. a whole record (open, then a bulk read of every frame of every signal
//      into int32): time over HTTP against the local read, best of N each;
//   2. 10-second windows of record 100 (30 minutes) at spread-out places: the
//      bytes of 100.dat the server logs for each window, in 64 KiB blocks;
//   3. the cache directory: requests the server logs for a second read of the
//      record in the same process, and for a read by a new process (each file
//      checked once with a conditional request).
//
//   remote_read_throughput [PASSES]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "fixture_files.h"
#include "network/remote_file.h"
#include "network/remote_settings.h"
#include "record/record.h"
#include "signals/array_sink.h"
#include "web_server.h"
#include "wfdb/wfdb.h"

using namespace sigtrove::engine;
using sigtrove::testing::LoggedRequest;
using sigtrove::testing::TempDir;
using sigtrove::testing::WebServer;

namespace {

constexpr long long kBlock = 64 * 1024;

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Opens NAME and reads frames [start, start + count) of every signal (count -1: all); the frames read.
long long read_record(const std::string &name, long long start = 0, long long count = -1) {
    std::unique_ptr<Record> record;
    Status status = Record::open(name, record);
    if (!status.ok()) {
        std::fprintf(stderr, "%s", status.text().c_str());
        std::exit(1);
    }
    std::vector<std::size_t> all(static_cast<std::size_t>(record->signal_count()));
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    long long frames = count >= 0 ? count : record->frame_count();
    std::vector<std::int32_t> out(static_cast<std::size_t>(frames) * all.size());
    auto sink = make_array_sink(SampleType::int32, out.data(), all.size(), SampleRate::frame, {});
    BulkOutcome outcome;
    status = record->read(start, frames, all, *sink, outcome);
    if (!status.ok()) {
        std::fprintf(stderr, "%s", status.text().c_str());
        std::exit(1);
    }
    return outcome.frames;
}

double best_time(const std::string &name, int passes) {
    double best = 1e9;
    for (int pass = 0; pass < passes; ++pass) {
        auto start = std::chrono::steady_clock::now();
        read_record(name);
        best = std::min(best, seconds_since(start));
    }
    return best;
}

std::size_t logged(const WebServer &server) { return server.requests().size(); }

}  // namespace

int main(int argc, char **argv) {
    const int passes = argc > 1 ? std::atoi(argv[1]) : 15;
    const std::string folder = SIGTROVE_FIXTURES "/records";
    wfdbquiet();
    setenv("WFDB", ".", 1);
    unsetenv("SIGTROVE_CACHE");
    if (chdir(folder.c_str()) != 0) {
        std::perror(folder.c_str());
        return 1;
    }
    WebServer server(folder);
    if (!server.failure().empty()) {
        std::fprintf(stderr, "nginx: %s\n", server.failure().c_str());
        return 1;
    }
    if (!remote_files_supported()) {
        std::fprintf(stderr, "this engine was built without libcurl\n");
        return 1;
    }

    std::printf("1. whole record, open + bulk read of every frame into int32, best of %d\n", passes);
    for (const char *name : {"100", "s0010_re"}) {
        read_record(name);  // files into the page cache
        read_record(server.url(name));
        double local = best_time(name, passes);
        double remote = best_time(server.url(name), passes);
        std::printf("   %-9s local %7.3f ms   HTTP %7.3f ms   HTTP/local %.2fx\n", name, local * 1e3, remote * 1e3,
                    remote / local);
    }

    std::printf("2. 10-second windows of record 100 (3600 frames, 10800 bytes of 100.dat)\n");
    long long worst = 0;
    int windows = 0;
    for (long long start = 0; start + 3600 <= 650000; start += 64997) {
        std::size_t before = logged(server);
        read_record(server.url("100"), start, 3600);
        std::vector<LoggedRequest> all = server.requests();
        long long bytes = 0;
        for (std::size_t i = before; i < all.size(); ++i)
            if (all[i].uri == "/100.dat") bytes += all[i].body_bytes;
        worst = std::max(worst, bytes);
        ++windows;
        std::printf("   frame %6lld: %6lld bytes (%.2f blocks)\n", start, bytes, static_cast<double>(bytes) / kBlock);
    }
    std::printf("   largest of %d windows: %lld bytes = %.2f blocks of 64 KiB\n", windows, worst,
                static_cast<double>(worst) / kBlock);

    std::printf("3. the cache directory, record 100 read whole\n");
    TempDir cache;
    set_remote_cache_directory(cache.path());
    reset_remote_state();
    std::size_t before = logged(server);
    read_record(server.url("100"));
    std::size_t first = logged(server) - before;
    before = logged(server);
    read_record(server.url("100"));
    std::size_t second = logged(server) - before;
    reset_remote_state();  // as a new process: nothing checked yet
    before = logged(server);
    read_record(server.url("100"));
    std::vector<LoggedRequest> all = server.requests();
    long long bytes = 0;
    for (std::size_t i = before; i < all.size(); ++i) bytes += all[i].body_bytes;
    double cached = best_time(server.url("100"), passes);
    double local = best_time("100", passes);
    std::printf(
        "   first read: %zu requests; second read: %zu requests; a new process: %zu requests (%lld body bytes)\n",
        first, second, all.size() - before, bytes);
    std::printf("   read through the cache %.3f ms, local %.3f ms: %.2fx\n", cached * 1e3, local * 1e3, cached / local);
    set_remote_cache_directory(std::nullopt);
    return 0;
}
