// Records read from hostile web servers: the tests' own fault server on the
// loopback address misbehaving one way per row (a body without end, a trickle,
// a redirect to another host, a Content-Length that is no number, a header that
// names its files elsewhere), and nginx for the redirects between schemes. Each
// ends in a typed failure whose text names the URL and the bound it hit, within
// a few timeouts; a record's files come only from its own directory on its own
// server; and no text shows the user name and password a URL carries.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "fault_server.h"
#include "fixture_files.h"
#include "header/record_memory.h"
#include "network/remote_file.h"
#include "network/remote_settings.h"
#include "record/record.h"
#include "signals/array_sink.h"
#include "web_server.h"
#include "wfdb/wfdb.h"

namespace {

namespace fs = std::filesystem;
using sigtrove::engine::BulkOutcome;
using sigtrove::engine::ErrorKind;
using sigtrove::engine::Record;
using sigtrove::engine::SampleRate;
using sigtrove::engine::SampleType;
using sigtrove::engine::Status;
using sigtrove::testing::EnvironmentVariable;
using sigtrove::testing::FaultConnection;
using sigtrove::testing::FaultRequest;
using sigtrove::testing::FaultServer;
using sigtrove::testing::read_file;
using sigtrove::testing::response_head;
using sigtrove::testing::TempDir;

const std::string kRecords = SIGTROVE_FIXTURES "/records";
constexpr long long kHugeLength = 100'000'000'000'000LL;

enum class Fault { none, endless, endless_all, trickle, trickle_head, cross_host, bad_length, huge };

// "127.0.0.1:PORT" of a request's Host header becomes "localhost:PORT": the same server by another name.
std::string other_host(const FaultRequest &request) {
    return "localhost" + request.host.substr(request.host.find(':'));
}

// The files served: record 100 as it is, and headers that name their signal files elsewhere.
std::optional<std::string> served_file(const std::string &path, const FaultRequest &request) {
    const std::string here = "http://" + request.host;
    const std::string signal_line = " 16 200 16 0 0 0 0 x\n";
    if (path == "/db/100.hea") return read_file(kRecords + "/100.hea");
    if (path == "/db/100.dat" || path == "/other/100.dat") return read_file(kRecords + "/100.dat");
    if (path == "/db/other-host.hea")
        return "other-host 1 360 100\nhttp://" + other_host(request) + "/db/100.dat" + signal_line;
    if (path == "/db/other-directory.hea") return "other-directory 1 360 100\n" + here + "/other/100.dat" + signal_line;
    if (path == "/db/encoded-climb.hea") return "encoded-climb 1 360 100\n%2e%2e/other/100.dat" + signal_line;
    if (path == "/db/own-directory.hea") return "own-directory 1 360 100\n" + here + "/db/100.dat" + signal_line;
    if (path == "/db/segment-elsewhere.hea")
        return "segment-elsewhere/1 1 360 100\nhttp://" + other_host(request) + "/db/100 100\n";
    return std::nullopt;
}

// One answer of a server that honours ranges, with `fault` in it where the fault lies
// (for most faults only in data, the files that are not headers).
bool answer(Fault fault, const FaultRequest &request, FaultConnection &out) {
    const std::string path = request.path.substr(0, request.path.find('?'));
    const bool is_data = path.size() < 4 || path.compare(path.size() - 4, 4, ".hea") != 0;
    const bool body = request.method != "HEAD";
    if (fault == Fault::cross_host) {
        out.send(response_head(302, {{"Location", "http://" + other_host(request) + path}, {"Content-Length", "0"}}));
        return true;
    }
    std::optional<std::string> file = served_file(path, request);
    if (!file) {
        out.send(response_head(404, {{"Content-Length", "0"}}));
        return true;
    }
    if (fault == Fault::endless_all || (fault == Fault::endless && is_data)) {
        // No length, whatever range was asked for, and no end.
        if (!out.send(response_head(200, {{"Connection", "close"}})) || !body) return false;
        if (!out.send(*file)) return false;
        const std::string filler(64 << 10, 'x');
        for (long long sent = 0; sent < (8LL << 30) && out.send(filler);) sent += static_cast<long long>(filler.size());
        return false;
    }
    const long long size = fault == Fault::huge && is_data ? kHugeLength : static_cast<long long>(file->size());
    long long first = 0, last = size - 1;
    int status = 200;
    std::smatch range;
    if (std::regex_match(request.range, range, std::regex(R"(bytes=(\d+)-(\d*))"))) {
        first = std::stoll(range[1]);
        last = std::min(range[2].length() ? std::stoll(range[2]) : size - 1, size - 1);
        if (fault == Fault::huge && is_data) last = std::min(last, first + (1 << 20) - 1);
        status = 206;
    }
    // The file's bytes, zeros past them up to a range's end (a whole answer of /huge/ stops short).
    std::string bytes = first < static_cast<long long>(file->size())
                            ? file->substr(static_cast<std::size_t>(first), static_cast<std::size_t>(last - first + 1))
                            : std::string();
    if (status == 206) bytes.resize(static_cast<std::size_t>(last - first + 1), '\0');
    std::vector<std::pair<std::string, std::string>> fields{
        {"Content-Length", status == 200 ? std::to_string(size) : std::to_string(bytes.size())},
        {"Accept-Ranges", "bytes"}};
    if (status == 206)
        fields.emplace_back("Content-Range",
                            "bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" + std::to_string(size));
    if (fault == Fault::bad_length) fields[0].second += "abc";
    const std::string head = response_head(status, fields);
    if (!(fault == Fault::trickle_head ? out.trickle(head) : out.send(head))) return false;
    if (!body) return true;
    const bool sent = fault == Fault::trickle && is_data ? out.trickle(bytes) : out.send(bytes);
    return sent && status == 206 ? true : sent && static_cast<long long>(bytes.size()) == size;
}

struct Outcome {
    Status open, read;
    std::vector<std::int32_t> samples;
    double seconds = 0;
};

Outcome open_and_read(const std::string &url, long long frames = 1000) {
    Outcome out;
    const auto started = std::chrono::steady_clock::now();
    std::unique_ptr<Record> record;
    out.open = Record::open(url, record);
    if (out.open.ok()) {
        std::vector<std::size_t> all(static_cast<std::size_t>(record->signal_count()));
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
        out.samples.assign(static_cast<std::size_t>(frames) * all.size(), 0);
        auto sink = make_array_sink(SampleType::int32, out.samples.data(), all.size(), SampleRate::frame, {});
        BulkOutcome outcome;
        out.read = record->read(0, frames, all, *sink, outcome);
        out.samples.resize(static_cast<std::size_t>(outcome.frames) * all.size());
    }
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return out;
}

// The samples of the first frames of local record 100.
std::vector<std::int32_t> local_samples(long long frames) {
    sigtrove::testing::WorkingDirectory cwd(kRecords);
    EnvironmentVariable wfdb("WFDB", ".");
    return open_and_read("100", frames).samples;
}

class HostileServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
        wfdbquiet();
        // An answer without a length is refused after a megabyte; a stretch of a second below the floor fails.
        sigtrove::engine::set_max_record_memory(1 << 20);
    }
    void TearDown() override { sigtrove::engine::set_max_record_memory(0); }

    EnvironmentVariable timeout_{"SIGTROVE_TIMEOUT", "1"};
    EnvironmentVariable cache_{"SIGTROVE_CACHE", std::nullopt};
};

struct HostileCase {
    const char *name;
    Fault fault;
    const char *record;  // its path on the server
    bool fails_at_open;  // else at the read
    ErrorKind kind;
    const char *text;  // a part of the failure's text
};

class HostileServers : public HostileServerTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileServers, EndInAClearFailureWithinTheirBound) {
    const HostileCase &c = GetParam();
    FaultServer server(
        [&c](const FaultRequest &request, FaultConnection &out) { return answer(c.fault, request, out); });
    ASSERT_NE(server.port(), 0);
    const std::string url = server.url(c.record);
    Outcome outcome = open_and_read(url);
    const Status &failure = c.fails_at_open ? outcome.open : outcome.read;
    ASSERT_EQ(outcome.open.ok(), !c.fails_at_open) << outcome.open.text();
    ASSERT_FALSE(failure.ok());
    EXPECT_EQ(failure.kind(), c.kind) << failure.text();
    EXPECT_NE(failure.text().find(c.text), std::string::npos) << failure.text();
    // It names the record, or the record's directory that the name refused is not in.
    EXPECT_NE(failure.text().find(server.url("db")), std::string::npos) << failure.text();
    // Within a few timeouts of a second (a trickle is given up after one).
    EXPECT_LT(outcome.seconds, 10) << failure.text();
    // Nothing was fetched from the other host, nor from another directory.
    for (const FaultRequest &request : server.requests()) {
        EXPECT_EQ(request.host.rfind("127.0.0.1:", 0), 0u) << request.path;
        EXPECT_NE(request.path, "/other/100.dat");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Servers, HostileServers,
    ::testing::Values(HostileCase{"EndlessBodyWithoutLength", Fault::endless, "db/100", false, ErrorKind::remote,
                                  "the server sent more than 1 MB without saying how long the file is"},
                      HostileCase{"EndlessHeaderWithoutLength", Fault::endless_all, "db/100", true, ErrorKind::remote,
                                  "the server sent more than 1 MB without saying how long the file is"},
                      HostileCase{"TricklingBody", Fault::trickle, "db/100", false, ErrorKind::remote,
                                  "too slow: fewer than 1024 bytes a second arrived over 1 s"},
                      HostileCase{"TricklingHead", Fault::trickle_head, "db/100", true, ErrorKind::remote,
                                  "timed out: no answer (a whole response head) within 1 s"},
                      HostileCase{"RedirectToAnotherHost", Fault::cross_host, "db/100", true, ErrorKind::remote,
                                  "redirected to http://localhost:"},
                      HostileCase{"ContentLengthThatIsNoNumber", Fault::bad_length, "db/100", true, ErrorKind::remote,
                                  "the server's Content-Length '"},
                      HostileCase{"SignalFileOnAnotherHost", Fault::none, "db/other-host", true, ErrorKind::remote,
                                  "not in the record's own directory"},
                      HostileCase{"SignalFileInAnotherDirectory", Fault::none, "db/other-directory", true,
                                  ErrorKind::remote, "not in the record's own directory"},
                      HostileCase{"SignalFileThatClimbsEncoded", Fault::none, "db/encoded-climb", true,
                                  ErrorKind::remote, "not in the record's own directory"},
                      HostileCase{"SegmentOnAnotherHost", Fault::none, "db/segment-elsewhere", true, ErrorKind::remote,
                                  "not in the record's own directory"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(HostileServerTest, ASignalFileNamedByAUrlInItsOwnDirectoryIsRead) {
    FaultServer server(
        [](const FaultRequest &request, FaultConnection &out) { return answer(Fault::none, request, out); });
    Outcome outcome = open_and_read(server.url("db/own-directory"), 100);
    ASSERT_TRUE(outcome.open.ok()) << outcome.open.text();
    ASSERT_TRUE(outcome.read.ok()) << outcome.read.text();
    EXPECT_EQ(outcome.samples.size(), 100u);
}

TEST_F(HostileServerTest, AHugeClaimedLengthCostsTheCacheNothing) {
    // The HEAD of the signal file says 10^14 bytes: the cache keeps what it holds, not what is claimed.
    TempDir cache;
    sigtrove::engine::set_remote_cache_directory(cache.path());
    FaultServer server(
        [](const FaultRequest &request, FaultConnection &out) { return answer(Fault::huge, request, out); });
    Outcome outcome = open_and_read(server.url("db/100"), 1000);
    sigtrove::engine::set_remote_cache_directory(std::nullopt);
    ASSERT_TRUE(outcome.open.ok()) << outcome.open.text();
    ASSERT_TRUE(outcome.read.ok()) << outcome.read.text();
    EXPECT_EQ(outcome.samples, local_samples(1000));
    const std::string entry = cache / ("127.0.0.1_" + std::to_string(server.port()) + "/db/100.dat.sigtrove-cache");
    const std::string record = read_file(entry);
    EXPECT_NE(record.find("\nsize 100000000000000\n"), std::string::npos) << record;
    EXPECT_NE(record.find("\nblocks 0\n"), std::string::npos) << record;
    EXPECT_LT(record.size(), 1024u);
}

TEST_F(HostileServerTest, NoTextShowsTheCredentialsOfAUrl) {
    FaultServer server(
        [](const FaultRequest &request, FaultConnection &out) { return answer(Fault::none, request, out); });
    for (const char *path : {"db/missing", "db/other-host"}) {
        std::string url = server.url(path);
        url.insert(url.find("//") + 2, "someone:s3cret@");
        Outcome outcome = open_and_read(url);
        ASSERT_FALSE(outcome.open.ok());
        EXPECT_EQ(outcome.open.text().find("s3cret"), std::string::npos) << outcome.open.text();
        EXPECT_EQ(outcome.open.text().find("someone"), std::string::npos) << outcome.open.text();
        EXPECT_NE(outcome.open.text().find(server.url(path)), std::string::npos) << outcome.open.text();
        // The C interface's last text too.
        std::string name = url;
        WFDB_Siginfo info[4];
        EXPECT_LT(isigopen(name.data(), info, 4), 0);
        EXPECT_NE(std::string(wfdberror()).find(server.url(path)), std::string::npos) << wfdberror();
        EXPECT_EQ(std::string(wfdberror()).find("s3cret"), std::string::npos) << wfdberror();
    }
}

// ---- redirects between schemes (nginx, HTTP and HTTPS) ----------------------------------

struct RedirectCase {
    const char *name;
    const char *path;  // a redirecting location of the server, before the record's path
    bool https;        // asked for over HTTPS
    bool followed;
};

class Redirects : public HostileServerTest, public ::testing::WithParamInterface<RedirectCase> {};

TEST_P(Redirects, AreFollowedOnlyToTheSameHostBySchemeOrUpgrade) {
    static sigtrove::testing::WebServer server(kRecords, true);
    ASSERT_EQ(server.failure(), "");
    EnvironmentVariable ca("CURL_CA_BUNDLE", server.certificate());
    const std::string path = std::string(GetParam().path) + "100";
    const std::string url = GetParam().https ? server.https_url(path) : server.url(path);
    Outcome outcome = open_and_read(url, 100);
    if (GetParam().followed) {
        ASSERT_TRUE(outcome.open.ok()) << outcome.open.text();
        EXPECT_EQ(outcome.samples, local_samples(100));
        return;
    }
    ASSERT_FALSE(outcome.open.ok());
    EXPECT_EQ(outcome.open.kind(), ErrorKind::remote);
    EXPECT_NE(outcome.open.text().find("not followed"), std::string::npos) << outcome.open.text();
}

INSTANTIATE_TEST_SUITE_P(Servers, Redirects,
                         ::testing::Values(RedirectCase{"SameHostAndScheme", "moved/", false, true},
                                           RedirectCase{"UpgradeToHttps", "to-https/", false, true},
                                           RedirectCase{"DowngradeToHttp", "to-http/", true, false},
                                           RedirectCase{"AnotherHost", "to-localhost/", false, false},
                                           RedirectCase{"Ftp", "to-ftp/", false, false}),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
