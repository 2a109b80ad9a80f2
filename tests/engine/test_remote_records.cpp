// Records read from a web server (a real nginx on the loopback address): every
// shared record, its annotation files, multi-segment records and FLAC signals
// read over HTTP equal the same reads of the local files, by bulk read and by
// getvec; windows cost at most two blocks of the file; a whole record streams in
// order; redirects, a server that ignores ranges and HTTPS work; a database path
// component that is a URL is searched; failures are typed and name the URL; and
// the cache directory serves a second read without any request.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "annotations/annotation_file.h"
#include "expected_records.h"
#include "fixture_files.h"
#include "network/prefetched_files.h"
#include "network/remote_file.h"
#include "network/remote_settings.h"
#include "paths/database_path.h"
#include "record/record.h"
#include "record/record_prefetch.h"
#include "signals/array_sink.h"
#include "web_server.h"
#include "wfdb/wfdb.h"

namespace {

namespace fs = std::filesystem;
using sigtrove::engine::AnnotationFile;
using sigtrove::engine::AnnotationRow;
using sigtrove::engine::BulkOutcome;
using sigtrove::engine::ErrorKind;
using sigtrove::engine::Record;
using sigtrove::engine::SampleRate;
using sigtrove::engine::SampleType;
using sigtrove::engine::Status;
using sigtrove::testing::EnvironmentVariable;
using sigtrove::testing::ExpectedRecord;
using sigtrove::testing::LoggedRequest;
using sigtrove::testing::TempDir;
using sigtrove::testing::WebServer;
using sigtrove::testing::WorkingDirectory;

const std::string kRecords = SIGTROVE_FIXTURES "/records";
constexpr long long kBlock = 64 * 1024;

// One server for every test of this file: started at the first use.
WebServer &server() {
    static WebServer instance(kRecords, true);
    return instance;
}

// The record's path under the served folder ("s25047/3234460_0001").
std::string served_name(const ExpectedRecord &record) {
    std::string relative = fs::relative(record.folder, kRecords).string();
    return relative == "." ? record.record : relative + "/" + record.record;
}

// What a bulk read of every frame of every signal gave.
struct WholeRead {
    Status open;
    std::vector<std::int32_t> samples;
    BulkOutcome outcome;
    Status read;
};

WholeRead read_whole(const std::string &name, long long start = 0, long long count = -1) {
    WholeRead out;
    std::unique_ptr<Record> record;
    out.open = Record::open(name, record);
    if (!out.open.ok()) return out;
    std::vector<std::size_t> all(static_cast<std::size_t>(record->signal_count()));
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    long long frames = count >= 0 ? count : std::max(record->frame_count(), 0LL);
    out.samples.assign(static_cast<std::size_t>(frames) * all.size(), 0);
    auto sink = make_array_sink(SampleType::int32, out.samples.data(), all.size(), SampleRate::frame, {});
    out.read = record->read(start, frames, all, *sink, out.outcome);
    out.samples.resize(static_cast<std::size_t>(out.outcome.frames) * all.size());
    return out;
}

// A record read locally from its own folder, as the shared-record tests read it.
WholeRead read_local(const ExpectedRecord &record, long long start = 0, long long count = -1) {
    WorkingDirectory cwd(record.folder);
    EnvironmentVariable wfdb("WFDB", ".");
    return read_whole(record.record, start, count);
}

void expect_same_read(const WholeRead &remote, const WholeRead &local) {
    ASSERT_EQ(remote.open.ok(), local.open.ok()) << remote.open.text() << local.open.text();
    if (!local.open.ok()) {
        EXPECT_EQ(remote.open.kind(), local.open.kind());
        return;
    }
    EXPECT_EQ(remote.read.kind(), local.read.kind()) << remote.read.text();
    EXPECT_EQ(remote.outcome.frames, local.outcome.frames);
    EXPECT_EQ(remote.outcome.stop, local.outcome.stop);
    EXPECT_EQ(remote.outcome.checksum_mismatch, local.outcome.checksum_mismatch);
    EXPECT_TRUE(remote.samples == local.samples) << "the samples differ";
}

// Every frame getvec delivers (at most `limit`), and how reading ended.
struct GetvecRun {
    int opened = 0;
    std::vector<WFDB_Sample> samples;
    int last = 0;
};

GetvecRun getvec_all(const std::string &name, long long limit) {
    GetvecRun run;
    std::string text = name;
    int n = isigopen(text.data(), nullptr, 0);
    if (n <= 0) return run;
    std::vector<WFDB_Siginfo> info(static_cast<std::size_t>(n));
    run.opened = isigopen(text.data(), info.data(), n);
    std::vector<WFDB_Sample> v(static_cast<std::size_t>(n));
    for (long long k = 0; k < limit; ++k) {
        run.last = getvec(v.data());
        if (run.last < 0 && run.last != -4) break;
        run.samples.insert(run.samples.end(), v.begin(), v.end());
    }
    for (int i = 0; i < std::max(run.opened, 0); ++i) {
        std::free(info[static_cast<std::size_t>(i)].fname);
        std::free(info[static_cast<std::size_t>(i)].desc);
        std::free(info[static_cast<std::size_t>(i)].units);
    }
    return run;
}

class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(server().failure(), "") << "the test web server could not be started";
        wfdbquiet();
    }
    // Requests logged since the test began.
    std::vector<LoggedRequest> new_requests() {
        std::vector<LoggedRequest> all = server().requests();
        return std::vector<LoggedRequest>(all.begin() + static_cast<std::ptrdiff_t>(std::min(seen_, all.size())),
                                          all.end());
    }
    void mark_requests() { seen_ = server().requests().size(); }

    std::size_t seen_ = 0;
    EnvironmentVariable timeout_{"SIGTROVE_TIMEOUT", "10"};
    EnvironmentVariable cache_{"SIGTROVE_CACHE", std::nullopt};
};

// ---- every shared record -------------------------------------------------------------

class SharedRecordOverHttp : public RemoteTest, public ::testing::WithParamInterface<ExpectedRecord> {
protected:
    void SetUp() override {
        RemoteTest::SetUp();
        if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    }
};

TEST_P(SharedRecordOverHttp, HeaderAndBulkReadEqualTheLocalRead) {
    const std::string url = server().url(served_name(GetParam()));
    WholeRead remote = read_whole(url);
    expect_same_read(remote, read_local(GetParam()));
    if (!remote.open.ok()) return;
    std::unique_ptr<Record> a, b;
    ASSERT_TRUE(Record::open(url, a).ok());
    {
        WorkingDirectory cwd(GetParam().folder);
        EnvironmentVariable wfdb("WFDB", ".");
        ASSERT_TRUE(Record::open(GetParam().record, b).ok());
    }
    const auto &ra = a->header(), &rb = b->header();
    EXPECT_EQ(ra.nsig, rb.nsig);
    EXPECT_EQ(ra.freq, rb.freq);
    EXPECT_EQ(ra.nsamp, rb.nsamp);
    EXPECT_EQ(ra.base_ms, rb.base_ms);
    EXPECT_EQ(ra.comments, rb.comments);
    ASSERT_EQ(ra.signals.size(), rb.signals.size());
    for (std::size_t i = 0; i < ra.signals.size(); ++i) {
        EXPECT_EQ(ra.signals[i].fname, rb.signals[i].fname);
        EXPECT_EQ(ra.signals[i].fmt, rb.signals[i].fmt);
        EXPECT_EQ(ra.signals[i].gain, rb.signals[i].gain);
        EXPECT_EQ(ra.signals[i].desc, rb.signals[i].desc);
    }
    EXPECT_EQ(a->frame_count(), b->frame_count());
    EXPECT_EQ(a->description().directory, fs::path(url).parent_path().string());
}

TEST_P(SharedRecordOverHttp, GetvecEqualsTheLocalGetvec) {
    GetvecRun local;
    {
        WorkingDirectory cwd(GetParam().folder);
        EnvironmentVariable wfdb("WFDB", ".");
        local = getvec_all(GetParam().record, 1'000'000);
    }
    GetvecRun remote = getvec_all(server().url(served_name(GetParam())), 1'000'000);
    EXPECT_EQ(remote.opened, local.opened);
    EXPECT_EQ(remote.last, local.last);
    EXPECT_TRUE(remote.samples == local.samples) << "the samples differ";
}

INSTANTIATE_TEST_SUITE_P(Records, SharedRecordOverHttp, ::testing::ValuesIn(sigtrove::testing::expected_records()),
                         [](const auto &info) { return sigtrove::testing::test_name_of(info.param); });

// ---- windows -----------------------------------------------------------------------

struct RemoteWindow {
    const char *record;  // under the served folder
    long long start, count;
    friend void PrintTo(const RemoteWindow &w, std::ostream *os) {
        *os << w.record << "@" << w.start << "+" << w.count;
    }
};

class WindowsOverHttp : public RemoteTest, public ::testing::WithParamInterface<RemoteWindow> {};

// Record 100 stores 3 bytes a frame: frame 21845 straddles the first block boundary.
TEST_P(WindowsOverHttp, EqualTheLocalWindow) {
    if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    const RemoteWindow &w = GetParam();
    fs::path path(w.record);
    ExpectedRecord local{"", (fs::path(kRecords) / path.parent_path()).string(), path.filename().string()};
    expect_same_read(read_whole(server().url(w.record), w.start, w.count), read_local(local, w.start, w.count));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, WindowsOverHttp,
    ::testing::Values(RemoteWindow{"100", 0, 3600}, RemoteWindow{"100", 21840, 10}, RemoteWindow{"100", 43690, 3600},
                      RemoteWindow{"100", 325000, 3600}, RemoteWindow{"100", 646400, 3600},
                      RemoteWindow{"100", 649990, 100}, RemoteWindow{"100", 650000, 10},
                      RemoteWindow{"s0010_re", 2180, 50}, RemoteWindow{"s0010_re", 38000, 1000},
                      RemoteWindow{"flacformats", 100, 300}, RemoteWindow{"flacformats", 498, 5},
                      RemoteWindow{"a103l", 70000, 2500}, RemoteWindow{"s25047/s25047-2704-05-04-10-44", 25700, 100},
                      RemoteWindow{"s25047/s25047-2704-05-04-10-44", 200000, 1000},
                      RemoteWindow{"237s/237s", 1000, 4000}, RemoteWindow{"test01_00s_skew", 10, 500}),
    [](const auto &info) {
        std::string name = info.param.record;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name + "_" + std::to_string(info.param.start) + "_" + std::to_string(info.param.count);
    });

// ---- what a read costs ---------------------------------------------------------------

class TransferOverHttp : public RemoteTest {
protected:
    void SetUp() override {
        RemoteTest::SetUp();
        if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    }
    // The requests for one file since the test began.
    std::vector<LoggedRequest> requests_for(const std::string &uri) {
        std::vector<LoggedRequest> out;
        for (LoggedRequest &r : new_requests())
            if (r.uri == uri) out.push_back(r);
        return out;
    }
};

TEST_F(TransferOverHttp, TenSecondWindowsTransferAtMostTwoBlocksBeyondTheFirst) {
    // 10 s of record 100 (360 frames a second, 3 bytes a frame) anywhere in its 30 minutes.
    for (long long start : {0LL, 21000LL, 100000LL, 325000LL, 500001LL, 646400LL}) {
        mark_requests();
        WholeRead read = read_whole(server().url("100"), start, 3600);
        ASSERT_TRUE(read.read.ok()) << read.read.text();
        ASSERT_EQ(read.outcome.frames, 3600);
        std::vector<LoggedRequest> data = requests_for("/100.dat");
        ASSERT_FALSE(data.empty());
        // The first block comes with the open, beside the header.
        EXPECT_EQ(data[0].method, "GET");
        EXPECT_EQ(data[0].range, "bytes=0-" + std::to_string(kBlock - 1));
        EXPECT_EQ(data[0].body_bytes, kBlock);
        long long window_bytes = 0, last_end = kBlock - 1;
        for (std::size_t i = 1; i < data.size(); ++i) {
            EXPECT_EQ(data[i].method, "GET");
            EXPECT_EQ(data[i].status, 206) << data[i].range;
            window_bytes += data[i].body_bytes;
            // Nothing fetched twice: each range begins past every byte fetched before it.
            long long first = std::stoll(data[i].range.substr(std::string("bytes=").size()));
            EXPECT_GT(first, last_end) << data[i].range << ", window at frame " << start;
            last_end = first + data[i].body_bytes - 1;
        }
        EXPECT_LE(window_bytes, 2 * kBlock) << "window at frame " << start;
        // The window's own blocks, when it needs others than the first, in one request.
        EXPECT_LE(data.size(), 2u) << "window at frame " << start;
    }
}

TEST_F(TransferOverHttp, AWholeRecordStreamsInOrderAndEachByteComesOnce) {
    mark_requests();
    WholeRead read = read_whole(server().url("100"));
    ASSERT_EQ(read.outcome.frames, 650000);
    std::vector<LoggedRequest> gets;
    for (LoggedRequest &r : requests_for("/100.dat"))
        if (r.method == "GET") gets.push_back(r);
    ASSERT_FALSE(gets.empty());
    long long next = 0, bytes = 0;
    for (const LoggedRequest &r : gets) {
        EXPECT_EQ(r.range.rfind("bytes=" + std::to_string(next) + "-", 0), 0u) << r.range;
        next += r.body_bytes;
        bytes += r.body_bytes;
    }
    EXPECT_EQ(bytes, static_cast<long long>(fs::file_size(kRecords + "/100.dat")));
    // At most the first block when the file opens, then the rest in one request: the read said how far it goes.
    EXPECT_LE(gets.size(), 2u);
}

TEST_F(TransferOverHttp, SegmentsAreFetchedOnlyWhenReadingReachesThem) {
    mark_requests();
    WholeRead read = read_whole(server().url("s25047/s25047-2704-05-04-10-44"), 200000, 1000);
    ASSERT_TRUE(read.read.ok()) << read.read.text();
    std::vector<std::string> data_files;
    for (const LoggedRequest &r : new_requests()) {
        if (r.uri.size() <= 4 || r.uri.compare(r.uri.size() - 4, 4, ".dat") != 0) continue;
        // The master's own RECORD.dat is asked for beside its header, as for any record; it is not there.
        if (r.uri == "/s25047/s25047-2704-05-04-10-44.dat") {
            EXPECT_EQ(r.status, 404);
            continue;
        }
        data_files.push_back(r.uri);
    }
    for (const std::string &uri : data_files) EXPECT_EQ(uri, "/s25047/3234460_0016.dat");
    EXPECT_FALSE(data_files.empty());
}

TEST_F(TransferOverHttp, ADatabasesBatchLeavesTheOpensNothingToAskAndFetchesNoSignalBytes) {
    sigtrove::engine::reset_remote_state();
    // One signal file of the conventional name, two files of which one is not, a file of another name.
    const std::vector<std::string> names = {server().url("100"), server().url("s0010_re"), server().url("a103l")};
    mark_requests();
    sigtrove::engine::prefetch_records(names);
    const std::vector<LoggedRequest> batch = new_requests();
    for (const LoggedRequest &r : batch) {
        const bool header = r.uri.size() > 4 && r.uri.compare(r.uri.size() - 4, 4, ".hea") == 0;
        EXPECT_EQ(r.method, header ? "GET" : "HEAD") << r.uri;
    }
    for (const char *file : {"/100.dat", "/s0010_re.dat", "/s0010_re.xyz", "/a103l.mat"})
        EXPECT_EQ(requests_for(file).size(), 1u) << file;
    for (const std::string &name : names) {
        std::unique_ptr<Record> record;
        ASSERT_TRUE(Record::open(name, record).ok()) << name;
    }
    EXPECT_EQ(new_requests().size(), batch.size()) << "an open asked again";
}

struct KeptCase {
    const char *path;
    long status;  // of the answer kept; 0 for none
};

class KeptAnswersOverHttp : public TransferOverHttp, public ::testing::WithParamInterface<KeptCase> {};

// A file, or that it is not there, is kept for the open to come; a server's failure is not, so that the
// open asks again and says why.
TEST_P(KeptAnswersOverHttp, KeepOnlyAFileOrItsAbsence) {
    sigtrove::engine::reset_remote_state();
    const std::string url = server().url(GetParam().path);
    sigtrove::engine::prefetch_remote_files(std::vector<std::string>{url});
    EXPECT_EQ(sigtrove::engine::prefetched_status(url), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Answers, KeptAnswersOverHttp,
                         ::testing::Values(KeptCase{"100.hea", 206}, KeptCase{"missing.hea", 404},
                                           KeptCase{"failing/100.hea", 0}),
                         [](const auto &info) {
                             std::string name = info.param.path;
                             for (char &c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST_F(TransferOverHttp, AMultiSegmentWindowAsksForEachCrossedFileOnceAndNeverForItsSize) {
    // Frames 54000 to 58200 cross segments 1 to 10 (four of them four frames long).
    const std::string name = "s25047/s25047-2704-05-04-10-44";
    const ExpectedRecord local{"", kRecords + "/s25047", "s25047-2704-05-04-10-44"};
    std::unique_ptr<Record> record;
    ASSERT_TRUE(Record::open(server().url(name), record).ok());
    mark_requests();
    std::vector<std::size_t> all(static_cast<std::size_t>(record->signal_count()));
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
    std::vector<std::int32_t> samples(4200 * all.size());
    auto sink = make_array_sink(SampleType::int32, samples.data(), all.size(), SampleRate::frame, {});
    BulkOutcome outcome;
    ASSERT_TRUE(record->read(54000, 4200, all, *sink, outcome).ok());
    EXPECT_TRUE(samples == read_local(local, 54000, 4200).samples) << "the samples differ";
    std::vector<std::string> uris;
    for (const LoggedRequest &r : new_requests()) {
        EXPECT_EQ(r.method, "GET") << r.uri;
        EXPECT_EQ(r.status, 206) << r.uri;
        uris.push_back(r.uri);
    }
    std::vector<std::string> expected;
    for (int k = 1; k <= 10; ++k) {
        std::string segment = "/s25047/3234460_00" + std::string(k < 10 ? "0" : "") + std::to_string(k);
        expected.push_back(segment + ".dat");
        expected.push_back(segment + ".hea");
    }
    std::sort(uris.begin(), uris.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(uris, expected);
}

// ---- parts of files asked for ahead ----------------------------------------------------

struct AskedAhead {
    const char *what;
    std::string file;
    long long first, last;  // the range asked for ahead
    long long read_at;      // where the file is read after its open
    int status;             // what the one request for the file got
};

class RangesAskedAhead : public TransferOverHttp, public ::testing::WithParamInterface<AskedAhead> {};

// The open of a file whose part was asked for ahead makes no request of its own: the
// answer says that the file is there and how long it is, and a read inside the part is
// served from it.
TEST_P(RangesAskedAhead, ServeTheOpenAndTheReadWithNoOtherRequest) {
    const AskedAhead &c = GetParam();
    const std::string url = server().url(c.file);
    mark_requests();
    sigtrove::engine::prefetch_remote_ranges({{url, c.first, c.last}});
    sigtrove::engine::RemoteOpening opening =
        sigtrove::engine::open_remote_file(url, sigtrove::engine::RemoteAccess::blockwise);
    std::vector<LoggedRequest> requests = new_requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].status, c.status);
    const fs::path local = fs::path(kRecords) / c.file;
    if (!fs::exists(local)) {
        EXPECT_FALSE(opening.source);
        EXPECT_EQ(opening.failure, "") << "a file that is not there is no failure";
        return;
    }
    ASSERT_TRUE(opening.source) << opening.failure;
    const auto size = static_cast<long long>(fs::file_size(local));
    EXPECT_EQ(opening.source->size(), size);
    std::vector<std::uint8_t> got(4096), expected(4096);
    ASSERT_TRUE(opening.source->seek(c.read_at));
    const long long n = opening.source->read(got.data(), got.size());
    std::FILE *file = std::fopen(local.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::fseek(file, static_cast<long>(c.read_at), SEEK_SET);
    const auto want = static_cast<long long>(std::fread(expected.data(), 1, expected.size(), file));
    std::fclose(file);
    ASSERT_EQ(n, want);
    got.resize(static_cast<std::size_t>(n));
    expected.resize(static_cast<std::size_t>(want));
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(new_requests().size(), 1u) << "the read asked again";
}

INSTANTIATE_TEST_SUITE_P(Cases, RangesAskedAhead,
                         ::testing::Values(AskedAhead{"middle", "100.dat", 200000, 210000, 200000, 206},
                                           AskedAhead{"start", "100.hea", 0, 10, 0, 206},
                                           AskedAhead{"past_the_end", "100.atr", 70000, 80000, 70000, 416},
                                           AskedAhead{"not_there", "no-such-file.dat", 0, 10, 0, 404}),
                         [](const auto &info) { return std::string(info.param.what); });

// ---- annotation files ------------------------------------------------------------------

struct AnnotatorCase {
    ExpectedRecord record;
    std::string annotator;
    int stat;
    friend void PrintTo(const AnnotatorCase &c, std::ostream *os) {
        *os << c.record.record << "." << c.annotator << ":" << c.stat;
    }
};

// Every annotation file of the shared records, as the reference opened them (listed
// here rather than read from the expected outputs, which every test process would parse).
std::vector<AnnotatorCase> shared_annotators() {
    struct Listed {
        const char *record, *annotator;
        int stat;
    };
    const Listed listed[] = {
        {"100", "atr", WFDB_READ},      {"100", "qrs", WFDB_READ},       {"100", "aha", WFDB_READ},
        {"100", "aha", WFDB_AHA_READ},  {"1003", "atr", WFDB_READ},      {"1003", "aha", WFDB_READ},
        {"1003", "aha", WFDB_AHA_READ}, {"12726", "anI", WFDB_READ},     {"12726", "wabp", WFDB_READ},
        {"12726", "wqrs", WFDB_READ},   {"237s/237s", "all", WFDB_READ}, {"huge", "qrs", WFDB_READ},
        {"xform", "all", WFDB_READ},    {"xform", "wabp", WFDB_READ}};
    std::vector<AnnotatorCase> cases;
    for (const Listed &l : listed) {
        fs::path path(l.record);
        ExpectedRecord record{path.string() + ".json", (fs::path(kRecords) / path.parent_path()).string(),
                              path.filename().string()};
        cases.push_back({record, l.annotator, l.stat});
    }
    return cases;
}

struct AnnotationRead {
    Status open, read;
    std::vector<AnnotationRow> rows;
};

AnnotationRead read_annotations(const std::string &record, const std::string &annotator, int stat) {
    AnnotationRead out;
    std::unique_ptr<AnnotationFile> file;
    out.open = AnnotationFile::open(record, annotator, stat, file);
    if (out.open.ok()) out.read = file->read(0, std::nullopt, out.rows);
    return out;
}

bool same_rows(const std::vector<AnnotationRow> &a, const std::vector<AnnotationRow> &b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].time != b[i].time || a[i].code != b[i].code || a[i].subtype != b[i].subtype ||
            a[i].channel != b[i].channel || a[i].number != b[i].number || a[i].aux != b[i].aux)
            return false;
    return true;
}

class AnnotationsOverHttp : public RemoteTest, public ::testing::WithParamInterface<AnnotatorCase> {};

TEST_P(AnnotationsOverHttp, RowsEqualTheLocalRows) {
    if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    const AnnotatorCase &c = GetParam();
    AnnotationRead local;
    {
        WorkingDirectory cwd(c.record.folder);
        EnvironmentVariable wfdb("WFDB", ".");
        local = read_annotations(c.record.record, c.annotator, c.stat);
    }
    AnnotationRead remote = read_annotations(server().url(served_name(c.record)), c.annotator, c.stat);
    ASSERT_TRUE(remote.open.ok()) << remote.open.text();
    EXPECT_EQ(remote.read.kind(), local.read.kind()) << remote.read.text();
    EXPECT_TRUE(same_rows(remote.rows, local.rows));
    EXPECT_FALSE(remote.rows.empty());
}

INSTANTIATE_TEST_SUITE_P(Records, AnnotationsOverHttp, ::testing::ValuesIn(shared_annotators()), [](const auto &info) {
    std::string name = sigtrove::testing::test_name_of(info.param.record) + "_" + info.param.annotator + "_" +
                       std::to_string(info.param.stat);
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

// The number of annotations getann delivers for RECORD's atr file.
int getann_count(std::string record) {
    WFDB_Anninfo info{const_cast<char *>("atr"), WFDB_READ};
    if (annopen(record.data(), &info, 1) != 0) return -1;
    WFDB_Annotation annotation;
    int count = 0;
    while (getann(0, &annotation) == 0) ++count;
    return count;
}

TEST_F(RemoteTest, AnnopenAndGetannReadARecordByItsUrl) {
    if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    int local;
    {
        WorkingDirectory cwd(kRecords);
        EnvironmentVariable wfdb("WFDB", ".");
        local = getann_count("100");
    }
    EXPECT_GT(local, 2000);
    EXPECT_EQ(getann_count(server().url("100")), local) << wfdberror();
}

// ---- where remote files come from --------------------------------------------------

struct ServedVariant {
    const char *name;
    const char *prefix;  // before the record's path
    bool https;
};

class ServedVariants : public RemoteTest, public ::testing::WithParamInterface<ServedVariant> {};

TEST_P(ServedVariants, ReadsEqualTheLocalRead) {
    if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    EnvironmentVariable ca("CURL_CA_BUNDLE", server().certificate());
    for (const char *record : {"100", "flacformats", "s0010_re"}) {
        std::string path = std::string(GetParam().prefix) + record;
        std::string url = GetParam().https ? server().https_url(path) : server().url(path);
        expect_same_read(read_whole(url), read_local(ExpectedRecord{"", kRecords, record}));
        expect_same_read(read_whole(url, 300, 700), read_local(ExpectedRecord{"", kRecords, record}, 300, 700));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, ServedVariants,
                         ::testing::Values(ServedVariant{"Redirected", "moved/", false},
                                           ServedVariant{"IgnoringRanges", "no-ranges/", false},
                                           ServedVariant{"Https", "", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(RemoteTest, AUrlInTheDatabasePathIsSearchedWhereItStands) {
    if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    TempDir dir;
    WorkingDirectory cwd(dir.path());
    EnvironmentVariable wfdb("WFDB", ". " + server().url("s25047"));
    sigtrove::engine::reset_database_path();
    // Not here: found on the server, and its segments with it.
    WholeRead remote = read_whole("s25047-2704-05-04-10-44", 123000, 2000);
    ASSERT_TRUE(remote.open.ok()) << remote.open.text();
    WholeRead local = read_local(ExpectedRecord{"", kRecords + "/s25047", "s25047-2704-05-04-10-44"}, 123000, 2000);
    expect_same_read(remote, local);
    std::unique_ptr<Record> record;
    ASSERT_TRUE(Record::open("3234460_0001", record).ok());
    EXPECT_EQ(record->description().directory, server().url("s25047"));
    // A local copy comes first, as the path says.
    dir.write("3234460_0001.hea", sigtrove::testing::read_file(kRecords + "/s25047/3234460_0001.hea"));
    ASSERT_TRUE(Record::open("3234460_0001", record).ok());
    EXPECT_EQ(record->description().directory, fs::canonical(dir.path()).string());
}

// ---- failures ----------------------------------------------------------------------

struct FailureCase {
    const char *name;
    std::string (*url)();
    ErrorKind kind;
    const char *text;  // a part of the failure's text, besides the URL
};

class RemoteFailures : public RemoteTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RemoteFailures, AreTypedAndNameTheUrl) {
    const std::string url = GetParam().url();
    // Trusts the system's certificates only: the test server's own certificate fails.
    EnvironmentVariable ca("CURL_CA_BUNDLE", "/etc/ssl/certs/ca-certificates.crt");
    std::unique_ptr<Record> record;
    Status status = Record::open(url, record);
    ASSERT_FALSE(status.ok());
    if (!sigtrove::engine::remote_files_supported()) {
        EXPECT_EQ(status.kind(), ErrorKind::remote);
        EXPECT_NE(status.text().find("built without libcurl"), std::string::npos) << status.text();
        return;
    }
    EXPECT_EQ(status.kind(), GetParam().kind) << status.text();
    EXPECT_NE(status.text().find(url), std::string::npos) << status.text();
    EXPECT_NE(status.text().find(GetParam().text), std::string::npos) << status.text();
    // The C interface records the same failure as its last text.
    std::string name = url;
    EXPECT_LT(isigopen(name.data(), nullptr, 0), 0);
    EXPECT_NE(std::string(wfdberror()).find(url), std::string::npos) << wfdberror();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, RemoteFailures,
    ::testing::Values(
        FailureCase{"NotFound", [] { return server().url("missing"); }, ErrorKind::not_found,
                    "init: can't open header for record"},
        FailureCase{"ServerError", [] { return server().url("failing/100"); }, ErrorKind::remote, "HTTP 500"},
        FailureCase{"Refused",
                    [] { return "http://127.0.0.1:" + std::to_string(sigtrove::testing::refused_port()) + "/100"; },
                    ErrorKind::remote, "Couldn't connect"},
        FailureCase{"UntrustedCertificate", [] { return server().https_url("100"); }, ErrorKind::remote, "TLS"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(RemoteTest, NotFoundReadsAsTheLocalText) {
    std::string url = server().url("missing");
    std::string name = url;
    EXPECT_EQ(isigopen(name.data(), nullptr, 0), -1);
    if (sigtrove::engine::remote_files_supported()) {
        EXPECT_EQ(std::string(wfdberror()), "init: can't open header for record " + url + "\n");
    }
    WFDB_Anninfo info{const_cast<char *>("atr"), WFDB_READ};
    EXPECT_LT(annopen(name.data(), &info, 1), 0);
    if (sigtrove::engine::remote_files_supported()) {
        EXPECT_EQ(std::string(wfdberror()), "annopen: can't read annotator atr for record " + url + "\n");
    }
}

TEST_F(RemoteTest, AnUnreachablePathComponentEndsTheSearch) {
    if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
    TempDir dir;
    dir.write("100.hea", sigtrove::testing::read_file(kRecords + "/100.hea"));
    WorkingDirectory cwd(dir.path());
    std::string unreachable = "http://127.0.0.1:" + std::to_string(sigtrove::testing::refused_port()) + "/db";
    EnvironmentVariable wfdb("WFDB", unreachable + " .");
    sigtrove::engine::reset_database_path();
    std::unique_ptr<Record> record;
    Status status = Record::open("100", record);
    EXPECT_EQ(status.kind(), ErrorKind::remote) << "a later component must not stand in for an unreachable one";
    EXPECT_NE(status.text().find(unreachable + "/100.hea"), std::string::npos) << status.text();
}

TEST_F(RemoteTest, AMalformedTimeoutIsRefused) {
    EnvironmentVariable timeout("SIGTROVE_TIMEOUT", "soon");
    std::unique_ptr<Record> record;
    Status status = Record::open(server().url("100"), record);
    EXPECT_EQ(status.kind(), ErrorKind::remote);
    if (sigtrove::engine::remote_files_supported()) {
        EXPECT_NE(status.text().find("SIGTROVE_TIMEOUT"), std::string::npos) << status.text();
    }
}

// ---- the cache directory -------------------------------------------------------------

class CacheOverHttp : public RemoteTest {
protected:
    void SetUp() override {
        RemoteTest::SetUp();
        if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
        sigtrove::engine::set_remote_cache_directory(cache.path());
    }
    void TearDown() override { sigtrove::engine::set_remote_cache_directory(std::nullopt); }

    // A new process would have checked no cache entry with its server yet.
    static void as_a_new_process() { sigtrove::engine::reset_remote_state(); }

    TempDir cache;
};

TEST_F(CacheOverHttp, ASecondReadMakesNoRequest) {
    const std::string url = server().url("100");
    WholeRead first = read_whole(url);
    ASSERT_EQ(first.outcome.frames, 650000);
    mark_requests();
    WholeRead second = read_whole(url);
    EXPECT_TRUE(second.samples == first.samples);
    EXPECT_TRUE(new_requests().empty()) << new_requests().size() << " requests";
    // A new process asks once per file whether its copy is current, and gets no data.
    as_a_new_process();
    mark_requests();
    WholeRead third = read_whole(url);
    EXPECT_TRUE(third.samples == first.samples);
    for (const LoggedRequest &r : new_requests()) {
        EXPECT_EQ(r.status, 304) << r.method << " " << r.uri;
        EXPECT_EQ(r.body_bytes, 0);
    }
    EXPECT_LE(new_requests().size(), 2u);
    // The whole file lies in the cache under its own name, with nothing partial left.
    std::string cached = cache / ("127.0.0.1_" + url.substr(url.rfind(':') + 1, url.rfind('/') - url.rfind(':') - 1));
    EXPECT_TRUE(sigtrove::testing::read_file(cached + "/100.dat") ==
                sigtrove::testing::read_file(kRecords + "/100.dat"))
        << "the cached copy differs";
    EXPECT_FALSE(fs::exists(cached + "/100.dat.partial"));
}

TEST_F(CacheOverHttp, APartlyCachedFileFetchesOnlyWhatItLacks) {
    const std::string url = server().url("100");
    mark_requests();
    read_whole(url, 325000, 3600);
    WholeRead whole = read_whole(url);
    EXPECT_TRUE(whole.samples == read_local(ExpectedRecord{"", kRecords, "100"}).samples);
    long long bytes = 0;
    for (const LoggedRequest &r : new_requests())
        if (r.uri == "/100.dat") bytes += r.body_bytes;
    EXPECT_EQ(bytes, static_cast<long long>(fs::file_size(kRecords + "/100.dat"))) << "no block twice";
}

TEST_F(CacheOverHttp, AFileChangedOnTheServerIsFetchedAgain) {
    // A served folder of its own, whose record changes.
    TempDir served;
    for (const char *file : {"100.hea", "100.dat"}) fs::copy_file(kRecords + "/" + file, served / file);
    WebServer own(served.path());
    ASSERT_EQ(own.failure(), "");
    WholeRead before = read_whole(own.url("100"), 1000, 10);
    ASSERT_EQ(before.outcome.frames, 10);
    // New samples at frame 1000 (and a new size, so the server's validators change for sure).
    std::string data = sigtrove::testing::read_file(served / "100.dat");
    for (std::size_t i = 3000; i < 3030; ++i) data[i] = static_cast<char>(data[i] ^ 0x5a);
    sigtrove::testing::write_file(served / "100.dat", data + std::string(3, '\0'));
    as_a_new_process();
    WholeRead after = read_whole(own.url("100"), 1000, 10);
    TempDir changed;
    fs::copy_file(served / "100.hea", changed / "100.hea");
    fs::copy_file(served / "100.dat", changed / "100.dat");
    WholeRead expected = read_local(ExpectedRecord{"", changed.path(), "100"}, 1000, 10);
    EXPECT_TRUE(after.samples == expected.samples);
    EXPECT_FALSE(after.samples == before.samples);
}

}  // namespace
