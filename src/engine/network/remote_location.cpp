#include "network/remote_location.h"

#include <cstdlib>

#include "network/url_text.h"

namespace sigtrove::engine {
namespace {

constexpr std::string_view kS3 = "s3://";
constexpr std::string_view kPhysioNet = "physionet://";
constexpr const char *kPhysioNetFiles = "https://physionet.org/files/";

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string s3_region() {
    std::string region = environment("AWS_REGION");
    if (region.empty()) region = environment("AWS_DEFAULT_REGION");
    return region.empty() ? "us-east-1" : region;
}

std::string s3_endpoint() {
    std::string endpoint = environment("AWS_ENDPOINT_URL_S3");
    if (endpoint.empty()) endpoint = environment("AWS_ENDPOINT_URL");
    while (!endpoint.empty() && endpoint.back() == '/') endpoint.pop_back();
    return endpoint;
}

// A bucket name that can be a host name as it stands (no dots, which would break
// the certificate's wildcard, and only what DNS names hold).
bool is_host_bucket(std::string_view bucket) {
    if (bucket.empty() || bucket.size() > 63) return false;
    for (char c : bucket)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
    return bucket.front() != '-' && bucket.back() != '-';
}

}  // namespace

bool is_s3_name(std::string_view name) { return name.rfind(kS3, 0) == 0; }

bool is_remote_name(std::string_view name) {
    return is_http_url(name) || is_s3_name(name) || name.rfind(kPhysioNet, 0) == 0;
}

std::string fetch_url_of(std::string_view name) {
    if (is_http_url(name)) return std::string(name);
    if (is_s3_name(name)) {
        std::string_view rest = name.substr(kS3.size());
        const std::size_t slash = rest.find('/');
        if (slash == 0 || slash == std::string_view::npos || slash + 1 == rest.size()) return "";
        const std::string_view bucket = rest.substr(0, slash), key = rest.substr(slash + 1);
        if (std::string endpoint = s3_endpoint(); !endpoint.empty())
            return endpoint + "/" + std::string(bucket) + "/" + std::string(key);
        const std::string host = "s3." + s3_region() + ".amazonaws.com";
        if (is_host_bucket(bucket)) return "https://" + std::string(bucket) + "." + host + "/" + std::string(key);
        return "https://" + host + "/" + std::string(bucket) + "/" + std::string(key);
    }
    if (name.rfind(kPhysioNet, 0) == 0) {
        std::string base = environment("SIGTROVE_PHYSIONET_URL");
        if (base.empty()) base = kPhysioNetFiles;
        if (base.back() != '/') base += '/';
        const std::string_view rest = name.substr(kPhysioNet.size());
        if (rest.empty()) return "";
        return base + std::string(rest);
    }
    return "";
}

#if SIGTROVE_HAVE_CURL

std::optional<HttpRequest> remote_request(std::string_view name, const RemoteSettings &settings) {
    if (!is_remote_name(name)) return std::nullopt;
    HttpRequest request;
    request.url = fetch_url_of(name);
    if (request.url.empty()) return std::nullopt;
    request.timeout_seconds = settings.timeout_seconds;
    if (is_s3_name(name)) {
        const std::string key = environment("AWS_ACCESS_KEY_ID"), secret = environment("AWS_SECRET_ACCESS_KEY");
        if (!key.empty() && !secret.empty()) {
            request.aws_sigv4 = "aws:amz:" + s3_region() + ":s3";
            request.aws_key = key;
            request.aws_secret = secret;
            // S3 wants the payload's hash among the signed headers; libcurl does not add it
            // for a GET: the hash of the empty body.
            request.headers.push_back(
                "x-amz-content-sha256: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
            if (std::string token = environment("AWS_SESSION_TOKEN"); !token.empty())
                request.headers.push_back("x-amz-security-token: " + token);
        }
    }
    return request;
}

#endif

}  // namespace sigtrove::engine
