"""The viewer's web server: one page and the answers to its questions, on 127.0.0.1 only.

Every address begins with a random token (http://127.0.0.1:PORT/TOKEN/...), which only the URL that
the viewer prints or opens carries: a request without it, from another local user or from a page of
another site, is refused with 403. So is a request whose Host header is not this server's own
address, which is how a site that points its own name at 127.0.0.1 (DNS rebinding) would ask.
The server reads nothing but the record and annotators it was started on; the page's files are
served from memory, by name.
"""

import hmac
import pathlib
import secrets
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Any, Callable, Dict, List, Optional, Tuple
from urllib.parse import parse_qs, urlsplit

from sigtrove.viewer._session import BadQuestion, NotFound, RecordSession, json_bytes, window_bytes

ASSETS = pathlib.Path(__file__).resolve().with_name("assets")
# The page's files: name -> (file in ASSETS, content type).
PAGE_FILES = {
    "": ("index.html", "text/html; charset=utf-8"),
    "viewer.js": ("viewer.js", "text/javascript; charset=utf-8"),
    "viewer.css": ("viewer.css", "text/css; charset=utf-8"),
    "favicon.svg": ("favicon.svg", "image/svg+xml"),
}
# The page loads its own script and style and asks only this server: nothing else is let in.
CONTENT_SECURITY_POLICY = (
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
    "base-uri 'none'; form-action 'none'"
)
# Longest request line and query the server reads.
MAX_QUERY = 2000


class ViewerServer(ThreadingHTTPServer):
    daemon_threads = True
    # A port left in TIME_WAIT by a viewer just stopped can be listened on again at once; a port that
    # another program listens on is still refused (Linux shares a listening port only by SO_REUSEPORT).
    allow_reuse_address = True

    def __init__(self, session: RecordSession, port: int = 0) -> None:
        self.session = session
        self.token = secrets.token_urlsafe(24)
        self.page_files = {name: ((ASSETS / file).read_bytes(), kind) for name, (file, kind) in PAGE_FILES.items()}
        super().__init__(("127.0.0.1", port), ViewerRequestHandler)
        self.port = int(self.server_address[1])
        self.hosts = {"127.0.0.1:%d" % self.port, "localhost:%d" % self.port}

    @property
    def url(self) -> str:
        return "http://127.0.0.1:%d/%s/" % (self.port, self.token)


class Answer(Exception):
    """An answer other than 200, raised from anywhere in a handler."""

    def __init__(self, status: int, text: str) -> None:
        super().__init__(text)
        self.status = status


class ViewerRequestHandler(BaseHTTPRequestHandler):
    server: ViewerServer
    protocol_version = "HTTP/1.1"
    # An answer's headers and body leave at once: with Nagle's algorithm, a kept-alive connection
    # would wait for the browser's delayed acknowledgement (40 ms) before every body.
    disable_nagle_algorithm = True
    server_version = "sigtrove-viewer"
    sys_version = ""

    def do_GET(self) -> None:
        self._answer(send_body=True)

    def do_HEAD(self) -> None:
        self._answer(send_body=False)

    def _refuse_method(self) -> None:
        self._send(405, b"only GET and HEAD\n", "text/plain; charset=utf-8", extra={"Allow": "GET, HEAD"})

    do_POST = do_PUT = do_DELETE = do_PATCH = do_OPTIONS = _refuse_method

    def log_message(self, format: str, *args: Any) -> None:
        pass  # the command prints its URL; a log line per request would bury it

    def _answer(self, send_body: bool) -> None:
        try:
            body, kind = self._route()
            self._send(200, body, kind, send_body=send_body)
        except Answer as answer:
            self._send(answer.status, json_bytes({"error": str(answer)}), "application/json", send_body=send_body)
        except BadQuestion as error:
            self._send(400, json_bytes({"error": str(error)}), "application/json", send_body=send_body)
        except NotFound as error:
            self._send(404, json_bytes({"error": str(error)}), "application/json", send_body=send_body)
        except Exception as error:  # a record that fails to read: the page shows the text
            text = str(error).rstrip("\n") or type(error).__name__
            self._send(500, json_bytes({"error": text}), "application/json", send_body=send_body)

    def _route(self) -> Tuple[bytes, str]:
        server = self.server
        host = self.headers.get("Host", "").strip().lower()
        if host not in server.hosts:
            raise Answer(403, "this server answers only to its own address, not to Host %r" % host[:100])
        if len(self.path) > MAX_QUERY:
            raise Answer(414, "request too long")
        address = urlsplit(self.path)
        parts = address.path.split("/", 2)
        if len(parts) < 2 or not hmac.compare_digest(parts[1].encode("utf-8"), server.token.encode("ascii")):
            raise Answer(403, "this address needs the viewer's token: open the URL that sigtrove printed")
        if len(parts) == 2:
            raise Answer(404, "the page is at /%s/" % server.token)
        name = parts[2]
        if name in server.page_files:
            return server.page_files[name]
        question = QUESTIONS.get(name)
        if question is None:
            raise Answer(404, "no such page: %r" % name[:100])
        return question(server.session, Query(address.query))

    def _send(
        self,
        status: int,
        body: bytes,
        kind: str,
        send_body: bool = True,
        extra: Optional[Dict[str, str]] = None,
    ) -> None:
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.send_header("X-Content-Type-Options", "nosniff")
        self.send_header("Referrer-Policy", "no-referrer")
        self.send_header("Cross-Origin-Resource-Policy", "same-origin")
        if kind.startswith("text/html"):
            self.send_header("Content-Security-Policy", CONTENT_SECURITY_POLICY)
        for name, value in (extra or {}).items():
            self.send_header(name, value)
        self.end_headers()
        if send_body:
            self.wfile.write(body)


class Query:
    """A request's query parameters, each read with the check its question needs."""

    def __init__(self, text: str) -> None:
        self.values = parse_qs(text, keep_blank_values=True)

    def text(self, name: str, default: Optional[str] = None) -> str:
        values = self.values.get(name)
        if not values:
            if default is None:
                raise BadQuestion("missing %s" % name)
            return default
        return values[-1]

    def integer(self, name: str, default: Optional[int] = None) -> int:
        if name not in self.values and default is not None:
            return default
        text = self.text(name)
        try:
            value = int(text)
        except ValueError:
            raise BadQuestion("%s %r is not a whole number" % (name, text[:40])) from None
        if abs(value) > 1 << 62:
            raise BadQuestion("%s %d is out of range" % (name, value))
        return value

    def optional_integer(self, name: str) -> Optional[int]:
        return self.integer(name) if name in self.values else None

    def integers(self, name: str) -> Optional[List[int]]:
        if name not in self.values:
            return None
        words = [word for word in self.text(name).split(",") if word]
        try:
            return [int(word) for word in words]
        except ValueError:
            raise BadQuestion("%s: not a list of signal numbers" % name) from None


def _description(session: RecordSession, query: Query) -> Tuple[bytes, str]:
    return json_bytes(session.description()), "application/json"


def _window(session: RecordSession, query: Query) -> Tuple[bytes, str]:
    window = session.window(
        query.integer("start"), query.integer("stop"), query.integer("columns", 1000), query.integers("signals")
    )
    return window_bytes(window), "application/octet-stream"


def _annotations(session: RecordSession, query: Query) -> Tuple[bytes, str]:
    answer = session.annotations(
        query.text("annotator"), query.integer("start"), query.integer("stop"), query.integer("columns", 1000)
    )
    return json_bytes(answer), "application/json"


def _find(session: RecordSession, query: Query) -> Tuple[bytes, str]:
    time = session.find(
        query.text("annotator"), query.text("symbol"), query.optional_integer("after"), query.optional_integer("before")
    )
    return json_bytes({"time": time}), "application/json"


def _time(session: RecordSession, query: Query) -> Tuple[bytes, str]:
    return json_bytes({"frame": session.frame_of(query.text("text"))}), "application/json"


QUESTIONS: Dict[str, Callable[[RecordSession, Query], Tuple[bytes, str]]] = {
    "record": _description,
    "window": _window,
    "annotations": _annotations,
    "find": _find,
    "time": _time,
}


def serve_in_thread(server: ViewerServer) -> threading.Thread:
    thread = threading.Thread(target=server.serve_forever, name="sigtrove viewer", daemon=True)
    thread.start()
    return thread
