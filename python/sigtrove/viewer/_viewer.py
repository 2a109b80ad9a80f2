"""A running viewer: its server in a thread of its own (or in the caller's, for the command), its
URL, and the ways to show it: a browser, or inline in a notebook."""

import html
import os
import shutil
import sys
import tempfile
import threading
import webbrowser
from types import TracebackType
from typing import Iterable, List, Optional, Type, Union

import _sigtrove
from sigtrove.viewer._server import ViewerServer, serve_in_thread
from sigtrove.viewer._session import RecordSession

RecordLike = Union[_sigtrove.Record, str, "os.PathLike[str]"]


class Viewer:
    """A record and its annotators served to a browser at `url`, until `close()` (or the end of a
    `with` block, or of the process). In a notebook, a cell whose value it is shows the page."""

    def __init__(self, record: RecordLike, annotators: Union[None, str, Iterable[str]] = None, port: int = 0) -> None:
        if not isinstance(record, _sigtrove.Record):
            record = _sigtrove.Record(record)
        if annotators is None:
            names: List[str] = []
        elif isinstance(annotators, str):
            names = [annotators]
        else:
            names = list(annotators)
        self.record = record
        self.annotators = tuple(dict.fromkeys(names))
        self._session = RecordSession(record, [record.annotation(name) for name in self.annotators])
        try:
            self._server = ViewerServer(self._session, port)
        except BaseException:
            self._session.close()
            raise
        self._thread: Optional[threading.Thread] = None
        self._redirect_folder: Optional[str] = None
        self._closed = False

    @property
    def url(self) -> str:
        """The page's address, with the token that every request needs."""
        return self._server.url

    @property
    def port(self) -> int:
        return self._server.port

    def start(self) -> "Viewer":
        """Serves in a thread of its own (a daemon: it ends with the process)."""
        if self._thread is None and not self._closed:
            self._thread = serve_in_thread(self._server)
        return self

    def serve_forever(self) -> None:
        """Serves in the calling thread until KeyboardInterrupt or close() from another thread."""
        self._server.serve_forever()

    def open_browser(self) -> bool:
        """Opens the page in the system's web browser. The browser is given a file, readable only by
        this user, that forwards to the URL: the token stays off the browser's command line, which
        other users of the machine can see."""
        if self._redirect_folder is None:
            self._redirect_folder = tempfile.mkdtemp(prefix="sigtrove-view-")
        path = os.path.join(self._redirect_folder, "open.html")
        url = html.escape(self.url, quote=True)
        with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), "w", encoding="utf-8") as f:
            f.write(
                '<!DOCTYPE html><meta charset="utf-8"><meta http-equiv="refresh" content="0;url=%s">'
                '<title>sigtrove view</title><p><a href="%s">Open the viewer</a></p>\n' % (url, url)
            )
        return webbrowser.open("file://" + path)

    def close(self) -> None:
        """Stops serving, and stops reading the record for its overview."""
        if self._closed:
            return
        self._closed = True
        if self._thread is not None:
            self._server.shutdown()
            self._thread.join()
        self._server.server_close()
        self._session.close()
        if self._redirect_folder is not None:
            shutil.rmtree(self._redirect_folder, ignore_errors=True)

    def __enter__(self) -> "Viewer":
        return self.start()

    def __exit__(
        self,
        kind: Optional[Type[BaseException]],
        value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> None:
        self.close()

    def __repr__(self) -> str:
        state = "closed" if self._closed else "at " + self.url
        return "<sigtrove viewer of record %s %s>" % (self.record.name, state)

    def _repr_html_(self) -> str:
        """The page in an iframe, as a notebook shows it."""
        return '<iframe src="%s" width="100%%" height="620" style="border: 1px solid #ccc"></iframe>' % html.escape(
            self.url, quote=True
        )


def in_notebook() -> bool:
    """Whether this process is a notebook's kernel, whose cells show values as HTML."""
    shell = getattr(sys.modules.get("IPython"), "get_ipython", lambda: None)()
    return shell is not None and getattr(shell, "kernel", None) is not None


def view(
    record: RecordLike,
    annotators: Union[None, str, Iterable[str]] = None,
    *,
    port: int = 0,
    browser: Optional[bool] = None,
) -> Viewer:
    """Serves a record and its annotators' annotations to a web page on 127.0.0.1, and returns the
    running Viewer: in a notebook, the cell's value shows the page inline; elsewhere the page opens
    in the system's browser (browser=False leaves it to the caller: viewer.url, viewer.open_browser()).

        viewer = sigtrove.view("mitdb/100", ["atr"])

    record      a Record, or a record's path or URL as Record takes it.
    annotators  annotator names ("atr", ...), or one name.
    port        the port to listen on; 0 (the default) takes a free one.
    """
    viewer = Viewer(record, annotators, port).start()
    if browser or (browser is None and not in_notebook()):
        viewer.open_browser()
    return viewer
