// A real web server for the engine's tests: nginx, started as a foreground
// process on a free loopback port with a configuration written for the test,
// serving a folder over HTTP (and HTTPS with a certificate made for the test).
// Besides the folder itself it serves it again under /no-ranges/ (answering
// every range request with the whole file), /moved/ (redirecting to the plain
// path) and /failing/ (answering 500); /to-http/, /to-https/, /to-ftp/ and
// /to-localhost/ redirect to the plain path over HTTP, over HTTPS, to FTP and
// to the host name localhost. Its access log tells which requests came
// and how many body bytes each response carried.
#ifndef SIGTROVE_TESTS_WEB_SERVER_H
#define SIGTROVE_TESTS_WEB_SERVER_H

#include <sys/types.h>

#include <string>
#include <vector>

#include "fixture_files.h"

namespace sigtrove::testing {

// One request as the server logged it.
struct LoggedRequest {
    std::string method;
    std::string uri;
    int status = 0;
    long long body_bytes = 0;
    std::string range;  // the Range header, "-" for none
};

class WebServer {
public:
    // Serves `root`; with `tls`, also over HTTPS on a second port.
    explicit WebServer(const std::string &root, bool tls = false);
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // "" once the server answers; else why it could not be started.
    const std::string &failure() const { return failure_; }

    // "http://127.0.0.1:PORT/" + path
    std::string url(const std::string &path = "") const;
    // "https://127.0.0.1:PORT/" + path
    std::string https_url(const std::string &path = "") const;
    // The certificate the HTTPS port presents; it signs itself, so it is also the CA to trust.
    std::string certificate() const { return dir_ / "server.crt"; }

    // The requests logged so far, once the log has stopped growing.
    std::vector<LoggedRequest> requests() const;
    // The body bytes sent for `uri` (a path such as "/100.dat") over all its requests.
    long long body_bytes(const std::string &uri) const;

private:
    bool start(bool tls);
    std::string configuration(bool tls) const;

    std::string root_;
    TempDir dir_;
    int port_ = 0, tls_port_ = 0;
    pid_t pid_ = -1;
    std::string failure_;
};

// A loopback port where nothing listens: connecting to it is refused.
int refused_port();

}  // namespace sigtrove::testing

#endif
