// Fetching one file for a program that keeps it (the download command): the
// head it is given, a body from a byte on, and the bounds the engine's own reads
// keep (a body with no length held to the memory ceiling, a redirect elsewhere
// refused, a body cut short reported), each through the tests' own server.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fault_server.h"
#include "fixture_files.h"
#include "limits/memory_ceiling.h"
#include "network/file_download.h"
#include "network/remote_file.h"

namespace {

using sigtrove::engine::ErrorKind;
using sigtrove::engine::FileDownload;
using sigtrove::engine::Status;
using sigtrove::testing::EnvironmentVariable;
using sigtrove::testing::FaultConnection;
using sigtrove::testing::FaultRequest;
using sigtrove::testing::FaultServer;
using sigtrove::testing::response_head;

const std::string kBody = "0123456789abcdefghij";

// Answers as real servers do: the file whole, or from the Range's first byte on;
// other paths say what they are named for.
bool respond(const FaultRequest &request, FaultConnection &connection) {
    if (request.path == "/file") {
        if (request.range.rfind("bytes=", 0) == 0) {
            const std::size_t first = std::stoul(request.range.substr(6));
            const std::string rest = kBody.substr(first);
            const std::string range = "bytes " + std::to_string(first) + "-" + std::to_string(kBody.size() - 1) + "/" +
                                      std::to_string(kBody.size());
            connection.send(
                response_head(206, {{"Content-Length", std::to_string(rest.size())}, {"Content-Range", range}}) +
                (request.method == "HEAD" ? "" : rest));
            return true;
        }
        connection.send(response_head(200, {{"Content-Length", std::to_string(kBody.size())}}) +
                        (request.method == "HEAD" ? "" : kBody));
        return true;
    }
    if (request.path == "/endless") {
        // No length, and more than the ceiling.
        connection.send(response_head(200, {{"Connection", "close"}}));
        const std::string chunk(64 * 1024, 'x');
        for (int i = 0; i < 64 && connection.send(chunk); ++i) {
        }
        return false;
    }
    if (request.path == "/cut") {
        connection.send(response_head(200, {{"Content-Length", "1000"}}) + "only a part");
        return false;
    }
    if (request.path == "/elsewhere") {
        connection.send(response_head(302, {{"Location", "http://localhost:1/file"}, {"Content-Length", "0"}}));
        return true;
    }
    connection.send(response_head(404, {{"Content-Length", "0"}}));
    return true;
}

class FileDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sigtrove::engine::remote_files_supported()) GTEST_SKIP() << "built without libcurl";
        sigtrove::engine::set_max_record_memory(1 << 20);
    }
    void TearDown() override { sigtrove::engine::set_max_record_memory(0); }

    // The whole body, or the failure that ended it.
    Status read_all(FileDownload &download, std::string &body) {
        std::vector<std::uint8_t> buffer(7);
        for (;;) {
            std::size_t got = 0;
            Status status = download.read(buffer.data(), buffer.size(), got);
            if (!status || got == 0) return status;
            body.append(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
        }
    }

    EnvironmentVariable timeout_{"SIGTROVE_TIMEOUT", "2"};
    FaultServer server_{respond};
};

TEST_F(FileDownloadTest, GivesTheHeadAndTheBodyWholeOrFromAByteOn) {
    struct Case {
        long long first;
        bool head_only;
        long status;
        long long length, range_first, range_total;
        std::string body;
    };
    for (const Case &c : {Case{0, false, 200, 20, -1, -1, kBody}, Case{5, false, 206, 15, 5, 20, kBody.substr(5)},
                          Case{0, true, 200, 20, -1, -1, ""}}) {
        FileDownload download;
        ASSERT_TRUE(download.start(server_.url("file"), c.first, c.head_only)) << c.first;
        EXPECT_EQ(download.head().status, c.status);
        EXPECT_EQ(download.head().content_length, c.length);
        EXPECT_EQ(download.head().has_content_range, c.range_first >= 0);
        EXPECT_EQ(download.head().range_first, c.range_first);
        EXPECT_EQ(download.head().range_total, c.range_total);
        std::string body;
        ASSERT_TRUE(read_all(download, body));
        EXPECT_EQ(body, c.body);
    }
}

TEST_F(FileDownloadTest, AnErrorStatusIsAHeadNotAFailure) {
    FileDownload download;
    ASSERT_TRUE(download.start(server_.url("missing"), 0, false));
    EXPECT_EQ(download.head().status, 404);
}

TEST_F(FileDownloadTest, FailuresNameTheUrlWithoutItsCredentials) {
    struct Case {
        const char *path;
        bool fails_at_start;
        ErrorKind kind;
        const char *text;
    };
    for (const Case &c : {Case{"endless", false, ErrorKind::limit, "the server sent more than 1 MB without saying"},
                          Case{"cut", false, ErrorKind::remote, "closed before the whole body arrived"},
                          Case{"elsewhere", true, ErrorKind::remote, "not followed"}}) {
        std::string url = server_.url(c.path);
        url.replace(0, 7, "http://someone:s3cret@");
        FileDownload download;
        Status status = download.start(url, 0, false);
        std::string body;
        if (status) {
            EXPECT_FALSE(c.fails_at_start) << c.path;
            status = read_all(download, body);
        }
        ASSERT_FALSE(status) << c.path;
        EXPECT_EQ(status.kind(), c.kind) << c.path;
        EXPECT_NE(status.text().find(c.text), std::string::npos) << status.text();
        EXPECT_EQ(status.text().find("s3cret"), std::string::npos) << status.text();
        EXPECT_EQ(status.text().rfind(server_.url(c.path) + ": ", 0), 0u) << status.text();
        EXPECT_LE(body.size(), std::size_t{1} << 20) << c.path;
    }
}

}  // namespace
