// The names of remote files and where each is fetched from. http:// and https://
// URLs are fetched as they are. s3://BUCKET/KEY names an object in an S3 bucket:
// it is fetched from AWS_ENDPOINT_URL_S3 (else AWS_ENDPOINT_URL) by path
// (ENDPOINT/BUCKET/KEY), or else from the bucket's own host in AWS_REGION
// (https://BUCKET.s3.REGION.amazonaws.com/KEY); its requests are signed (AWS
// Signature Version 4) when AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY are set,
// and anonymous otherwise, as an open bucket wants. physionet://DB/VERSION/FILE
// names a file of a PhysioNet database, fetched from SIGTROVE_PHYSIONET_URL
// (https://physionet.org/files/ when it is not set). The environment is read at
// every request and never written.
#ifndef SIGTROVE_ENGINE_REMOTE_LOCATION_H
#define SIGTROVE_ENGINE_REMOTE_LOCATION_H

#include <optional>
#include <string>
#include <string_view>

#include "network/remote_settings.h"

#if SIGTROVE_HAVE_CURL
#include "network/http_connection.h"
#endif

namespace sigtrove::engine {

// True for the names of remote files: http://, https://, s3:// and physionet:// URLs.
bool is_remote_name(std::string_view name);

// True for an s3:// name.
bool is_s3_name(std::string_view name);

// The URL that `name` is fetched from ("" for a name that is no remote name or
// names no file, as "s3://" alone). Never holds credentials.
std::string fetch_url_of(std::string_view name);

#if SIGTROVE_HAVE_CURL
// A request for `name` as `settings` say (its timeout), signed when it must be;
// none for a name that is no remote name.
std::optional<HttpRequest> remote_request(std::string_view name, const RemoteSettings &settings);
#endif

}  // namespace sigtrove::engine

#endif
