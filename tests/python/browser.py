"""A real browser for the viewer's tests: the system's Chromium (Debian's `chromium`), headless,
driven by Playwright, which downloads no browser of its own here: it is pointed at the system's."""

import base64
import contextlib
import os
import shutil
import urllib.parse

import numpy as np
import pytest

CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
# The sanitizer's variables are for the module under test, not for the browser or its driver.
SANITIZER_VARIABLES = ("LD_PRELOAD", "PYTHONMALLOC", "ASAN_OPTIONS", "UBSAN_OPTIONS")


@contextlib.contextmanager
def chromium():
    """A headless Chromium, or a skip when Playwright or the browser is not installed."""
    try:
        from playwright.sync_api import sync_playwright
    except ImportError:
        pytest.skip("needs Playwright (pip install playwright; scripts/setup.sh installs it)")
    if not os.access(CHROMIUM, os.X_OK):
        pytest.skip("needs Chromium (apt-get install chromium; scripts/setup.sh installs it)")
    saved = {name: os.environ.pop(name) for name in SANITIZER_VARIABLES if name in os.environ}
    try:
        manager = sync_playwright()
        playwright = manager.start()
    finally:
        os.environ.update(saved)
    try:
        environment = {k: v for k, v in os.environ.items() if k not in SANITIZER_VARIABLES}
        browser = playwright.chromium.launch(executable_path=CHROMIUM, headless=True, env=environment)
        try:
            yield browser
        finally:
            browser.close()
    finally:
        manager.__exit__(None, None, None)


class ViewerPage:
    """A page of a viewer, open in the browser, with the window requests it made."""

    def __init__(self, browser, viewer, place="", width=1000, height=640):
        self.viewer = viewer
        self.page = browser.new_page(viewport={"width": width, "height": height}, device_scale_factor=1)
        self.requests = []
        self.errors = []
        self.page.on("request", lambda request: self.requests.append(request.url))
        self.page.on("pageerror", lambda error: self.errors.append(str(error)))
        self.page.goto(viewer.url + place)
        self.settle()

    def close(self):
        self.page.close()

    def state(self):
        return self.page.evaluate("window.sigtroveViewer.state()")

    def settle(self, condition="true"):
        """Waits until the page has drawn the window it shows, and `condition` (of `s`, its state) holds."""
        # A function, not an expression: the page's policy lets no text be evaluated as script.
        self.page.wait_for_function(
            "() => { const s = window.sigtroveViewer && window.sigtroveViewer.state(); "
            "return s && s.settled && (%s); }" % condition,
            timeout=30000,
        )
        assert self.errors == []
        return self.state()

    def window_requests(self):
        """The parameters of each window the page asked for, in order."""
        asked = []
        for url in self.requests:
            parts = urllib.parse.urlsplit(url)
            if parts.path.endswith("/window"):
                asked.append({k: v[0] for k, v in urllib.parse.parse_qs(parts.query, keep_blank_values=True).items()})
        return asked

    def pixels(self):
        """The canvas's pixels, rows by columns by RGBA."""
        encoded = self.page.evaluate(
            """() => {
                const canvas = document.getElementById("canvas");
                const data = canvas.getContext("2d").getImageData(0, 0, canvas.width, canvas.height).data;
                let text = "";
                for (let i = 0; i < data.length; i += 32768) {
                    text += String.fromCharCode.apply(null, data.subarray(i, i + 32768));
                }
                return [canvas.width, canvas.height, btoa(text)];
            }"""
        )
        width, height, data = encoded
        return np.frombuffer(base64.b64decode(data), dtype=np.uint8).reshape(height, width, 4)


def trace_coloured(pixels):
    """Where the signal's line is drawn: dark blue, or its blend with the white background."""
    r, g, b = (pixels[..., i].astype(int) for i in range(3))
    return (b - r > 40) & (r < 170)


def annotator_coloured(pixels, index):
    """Where the symbols of the page's `index`th annotator are drawn (red, then green)."""
    r, g, b = (pixels[..., i].astype(int) for i in range(3))
    if index == 0:
        return (r - g > 80) & (r - b > 80)
    return (g - r > 50) & (g - b > 50)
