// Where each remote name is fetched from: http(s) URLs as they are, s3:// names
// from the bucket's host in the region or by path from the endpoint the AWS
// variables name, physionet:// names from PhysioNet or its mirror.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fixture_files.h"
#include "network/remote_location.h"

namespace {

using sigtrove::engine::fetch_url_of;
using sigtrove::engine::is_remote_name;
using sigtrove::testing::EnvironmentVariable;

struct Environment {
    std::optional<std::string> endpoint_s3, endpoint, region, physionet;
};

Environment environment(std::optional<std::string> endpoint_s3 = std::nullopt,
                        std::optional<std::string> endpoint = std::nullopt,
                        std::optional<std::string> region = std::nullopt,
                        std::optional<std::string> physionet = std::nullopt) {
    return Environment{std::move(endpoint_s3), std::move(endpoint), std::move(region), std::move(physionet)};
}

TEST(RemoteLocation, EachNameIsFetchedWhereTheEnvironmentSays) {
    struct Case {
        Environment environment;
        const char *name, *url;
    };
    const Case cases[] = {
        {environment(), "http://h/db/100.hea", "http://h/db/100.hea"},
        {environment(), "s3://physionet-open/mitdb/1.0.0/100.hea",
         "https://physionet-open.s3.us-east-1.amazonaws.com/mitdb/1.0.0/100.hea"},
        {environment(std::nullopt, std::nullopt, "eu-west-1"), "s3://b/k.hea",
         "https://b.s3.eu-west-1.amazonaws.com/k.hea"},
        // A bucket that can not be a host name (a dot would break the certificate) is addressed by path.
        {environment(), "s3://my.bucket/k.hea", "https://s3.us-east-1.amazonaws.com/my.bucket/k.hea"},
        // A custom endpoint is addressed by path; the S3 one comes before the general one.
        {environment(std::nullopt, "http://127.0.0.1:9000/"), "s3://b/db/k.hea", "http://127.0.0.1:9000/b/db/k.hea"},
        {environment("http://127.0.0.1:9001", "http://127.0.0.1:9000"), "s3://b/k", "http://127.0.0.1:9001/b/k"},
        {environment(), "physionet://mitdb/1.0.0/100.hea", "https://physionet.org/files/mitdb/1.0.0/100.hea"},
        {environment(std::nullopt, std::nullopt, std::nullopt, "http://127.0.0.1:8080/mirror"),
         "physionet://mitdb/1.0.0/100.hea", "http://127.0.0.1:8080/mirror/mitdb/1.0.0/100.hea"},
        // Names of no file.
        {environment(), "s3://", ""},
        {environment(), "s3://bucket", ""},
        {environment(), "s3:///key", ""},
        {environment(), "physionet://", ""},
    };
    for (const Case &c : cases) {
        EnvironmentVariable a("AWS_ENDPOINT_URL_S3", c.environment.endpoint_s3);
        EnvironmentVariable b("AWS_ENDPOINT_URL", c.environment.endpoint);
        EnvironmentVariable r("AWS_REGION", c.environment.region);
        EnvironmentVariable d("AWS_DEFAULT_REGION", std::nullopt);
        EnvironmentVariable p("SIGTROVE_PHYSIONET_URL", c.environment.physionet);
        EXPECT_TRUE(is_remote_name(c.name)) << c.name;
        EXPECT_EQ(fetch_url_of(c.name), c.url) << c.name;
    }
    for (const char *name : {"100", "/db/100", "ftp://h/100", "file:///db/100", "s3:/b/k"})
        EXPECT_FALSE(is_remote_name(name)) << name;
}

}  // namespace
