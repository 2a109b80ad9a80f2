"""Small files fetched from a web server with the rules the engine follows for its own requests
(its timeout, SIGTROVE_TIMEOUT, and its certificates, CURL_CA_BUNDLE): the download command's
requests, and a database's list files (RECORDS, ANNOTATORS) at a URL."""

import os
import ssl
import urllib.error
import urllib.request
from http.client import HTTPResponse
from typing import Dict, Optional, overload


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


class Fetcher:
    """Requests to one server, with its timeout and certificates."""

    def __init__(self) -> None:
        self.opener = urllib.request.build_opener(urllib.request.HTTPSHandler(context=_ssl_context()))
        self.timeout = _timeout()

    # Only a request with headers (a Range) can be answered 416, and so only it can get None.
    @overload
    def open(self, url: str, headers: None = None, method: str = "GET") -> HTTPResponse: ...

    @overload
    def open(self, url: str, headers: Dict[str, str], method: str = "GET") -> Optional[HTTPResponse]: ...

    def open(self, url: str, headers: Optional[Dict[str, str]] = None, method: str = "GET") -> Optional[HTTPResponse]:
        """The server's response; None when it has none of the Range asked for (HTTP 416)."""
        request = urllib.request.Request(url, headers=headers or {}, method=method)
        request.add_header("User-Agent", "sigtrove-download")
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
            raise DownloadError("%s: HTTP %d %s" % (url, error.code, error.reason)) from None
        except (urllib.error.URLError, OSError) as error:
            reason = getattr(error, "reason", error)
            raise DownloadError("%s: %s" % (url, reason)) from None

    def text(self, url: str) -> str:
        """A small text file, whole."""
        with self.open(url) as response:
            data = response.read()
            length = response.headers.get("Content-Length")
        if length is not None and len(data) != int(length):
            raise DownloadError("%s: short body (%d of %s bytes)" % (url, len(data), length))
        return data.decode("latin-1")
