#include "web_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

extern char **environ;

namespace sigtrove::testing {
namespace {

// A port the kernel gives out as free, closed again for the server to take.
int free_port() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

bool accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

// Runs a program with its output discarded; its exit status, or -1.
int run(std::vector<std::string> arguments) {
    std::vector<char *> argv;
    for (std::string &a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string nginx_program() { return ::access("/usr/sbin/nginx", X_OK) == 0 ? "/usr/sbin/nginx" : "nginx"; }

}  // namespace

int refused_port() { return free_port(); }

WebServer::WebServer(const std::string &root, bool tls) : root_(root) {
    if (!start(tls)) {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        std::string log = read_file(dir_ / "error.log");
        if (!log.empty()) failure_ += "\n" + log;
    }
}

WebServer::~WebServer() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
}

std::string WebServer::configuration(bool tls) const {
    const std::string d = dir_.path();
    std::ostringstream c;
    // One foreground process, no master and no change of user: it runs as whoever runs the tests.
    c << "daemon off;\nmaster_process off;\nworker_processes 1;\npid " << d << "/nginx.pid;\n"
      << "error_log " << d << "/error.log warn;\n"
      << "events { worker_connections 256; }\n"
      << "http {\n"
      << "  log_format bytes '$request_method $uri $status $body_bytes_sent \"$http_range\"';\n"
      << "  access_log " << d << "/access.log bytes;\n"
      << "  client_body_temp_path " << d << "/body;\n  proxy_temp_path " << d << "/proxy;\n"
      << "  fastcgi_temp_path " << d << "/fastcgi;\n  uwsgi_temp_path " << d << "/uwsgi;\n"
      << "  scgi_temp_path " << d << "/scgi;\n"
      << "  default_type application/octet-stream;\n"
      << "  server {\n    listen 127.0.0.1:" << port_ << ";\n";
    if (tls)
        c << "    listen 127.0.0.1:" << tls_port_ << " ssl;\n    ssl_certificate " << d << "/server.crt;\n"
          << "    ssl_certificate_key " << d << "/server.key;\n";
    c << "    root " << root_ << ";\n"
      << "    location /no-ranges/ { alias " << root_ << "/; max_ranges 0; }\n"
      << "    location /moved/ { rewrite ^/moved/(.*)$ /$1 redirect; }\n"
      << "    location /failing/ { return 500; }\n"
      // Redirects of every kind: to plain HTTP (from HTTPS, a downgrade), to HTTPS, to FTP, to another host name.
      << "    location ~ ^/to-http/(.*)$ { return 302 http://127.0.0.1:" << port_ << "/$1; }\n"
      << "    location ~ ^/to-ftp/(.*)$ { return 302 ftp://127.0.0.1:" << port_ << "/$1; }\n"
      << "    location ~ ^/to-localhost/(.*)$ { return 302 http://localhost:" << port_ << "/$1; }\n";
    if (tls) c << "    location ~ ^/to-https/(.*)$ { return 302 https://127.0.0.1:" << tls_port_ << "/$1; }\n";
    c << "  }\n}\n";
    return c.str();
}

bool WebServer::start(bool tls) {
    port_ = free_port();
    tls_port_ = tls ? free_port() : 0;
    if (port_ == 0 || (tls && tls_port_ == 0)) {
        failure_ = "no free port";
        return false;
    }
    if (tls && run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                    "-keyout", dir_ / "server.key", "-out", dir_ / "server.crt", "-days", "2", "-subj", "/CN=127.0.0.1",
                    "-addext", "subjectAltName=IP:127.0.0.1"}) != 0) {
        failure_ = "openssl could not make a certificate";
        return false;
    }
    dir_.write("nginx.conf", configuration(tls));
    std::vector<std::string> arguments{nginx_program(),     "-p", dir_.path(),       "-c",
                                       dir_ / "nginx.conf", "-e", dir_ / "error.log"};
    std::vector<char *> argv;
    for (std::string &a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
        failure_ = "nginx could not be started (is it installed? scripts/setup.sh installs it)";
        return false;
    }
    for (int i = 0; i < 500; ++i) {
        if (accepts(port_) && (!tls || accepts(tls_port_))) return true;
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            failure_ = "nginx exited at once";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    failure_ = "nginx did not answer within 5 s";
    return false;
}

std::string WebServer::url(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

std::string WebServer::https_url(const std::string &path) const {
    return "https://127.0.0.1:" + std::to_string(tls_port_) + "/" + path;
}

std::vector<LoggedRequest> WebServer::requests() const {
    // nginx logs a request just after its last byte went out: wait until the log stands still.
    std::string text = read_file(dir_ / "access.log");
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::string again = read_file(dir_ / "access.log");
        if (again == text) break;
        text = std::move(again);
    }
    std::vector<LoggedRequest> out;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        LoggedRequest r;
        fields >> r.method >> r.uri >> r.status >> r.body_bytes;
        std::getline(fields, r.range);
        std::size_t open = r.range.find('"'), close = r.range.rfind('"');
        r.range = open != std::string::npos && close > open ? r.range.substr(open + 1, close - open - 1) : "-";
        out.push_back(std::move(r));
    }
    return out;
}

long long WebServer::body_bytes(const std::string &uri) const {
    long long total = 0;
    for (const LoggedRequest &r : requests())
        if (r.uri == uri) total += r.body_bytes;
    return total;
}

}  // namespace sigtrove::testing
