"""Small files fetched from a web server with the rules the engine follows for its own requests:
the download command's requests, and a database's list files (RECORDS, ANNOTATORS) at a URL.

- Its timeout (SIGTROVE_TIMEOUT): a connection is made within it, an answer's head comes whole
  within it, and a body that brings fewer than RATE_FLOOR bytes a second over a stretch as long as
  it fails (a trickle as well as silence).
- Its certificates (CURL_CA_BUNDLE, else the usual SSL_CERT_FILE / SSL_CERT_DIR).
- Redirects only to the same host, by the same scheme and port or from http to https.
- A Content-Length that is no number is an error, and no text shows a URL's user name and
  password (which are sent, as HTTP Basic authorization, to the URL's own host only) or a
  character from the server that a terminal would act on.
"""

import http.client
import io
import os
import socket
import ssl
import time
import urllib.error
import urllib.request
from http.client import HTTPResponse
from typing import Any, Dict, Optional, overload

from sigtrove._memory_ceiling import MemoryBudget
from sigtrove._transfer_rate import TransferRate
from sigtrove._url_text import printable, redirect_allowed, split_credentials


class DownloadError(Exception):
    """A file that could not be fetched whole."""


class NotOnServer(DownloadError):
    """The server says the file is not there (404 or 410)."""


def _timeout() -> float:
    try:
        seconds = float(os.environ.get("SIGTROVE_TIMEOUT", "30"))
    except ValueError:
        seconds = 30.0
    return seconds if seconds > 0 else 30.0


def _ssl_context() -> ssl.SSLContext:
    # The certificates the engine trusts: CURL_CA_BUNDLE, else the usual SSL_CERT_FILE / SSL_CERT_DIR.
    bundle = os.environ.get("CURL_CA_BUNDLE")
    return ssl.create_default_context(cafile=bundle) if bundle else ssl.create_default_context()


class _RatedSocket:
    """A connected socket whose reads are held to the timeout's rules: the answer's head (up to its
    blank line) must come whole within `timeout` seconds of waiting, then the body must keep above
    the rate floor (TransferRate). A read that breaks a rule raises TimeoutError saying which."""

    def __init__(self, sock: Any, timeout: float) -> None:
        self._sock = sock
        self._timeout = timeout
        self._head_waited = 0.0
        self._head_done = False
        self._tail = b""  # the last bytes of the head so far, where its end may begin
        self._rate = TransferRate(timeout)
        self._readers = 0
        self._closed = False

    def __getattr__(self, name: str) -> Any:
        return getattr(self._sock, name)

    def makefile(self, mode: str = "rb", *args: Any, **kwargs: Any) -> io.BufferedReader:
        if mode != "rb":
            raise ValueError("a rated socket is read in binary only")
        self._readers += 1
        return io.BufferedReader(_RatedReader(self))

    def close(self) -> None:
        # As socket.close: the socket itself closes once the files made from it are closed too.
        self._closed = True
        if self._readers == 0:
            self._sock.close()

    def _reader_closed(self) -> None:
        self._readers -= 1
        if self._closed and self._readers == 0:
            self._sock.close()

    def _count(self, seconds: float, data: memoryview) -> None:
        if not self._head_done:
            self._head_waited += seconds
            seen = self._tail + bytes(data)
            end = seen.find(b"\r\n\r\n")
            if end >= 0:
                self._head_done = True
                self._rate.waited(0, len(seen) - end - 4)
                return
            self._tail = seen[-3:]
            if self._head_waited >= self._timeout:
                raise TimeoutError("timed out: no answer (a whole response head) within %g s" % self._timeout)
            return
        self._rate.waited(seconds, len(data))
        if self._rate.too_slow():
            raise TimeoutError(self._rate.failure())

    def recv_into(self, buffer: Any) -> int:
        view = memoryview(buffer).cast("B")
        while True:
            patience = self._rate.patience() if self._head_done else self._timeout - self._head_waited
            self._sock.settimeout(max(patience, 0.01))
            started = time.monotonic()
            try:
                got = self._sock.recv_into(view)
            except socket.timeout:
                got = None
            self._count(time.monotonic() - started, view[: got or 0])
            if got is not None:
                return int(got)


class _RatedReader(io.RawIOBase):
    def __init__(self, owner: _RatedSocket) -> None:
        self._owner = owner

    def readable(self) -> bool:
        return True

    def readinto(self, buffer: Any) -> int:
        return self._owner.recv_into(buffer)

    def close(self) -> None:
        if not self.closed:
            self._owner._reader_closed()
        super().close()


class _RatedHTTPConnection(http.client.HTTPConnection):
    def connect(self) -> None:
        super().connect()
        self.sock = _RatedSocket(self.sock, _timeout() if self.timeout is None else self.timeout)


class _RatedHTTPSConnection(http.client.HTTPSConnection):
    def connect(self) -> None:
        super().connect()  # the TLS handshake, within the socket's timeout
        self.sock = _RatedSocket(self.sock, _timeout() if self.timeout is None else self.timeout)


class _HTTPHandler(urllib.request.HTTPHandler):
    def http_open(self, req: urllib.request.Request) -> http.client.HTTPResponse:
        return self.do_open(_RatedHTTPConnection, req)


class _HTTPSHandler(urllib.request.HTTPSHandler):
    def __init__(self, context: ssl.SSLContext) -> None:
        super().__init__(context=context)
        self._rated_context = context

    def https_open(self, req: urllib.request.Request) -> http.client.HTTPResponse:
        return self.do_open(_RatedHTTPSConnection, req, context=self._rated_context)


class _SameHostRedirects(urllib.request.HTTPRedirectHandler):
    """Follows a redirect only to the same host, by the same scheme and port or from http to https."""

    def redirect_request(
        self, req: urllib.request.Request, fp: Any, code: int, msg: str, headers: Any, newurl: str
    ) -> Optional[urllib.request.Request]:
        if not redirect_allowed(req.full_url, newurl):
            fp.close()
            raise DownloadError(
                "%s: redirected to %s, which is not on the same host by the same scheme (or from http to "
                "https): not followed" % (req.full_url, printable(split_credentials(newurl)[0]))
            )
        return super().redirect_request(req, fp, code, msg, headers, newurl)


def content_length(response: HTTPResponse, url: str) -> Optional[int]:
    """The length an answer gives its body; None when it gives none, an error when it is no number."""
    values = response.headers.get_all("Content-Length") or []
    if not values:
        return None
    texts = {value.strip() for value in values}
    text = texts.pop()
    if texts or not (text.isascii() and text.isdigit()) or len(text) > 18:
        raise DownloadError(
            "%s: the server's Content-Length '%s' is not a number of bytes" % (url, printable(", ".join(values)))
        )
    return int(text)


class Fetcher:
    """Requests to one server, with its timeout and certificates."""

    def __init__(self, authorization: Optional[str] = None) -> None:
        # What every request carries (HTTP Basic, from a URL's user name and password), if anything.
        self.authorization = authorization
        # Only what HTTP(S) needs: no FTP, no local files, whatever a server redirects to.
        self.opener = urllib.request.OpenerDirector()
        for handler in (
            _HTTPHandler(),
            _HTTPSHandler(_ssl_context()),
            _SameHostRedirects(),
            urllib.request.HTTPDefaultErrorHandler(),
            urllib.request.HTTPErrorProcessor(),
            urllib.request.UnknownHandler(),
        ):
            self.opener.add_handler(handler)
        self.timeout = _timeout()

    # Only a request with headers (a Range) can be answered 416, and so only it can get None.
    @overload
    def open(self, url: str, headers: None = None, method: str = "GET") -> HTTPResponse: ...

    @overload
    def open(self, url: str, headers: Dict[str, str], method: str = "GET") -> Optional[HTTPResponse]: ...

    def open(self, url: str, headers: Optional[Dict[str, str]] = None, method: str = "GET") -> Optional[HTTPResponse]:
        """The server's response; None when it has none of the Range asked for (HTTP 416). A URL's user
        name and password become an Authorization header; texts name the URL without them."""
        url, authorization = split_credentials(url)
        authorization = authorization or self.authorization
        request = urllib.request.Request(url, headers=headers or {}, method=method)
        request.add_header("User-Agent", "sigtrove-download")
        if authorization:
            request.add_header("Authorization", authorization)
        try:
            # What the opener's HTTP and HTTPS handlers give.
            response: HTTPResponse = self.opener.open(request, timeout=self.timeout)
            return response
        except urllib.error.HTTPError as error:
            error.close()
            if error.code in (404, 410):
                raise NotOnServer("%s: not on the server (HTTP %d)" % (url, error.code)) from None
            if error.code == 416:
                return None
            raise DownloadError("%s: HTTP %d %s" % (url, error.code, printable(str(error.reason)))) from None
        except (urllib.error.URLError, OSError, http.client.HTTPException) as error:
            reason = getattr(error, "reason", error)
            raise DownloadError("%s: %s" % (url, printable(str(reason)))) from None

    def text(self, url: str, budget: MemoryBudget) -> str:
        """A small text file, whole, if it fits what `budget` has left (else CeilingExceeded). The
        caller charges what it keeps of it."""
        shown_url = split_credentials(url)[0]
        with self.open(url) as response:
            length = content_length(response, shown_url)
            if length is not None and length > budget.left:
                budget.charge(shown_url, length)
            try:
                data = response.read(budget.left + 1)
            except (OSError, http.client.HTTPException) as error:
                raise DownloadError("%s: %s" % (shown_url, printable(str(error)))) from None
        if len(data) > budget.left:
            budget.charge(shown_url, len(data))
        if length is not None and len(data) != length:
            raise DownloadError("%s: short body (%d of %d bytes)" % (shown_url, len(data), length))
        return data.decode("latin-1")
