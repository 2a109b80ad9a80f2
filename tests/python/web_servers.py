"""Web servers for the tests, all on the loopback address.

`Nginx` runs a real nginx as a foreground process (no master, no change of user,
so it runs as root in CI too) with a configuration written for the test, on a
free port, serving a folder over HTTP and, with a certificate made by openssl,
over HTTPS; /to-http/F, /to-https/F, /to-ftp/F and /to-localhost/F redirect
to F on its plain HTTP port, on its HTTPS port, to FTP and to the host name
localhost. Its access log tells which requests came and how many body bytes
each carried.

`FaultServer` is the tests' own small server (http.server, a thread per
connection) that serves the files of a folder but misbehaves on purpose, by the
first part of the path:

    /drop/F    answers a request for data with half its body, then closes the connection
    /short/F   answers a range with fewer bytes than its Content-Range says, and says so in Content-Length
    /error/F   answers a request for data with 500
    /stall/F   never answers a request for data
    /stall-all/F  never answers any request
    /endless/F    answers a request for data with the file and then bytes without end, with no
                  length (a HEAD request too) and whatever range was asked for (endless-all:
                  every request, headers too)
    /huge/F    says a data file is 10^14 bytes long: its bytes, then zeros (a whole answer ends
               after the file's bytes)
    /trickle/F    sends the body of data two bytes every half second (trickle-all: every body;
                  trickle-head: the head of every answer too)
    /cross/F   redirects every request to the same file on another host name (localhost)
    /bad-length/F  gives every answer a Content-Length that is not a number
    /any/D/F   serves D/F, or D/ANY for any name D does not have (a server that answers every name)

Any other first part (/plain/F) serves the file as it is. "Data" is the body of a
signal or annotation file (not a header, nor a RECORDS or ANNOTATORS list); HEAD
requests are served as they are, but for the claims of /huge/ and /bad-length/,
so that a record opens and the fault comes when its samples are read. It runs in
a process of its own: the module holds the interpreter lock while the engine
waits for a server, so a server thread in the test process could never answer.
"""

import pathlib
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

NGINX = shutil.which("nginx") or "/usr/sbin/nginx"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _wait_for_port(port, process, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.02)
    return False


class Nginx:
    def __init__(self, root, tls=False):
        self.root = str(root)
        self.dir = pathlib.Path(tempfile.mkdtemp(prefix="sigtrove-nginx-"))
        self.port = free_port()
        self.tls_port = free_port() if tls else None
        if tls:
            subprocess.run(
                [
                    "openssl",
                    "req",
                    "-x509",
                    "-newkey",
                    "ec",
                    "-pkeyopt",
                    "ec_paramgen_curve:prime256v1",
                    "-nodes",
                    "-keyout",
                    str(self.dir / "server.key"),
                    "-out",
                    str(self.dir / "server.crt"),
                    "-days",
                    "2",
                    "-subj",
                    "/CN=127.0.0.1",
                    "-addext",
                    "subjectAltName=IP:127.0.0.1",
                ],
                check=True,
                capture_output=True,
                timeout=60,
            )
        (self.dir / "nginx.conf").write_text(self._configuration())
        self.process = subprocess.Popen(
            [NGINX, "-p", str(self.dir), "-c", str(self.dir / "nginx.conf"), "-e", str(self.dir / "error.log")],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        ports = [self.port] + ([self.tls_port] if tls else [])
        if not all(_wait_for_port(p, self.process) for p in ports):
            self.stop()
            raise RuntimeError("nginx did not start: %s" % self._error_log())

    def _configuration(self):
        d = str(self.dir)
        tls = to_https = ""
        if self.tls_port:
            to_https = "    location ~ ^/to-https/(.*)$ { return 302 https://127.0.0.1:%d/$1; }\n" % self.tls_port
            tls = (
                "    listen 127.0.0.1:%d ssl;\n    ssl_certificate %s/server.crt;\n"
                "    ssl_certificate_key %s/server.key;\n" % (self.tls_port, d, d)
            )
        return (
            "daemon off;\nmaster_process off;\nworker_processes 1;\npid %(d)s/nginx.pid;\n"
            "error_log %(d)s/error.log warn;\nevents { worker_connections 256; }\n"
            "http {\n"
            '  log_format bytes \'$request_method $uri $status $body_bytes_sent "$http_range" "$remote_user"\';\n'
            "  access_log %(d)s/access.log bytes;\n"
            "  client_body_temp_path %(d)s/body;\n  proxy_temp_path %(d)s/proxy;\n"
            "  fastcgi_temp_path %(d)s/fastcgi;\n  uwsgi_temp_path %(d)s/uwsgi;\n  scgi_temp_path %(d)s/scgi;\n"
            "  default_type application/octet-stream;\n"
            "  server {\n    listen 127.0.0.1:%(port)d;\n%(tls)s    root %(root)s;\n"
            # Redirects of every kind: to plain HTTP (from HTTPS, a downgrade), to FTP, to another host name.
            "    location ~ ^/to-http/(.*)$ { return 302 http://127.0.0.1:%(port)d/$1; }\n"
            "    location ~ ^/to-ftp/(.*)$ { return 302 ftp://127.0.0.1:%(port)d/$1; }\n"
            "    location ~ ^/to-localhost/(.*)$ { return 302 http://localhost:%(port)d/$1; }\n"
            "%(to_https)s  }\n}\n"
        ) % {"d": d, "port": self.port, "tls": tls, "root": self.root, "to_https": to_https}

    def _error_log(self):
        try:
            return (self.dir / "error.log").read_text()
        except OSError:
            return ""

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def https_url(self, path=""):
        return "https://127.0.0.1:%d/%s" % (self.tls_port, path)

    @property
    def certificate(self):
        return str(self.dir / "server.crt")

    def requests(self):
        """(method, uri, status, body bytes, range, user) of every request logged, once the log stands
        still (the user of HTTP Basic authorization, "" for none)."""
        log = self.dir / "access.log"
        text = log.read_text() if log.exists() else ""
        for _ in range(20):
            time.sleep(0.02)
            again = log.read_text() if log.exists() else ""
            if again == text:
                break
            text = again
        out = []
        for line in text.splitlines():
            m = re.match(r'(\S+) (\S+) (\d+) (\d+) "(.*)" "(.*)"$', line)
            if m:
                user = "" if m.group(6) == "-" else m.group(6)
                out.append((m.group(1), m.group(2), int(m.group(3)), int(m.group(4)), m.group(5), user))
        return out

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.dir, ignore_errors=True)


# What /huge/ says a data file holds.
HUGE_LENGTH = 10**14
# The most an endless answer sends before it gives up (no client should read this far).
ENDLESS_LIMIT = 8 << 30


class _FaultHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def _target(self):
        match = re.match(r"^/([a-z-]+)/(.+)$", self.path)
        if not match:
            return None, None
        path = pathlib.Path(self.server.root) / match.group(2)
        return match.group(1), path

    def _stall(self):
        # Holds the request unanswered until the server stops (bounded, so no thread outlives the tests).
        self.server.stopping.wait(60)
        self.close_connection = True

    def _send(self, data, trickle=False):
        """Writes `data`, two bytes every half second when trickling; False once the client has gone."""
        try:
            if not trickle:
                self.wfile.write(data)
                return True
            for i in range(0, len(data), 2):
                if self.server.stopping.is_set():
                    return False
                self.wfile.write(data[i : i + 2])
                self.wfile.flush()
                time.sleep(0.5)
            return True
        except OSError:
            return False

    def _head(self, status, fields, trickle=False):
        lines = ["%s %d %s\r\n" % (self.protocol_version, status, self.responses.get(status, ("",))[0])]
        lines += ["%s: %s\r\n" % field for field in fields]
        return self._send(("".join(lines) + "\r\n").encode("latin-1"), trickle)

    def _endless(self, data):
        """The file's bytes (None for a HEAD request: no body), then bytes without end."""
        self.close_connection = True
        if not self._head(200, [("Connection", "close")]) or data is None:
            return
        sent = 0
        filler = b"x" * 65536
        while sent < ENDLESS_LIMIT and not self.server.stopping.is_set() and self._send(data or filler):
            sent += len(data or filler)
            data = b""

    def _serve(self, body_wanted):
        fault, path = self._target()
        if fault == "cross" and path is not None:
            port = self.server.server_address[1]
            self._head(
                302,
                [
                    ("Location", "http://localhost:%d/plain/%s" % (port, self.path.split("/", 2)[2])),
                    ("Content-Length", "0"),
                ],
            )
            return
        if fault == "any" and path is not None and not path.is_file():
            path = pathlib.Path(self.server.root) / self.path.split("/")[2] / "ANY"
        if path is None or not path.is_file():
            self.send_error(404)
            return
        data = path.read_bytes()
        is_data = not path.name.endswith(".hea") and path.name not in ("RECORDS", "ANNOTATORS")
        if fault == "stall-all" or (fault == "stall" and is_data and body_wanted):
            self._stall()
            return
        if fault == "error" and is_data and body_wanted:
            self.send_error(500)
            return
        if fault == "endless-all" or (fault == "endless" and is_data):
            self._endless(data if body_wanted else None)
            return
        size = HUGE_LENGTH if fault == "huge" and is_data else len(data)
        first, last = 0, size - 1
        status = 200
        match = re.match(r"bytes=(\d+)-(\d*)$", self.headers.get("Range", ""))
        if match:
            first = int(match.group(1))
            last = min(int(match.group(2)) if match.group(2) else size - 1, size - 1)
            status = 206
        if fault == "huge" and is_data:
            # The bytes the file has, zeros past them; a whole answer ends with the file.
            last = min(last, first + (1 << 20) - 1) if status == 206 else len(data) - 1
            body = data[first : last + 1] + bytes(max(0, last + 1 - max(first, len(data))))
        else:
            body = data[first : last + 1]
        sent = body
        length = str(len(body) if not (fault == "huge" and is_data and status == 200) else size)
        if is_data and body_wanted and fault == "drop":
            sent = body[: len(body) // 2]
        if is_data and body_wanted and fault == "short" and status == 206:
            sent = body[: len(body) // 2]
            length = str(len(sent))
        if fault == "bad-length":
            length = "%dabc" % len(body)
            self.close_connection = True
        fields = [("Content-Length", length), ("Accept-Ranges", "bytes")]
        if status == 206:
            fields.append(("Content-Range", "bytes %d-%d/%d" % (first, first + len(body) - 1, size)))
        if self.close_connection:
            fields.append(("Connection", "close"))
        if not self._head(status, fields, trickle=fault == "trickle-head"):
            self.close_connection = True
            return
        if body_wanted:
            trickle = fault in ("trickle-all", "trickle-head") or (fault == "trickle" and is_data)
            if not self._send(sent, trickle):
                self.close_connection = True
                return
            if len(sent) < int(length.rstrip("abc")):
                self.close_connection = True
                try:
                    self.wfile.flush()
                    self.connection.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass  # the client has gone already

    def do_GET(self):
        self._serve(True)

    def do_HEAD(self):
        self._serve(False)


def _serve_faults(root):
    server = ThreadingHTTPServer(("127.0.0.1", 0), _FaultHandler)
    server.daemon_threads = True
    server.root = root
    server.stopping = threading.Event()
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    # Runs until the test process closes standard input (or ends).
    sys.stdin.read()
    server.stopping.set()
    server.shutdown()


class FaultServer:
    def __init__(self, root):
        self.root = str(root)
        self.process = subprocess.Popen(
            [sys.executable, __file__, "faults", str(root)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
        )
        self.port = int(self.process.stdout.readline())

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def stop(self):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


if __name__ == "__main__" and sys.argv[1:2] == ["faults"]:
    _serve_faults(sys.argv[2])
