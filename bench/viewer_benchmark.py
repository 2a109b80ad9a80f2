"""The viewer on a 24-hour record: the server's time for a ten-second window and for a whole-record
overview (the answers the page asks for, over HTTP on 127.0.0.1), the time to build the overview's
envelopes once, and the time from opening the page in headless Chromium to its first drawn window.
Beside them, in the same run, the wfdb package computing the same envelopes from its reads (a viewer
built on it would have to), and sigtrove's own block reads without the envelope pyramid.

The record is made here: two signals at 360 Hz (an ECG-like wave and a slower one) in format 16,
31 104 000 frames (124 MB), with a beat annotation every 0.8 s and a rhythm change every hour.

    .venv/bin/python -m pip install wfdb      # the peer; benchmark dependency only
    .venv/bin/python bench/viewer_benchmark.py [--repeat N] [--hours H]
"""

import argparse
import http.client
import pathlib
import shutil
import struct
import sys
import tempfile
import time
import urllib.parse

import numpy as np

import sigtrove
from sigtrove.viewer import Viewer
from sigtrove.viewer._envelopes import SignalReader

FREQUENCY = 360
COLUMNS = 1302  # what a 1000-pixel page asks for: its view and half a view either side
VIEW_COLUMNS = 868


def write_record(folder, hours):
    """A synthetic record of `hours` hours, written a chunk at a time, and its annotation file."""
    frames = int(hours * 3600 * FREQUENCY)
    path = folder / "day"
    chunk = 1 << 22
    with open(str(path) + ".dat", "wb") as f:
        for first in range(0, frames, chunk):
            n = np.arange(first, min(first + chunk, frames))
            beat = (n % 288).astype(np.float64)  # a beat every 0.8 s
            ecg = 900 * np.exp(-(((beat - 40) / 4) ** 2)) - 150 * np.exp(-(((beat - 120) / 25) ** 2))
            ecg += 30 * np.sin(n * (2 * np.pi / (FREQUENCY * 7)))
            slow = 2000 + 400 * np.sin(n * (2 * np.pi / (FREQUENCY * 4))) + (n // (FREQUENCY * 600)) % 7 * 20
            f.write(np.stack([ecg, slow], axis=1).astype("<i2").tobytes())
    header = "day 2 %d %d 08:00:00 01/02/2024\n" % (FREQUENCY, frames)
    header += "day.dat 16 200/mV 16 0 0 0 0 ECG\nday.dat 16 10/mmHg 16 0 0 0 0 ABP\n"
    pathlib.Path(str(path) + ".hea").write_text(header)
    words = []
    previous = 0
    for t in range(40, frames, 288):
        rhythm = t % (3600 * FREQUENCY) < 288
        for code, aux in ([(28, "(AFIB" if (t // (3600 * FREQUENCY)) % 2 else "(N")] if rhythm else []) + [(1, None)]:
            words.append(struct.pack("<H", code << 10 | (t - previous)))
            previous = t
            if aux:
                text = aux.encode() + b"\0" * (len(aux) % 2)
                words.append(struct.pack("<H", 63 << 10 | len(aux)) + text)
    words.append(b"\0\0")
    pathlib.Path(str(path) + ".atr").write_bytes(b"".join(words))
    return str(path), frames


def best(repeat, function):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return min(times), float(np.median(times))


class Asker:
    def __init__(self, url):
        parts = urllib.parse.urlsplit(url)
        self.connection = http.client.HTTPConnection(parts.hostname, parts.port)
        self.base = parts.path

    def get(self, question):
        self.connection.request("GET", self.base + question)
        response = self.connection.getresponse()
        body = response.read()
        assert response.status == 200, body[:200]
        return body


def wfdb_envelopes(path, start, stop, columns):
    import wfdb

    signals = wfdb.rdrecord(path, sampfrom=start, sampto=stop).p_signal
    bins = np.array_split(signals, columns)
    return [(b.min(axis=0), b.max(axis=0)) for b in bins]


def block_envelopes(record, start, stop, columns):
    reader = SignalReader(record, record.readable_frames)
    stretch = 1 << int(np.ceil(np.log2((stop - start) / columns)))
    return reader.ranges(start // stretch * stretch, stop, stretch, [0, 1])


def page_timing(browser, url, place, repeat):
    """From navigation to the first window drawn (the page's own clock), best and median."""
    times = []
    for _ in range(repeat):
        page = browser.new_page(viewport={"width": 1000, "height": 640})
        page.goto(url + place)
        page.wait_for_function("() => window.sigtroveViewer && window.sigtroveViewer.state().settled", timeout=60000)
        times.append(page.evaluate("window.sigtroveViewer.state().firstDrawnAt") / 1000)
        page.close()
    return min(times), float(np.median(times))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--hours", type=float, default=24)
    options = parser.parse_args()
    folder = pathlib.Path(tempfile.mkdtemp(prefix="sigtrove-viewer-bench-"))
    try:
        print("writing a %g-hour record ..." % options.hours, flush=True)
        path, frames = write_record(folder, options.hours)
        print("%d frames x 2 signals at %d Hz (%.0f MB)" % (frames, FREQUENCY, frames * 4 / 1e6))

        start = time.perf_counter()
        viewer = Viewer(path, ["atr"]).start()
        opened = time.perf_counter() - start
        asker = Asker(viewer.url)
        overview = "window?start=0&stop=%d&columns=%d" % (frames, VIEW_COLUMNS)
        while True:
            body = asker.get(overview)
            if b'"complete":true' in body:
                break
            time.sleep(0.01)
        built = time.perf_counter() - start
        import json

        counts = json.loads(asker.get("record"))["annotators"][0]["counts"]
        print(
            "viewer opened (the record, an index of its %d annotations) in %.3f s; the overview's envelopes "
            "built %.2f s after the start" % (sum(counts.values()), opened, built)
        )

        rng = np.random.default_rng(1)
        places = rng.integers(0, frames - 5400, size=options.repeat)
        ten = iter(list(places) * 1000)

        def ten_seconds():
            a = int(next(ten))
            asker.get("window?start=%d&stop=%d&columns=%d" % (a, a + 5400, COLUMNS))

        ten_notes = iter(list(places) * 1000)

        def ten_seconds_annotations():
            a = int(next(ten_notes))
            asker.get("annotations?annotator=atr&start=%d&stop=%d&columns=%d" % (a, a + 5400, COLUMNS))

        rows = [
            ("10-s window (5400 frames asked, 1302 columns)", best(options.repeat, ten_seconds)),
            ("10-s window's annotations", best(options.repeat, ten_seconds_annotations)),
            ("whole-record overview (868 columns)", best(options.repeat, lambda: asker.get(overview))),
            (
                "whole-record annotations (counts per column)",
                best(
                    options.repeat, lambda: asker.get("annotations?annotator=atr&start=0&stop=%d&columns=868" % frames)
                ),
            ),
        ]
        print("\nThe server, over HTTP (best / median of %d):" % options.repeat)
        for name, (low, median) in rows:
            print("  %-48s %9.2f ms %9.2f ms" % (name, low * 1000, median * 1000))

        record = sigtrove.Record(path)
        a = int(places[0])
        peers = [
            ("sigtrove blocks, no pyramid: 10-s window", lambda: block_envelopes(record, a, a + 5400, COLUMNS)),
            ("sigtrove blocks, no pyramid: whole record", lambda: block_envelopes(record, 0, frames, VIEW_COLUMNS)),
        ]
        try:
            import wfdb  # noqa: F401

            peers += [
                ("wfdb package: 10-s window's envelopes", lambda: wfdb_envelopes(path, a, a + 5400, COLUMNS)),
                ("wfdb package: whole record's envelopes", lambda: wfdb_envelopes(path, 0, frames, VIEW_COLUMNS)),
            ]
        except ImportError:
            print("(install the wfdb package to compare with it)")
        print("\nThe same envelopes computed without the viewer's server (best / median of 3):")
        for name, function in peers:
            low, median = best(3, function)
            print("  %-48s %9.2f ms %9.2f ms" % (name, low * 1000, median * 1000))

        try:
            sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "python"))
            import pytest
            from browser import chromium

            try:
                with chromium() as browser:
                    print(
                        "\nThe page in headless Chromium, navigation to first window drawn (best / median of %d):"
                        % options.repeat
                    )
                    for name, place in [
                        ("opening at the first 10 s", ""),
                        ("opening at the whole %g hours" % options.hours, "#start=0&span=%d" % frames),
                    ]:
                        low, median = page_timing(browser, viewer.url, place, options.repeat)
                        print("  %-48s %9.2f ms %9.2f ms" % (name, low * 1000, median * 1000))
            except pytest.skip.Exception as why:
                print("(no browser: %s)" % why)
        finally:
            viewer.close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
