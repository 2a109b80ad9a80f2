"""A web server of the tests' own that waits a fixed time before every answer and
keeps a log of the requests it got, on the loopback address.

It serves the files of a folder (with byte ranges) as a distant server would: each
answer comes `delay` seconds after its request, whatever else is under way, so a
reader that asks one request after another pays the delay each time, and one that
asks many at once pays it once. It runs in a process of its own (a thread per
connection), as the engine may hold the interpreter lock while it waits.

`requests()` gives what came since the last `reset()`: (method, path, range, start,
end) per request, times in seconds of the server's clock. `rounds()` counts the
round trips those took: a request that started after every request before it had
been answered begins a new round. A request is logged before its answer goes
out, and both `reset()` and `requests()` first wait until every request that came
is logged: a client that has its answer finds its request counted, and a reset
never leaves a request of before it to be logged after it.
"""

import json
import pathlib
import re
import subprocess
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class _DelayHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # The head and the body go out in two writes: with Nagle's algorithm the body would wait for
    # the client's delayed acknowledgement of the head (40 ms on Linux), a delay no real server adds.
    disable_nagle_algorithm = True

    def log_message(self, *args):
        pass

    def _answer(self, status, fields, body):
        self.send_response(status)
        for name, value in fields:
            self.send_header(name, value)
        self.end_headers()
        if body:
            self.wfile.write(body)

    def _control(self):
        if self.path not in ("/_log", "/_reset"):
            return False
        with self.server.quiet:
            # Bounded: a request that never comes to its answer fails its test by what is missing.
            self.server.quiet.wait_for(lambda: self.server.unlogged == 0, timeout=30)
            if self.path == "/_log":
                body = json.dumps(self.server.log).encode()
            else:
                self.server.log, body = [], b""
        self._answer(200, [("Content-Length", str(len(body)))], body)
        return True

    def _serve(self, body_wanted):
        if self._control():
            return
        with self.server.quiet:
            self.server.unlogged += 1
        self.entry = None
        try:
            self._serve_file(body_wanted)
        finally:
            if self.entry is None:  # failed before its answer: nothing to log, nothing to wait for
                self._log(None)

    def _log(self, entry):
        with self.server.quiet:
            self.entry = entry
            if entry is not None:
                self.server.log.append(entry)
            self.server.unlogged -= 1
            self.server.quiet.notify_all()

    def _serve_file(self, body_wanted):
        start = time.monotonic()
        time.sleep(self.server.delay)
        path = pathlib.Path(self.server.root) / self.path.lstrip("/").split("?")[0]
        fields = []
        if ".." in self.path or not path.is_file():
            status, body = 404, b""
        else:
            data = path.read_bytes()
            status, body = 200, data
            match = re.match(r"bytes=(\d+)-(\d*)$", self.headers.get("Range", ""))
            if match:
                first = int(match.group(1))
                last = min(int(match.group(2)) if match.group(2) else len(data) - 1, len(data) - 1)
                if first >= len(data):
                    status, body = 416, b""
                    fields.append(("Content-Range", "bytes */%d" % len(data)))
                else:
                    status, body = 206, data[first : last + 1]
                    fields.append(("Content-Range", "bytes %d-%d/%d" % (first, last, len(data))))
            fields.append(("Accept-Ranges", "bytes"))
        fields.append(("Content-Length", str(len(body))))
        self._log([self.command, self.path, self.headers.get("Range", ""), start, time.monotonic()])
        try:
            self._answer(status, fields, body if body_wanted else b"")
            self.wfile.flush()
        except OSError:
            self.close_connection = True

    def do_GET(self):
        self._serve(True)

    def do_HEAD(self):
        self._serve(False)


class _DelayServer(ThreadingHTTPServer):
    # Readers open many connections at once (up to 16 each): with the default backlog of 5 the
    # kernel drops the connections past it, and each of those waits a second for its retry.
    request_queue_size = 128


def _run(root, delay):
    server = _DelayServer(("127.0.0.1", 0), _DelayHandler)
    server.daemon_threads = True
    server.root = root
    server.delay = delay
    server.quiet = threading.Condition()
    server.unlogged = 0  # requests that came and are not logged yet
    server.log = []
    print(server.server_address[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    sys.stdin.read()  # runs until the test process closes standard input (or ends)
    server.shutdown()


class DelayServer:
    def __init__(self, root, delay):
        self.process = subprocess.Popen(
            [sys.executable, __file__, str(root), repr(delay)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
        )
        self.port = int(self.process.stdout.readline())

    def url(self, path=""):
        return "http://127.0.0.1:%d/%s" % (self.port, path)

    def _control(self, path):
        import urllib.request

        with urllib.request.urlopen(self.url(path), timeout=10) as answer:
            return answer.read()

    def reset(self):
        self._control("_reset")

    def requests(self):
        return [tuple(entry) for entry in json.loads(self._control("_log"))]

    def rounds(self):
        rounds, answered_by = 0, None
        for entry in sorted(self.requests(), key=lambda entry: entry[3]):
            if answered_by is None or entry[3] >= answered_by:
                rounds += 1
                answered_by = entry[4]
            else:
                answered_by = max(answered_by, entry[4])
        return rounds

    def stop(self):
        self.process.stdin.close()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


if __name__ == "__main__":
    _run(sys.argv[1], float(sys.argv[2]))
