"""Files of web servers fetched whole, through the engine's HTTP client (``_sigtrove._FileDownload``):
its timeout and rate floor, its certificates, redirects only to the same host (by the same scheme and
port, or from http to https), a Content-Length that must be a number, a body without one held to the
memory ceiling, and no text that shows a URL's user name and password (which go, as HTTP Basic
authorization, to the URL's own host only). Every wait on the server releases the interpreter lock."""

from typing import Optional

import _sigtrove


class DownloadError(Exception):
    """A file that could not be fetched whole."""


class NotOnServer(DownloadError):
    """The server says the file is not there (404 or 410)."""


def shown_url(url: str) -> str:
    """The URL as texts name it: without its user name and password."""
    return _sigtrove._without_credentials(url)


def open_file(url: str, first: int = 0, head_only: bool = False) -> Optional[_sigtrove._FileDownload]:
    """The server's answer to a GET of `url` (from byte `first` on) or, with `head_only`, a HEAD; its
    body is read with read(). None when it has none of the bytes asked for (HTTP 416). A server that
    answers 404 or 410 raises NotOnServer; any other failure DownloadError."""
    download = _sigtrove._FileDownload()
    try:
        download.start(url, first, head_only)
    except _sigtrove.Error as error:
        raise DownloadError(str(error).rstrip("\n")) from None
    status = download.status
    if status in (200, 206):
        return download
    download.close()
    if status in (404, 410):
        raise NotOnServer("%s: not on the server (HTTP %d)" % (shown_url(url), status))
    if status == 416 and first > 0:
        return None
    raise DownloadError("%s: HTTP %d %s" % (shown_url(url), status, download.reason))


def read_body(download: _sigtrove._FileDownload, limit: int) -> bytes:
    """The next bytes of a body, at most `limit` (b"" at its end); DownloadError when the transfer
    fails (too slow, cut short, past the memory ceiling without a length)."""
    try:
        return download.read(limit)
    except _sigtrove.Error as error:
        raise DownloadError(str(error).rstrip("\n")) from None


def fetch_text(url: str, limit: int) -> str:
    """A small text file, whole, decoded as Latin-1 (every byte a character); more than `limit`
    bytes raises OverflowError with the size the server gave, or None when it gave none."""
    download = open_file(url)
    assert download is not None  # only a request from a byte on can be answered 416
    try:
        length = download.content_length
        if length is not None and length > limit:
            raise OverflowError(length)
        data = b""
        while True:
            try:
                chunk = read_body(download, limit + 1 - len(data))
            except DownloadError:
                # Past the limit, a body without a length is refused by the limit's own error.
                if length is None and len(data) >= limit:
                    raise OverflowError(None) from None
                raise
            if not chunk:
                break
            data += chunk
            if len(data) > limit:
                raise OverflowError(None)
    finally:
        download.close()
    return data.decode("latin-1")
