"""What the package shows of URLs and of what servers send: URLs without the user name and password
they may carry, texts with every character a terminal would act on escaped; and which redirects
are followed (only to the same host, by the same scheme and port or from http to https)."""

import base64
import re
import urllib.parse
from typing import Optional, Tuple

# "scheme://USER:PASSWORD@" up to the host: the user information of a URL in a text.
_CREDENTIALS = re.compile(r"(?<=://)[^/?#\s'\"]*@")


def without_credentials(text: str) -> str:
    """`text` with the user information of every URL in it removed."""
    return _CREDENTIALS.sub("", text)


def printable(text: str) -> str:
    """`text` with every character that is not printable (escape sequences, bells, NULs) escaped."""
    if text.isprintable():
        return text
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in text)


def shown(text: str) -> str:
    """A text as it may be printed: no credentials, nothing a terminal would act on."""
    return printable(without_credentials(text))


def split_credentials(url: str) -> Tuple[str, Optional[str]]:
    """The URL without its user information, and the Authorization header that information makes
    (HTTP Basic), or None when it has none."""
    parts = urllib.parse.urlsplit(url)
    if "@" not in parts.netloc:
        return url, None
    userinfo, _, host = parts.netloc.rpartition("@")
    user, _, password = userinfo.partition(":")
    pair = "%s:%s" % (urllib.parse.unquote(user), urllib.parse.unquote(password))
    authorization = "Basic " + base64.b64encode(pair.encode("utf-8")).decode("ascii")
    return urllib.parse.urlunsplit(parts._replace(netloc=host)), authorization


def _origin(url: str) -> Optional[Tuple[str, str, int]]:
    parts = urllib.parse.urlsplit(url)
    scheme = parts.scheme.lower()
    if scheme not in ("http", "https") or not parts.hostname:
        return None
    try:
        port = parts.port
    except ValueError:
        return None
    return scheme, parts.hostname.lower(), port or (443 if scheme == "https" else 80)


def redirect_allowed(from_url: str, to_url: str) -> bool:
    """Whether a redirect from `from_url` to `to_url` is followed: only to the same host, by the same
    scheme and port, or from http to https (on any port)."""
    source, target = _origin(from_url), _origin(to_url)
    if source is None or target is None or source[1] != target[1]:
        return False
    if source[0] == target[0]:
        return source[2] == target[2]
    return source[0] == "http" and target[0] == "https"
