"""Asking a viewer's server what its page asks, over HTTP on the loopback address, and reading its
answers: JSON, and windows (a 32-bit length, a JSON header, then 32-bit floats)."""

import http.client
import json
import struct
import time
import urllib.parse
from typing import NamedTuple

import numpy as np


class Answer(NamedTuple):
    status: int
    headers: dict
    body: bytes

    def json(self):
        return json.loads(self.body)


class Window(NamedTuple):
    header: dict
    values: list  # per signal: every sample, or a (bins, 2) array of lowest and highest values


class Client:
    def __init__(self, url):
        parts = urllib.parse.urlsplit(url)
        self.host, self.port = parts.hostname, parts.port
        self.base = parts.path  # /TOKEN/

    def request(self, path, host=None, method="GET"):
        """`path` as sent (no normalising); the Host header as given, or this server's address."""
        connection = http.client.HTTPConnection(self.host, self.port, timeout=60)
        try:
            connection.putrequest(method, path, skip_host=True, skip_accept_encoding=True)
            if host is not False:
                connection.putheader("Host", host if host is not None else "%s:%d" % (self.host, self.port))
            connection.endheaders()
            response = connection.getresponse()
            return Answer(response.status, {k.lower(): v for k, v in response.getheaders()}, response.read())
        finally:
            connection.close()

    def ask(self, question, **parameters):
        query = urllib.parse.urlencode({k: v for k, v in parameters.items() if v is not None})
        return self.request(self.base + question + ("?" + query if query else ""))

    def json(self, question, **parameters):
        answer = self.ask(question, **parameters)
        assert answer.status == 200, answer
        return answer.json()

    def window(self, start, stop, columns, signals=None):
        chosen = None if signals is None else ",".join(map(str, signals))
        answer = self.ask("window", start=start, stop=stop, columns=columns, signals=chosen)
        assert answer.status == 200, answer
        return read_window(answer.body)

    def complete_window(self, start, stop, columns, signals=None, seconds=60):
        """A window answered once the record's overview is built (bounded wait)."""
        deadline = time.monotonic() + seconds
        while True:
            window = self.window(start, stop, columns, signals)
            if window.header["complete"] or time.monotonic() > deadline:
                return window
            time.sleep(0.05)


def read_window(body):
    (length,) = struct.unpack_from("<I", body)
    header = json.loads(body[4 : 4 + length])
    offset = 4 + length
    values = []
    for signal in header["signals"]:
        count = signal["count"] * (2 if header["stretch"] else 1)
        array = np.frombuffer(body, dtype="<f4", count=count, offset=offset)
        values.append(array.reshape(-1, 2) if header["stretch"] else array)
        offset += 4 * count
    assert offset == len(body)
    return Window(header, values)
