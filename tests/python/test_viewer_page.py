"""The viewer's page in a real browser (headless Chromium): what it draws on its canvas, the windows it
asks its server for as it is moved and zoomed, where the annotations stand, and its controls."""

import numpy as np
import pytest
from browser import ViewerPage, annotator_coloured, chromium, trace_coloured
from conftest import RECORDS
from record_writer import write_annotations, write_record

import sigtrove
from sigtrove.viewer import Viewer


@pytest.fixture(scope="module")
def browser():
    with chromium() as running:
        yield running


@pytest.fixture(scope="module")
def viewer_100():
    with Viewer(str(RECORDS / "100"), ["atr", "qrs"]) as running:
        yield running


@pytest.fixture
def open_page(browser):
    pages = []

    def open_one(viewer, place="", **size):
        pages.append(ViewerPage(browser, viewer, place, **size))
        return pages[-1]

    yield open_one
    for page in pages:
        page.close()


def drawn_points(page, state, record, lane, step=3):
    """Where the page should have drawn the samples of a lane's signal in the frames it shows: pixel
    (x, y) of every `step`th sample, and the same samples mirrored top to bottom in the lane."""
    start, span = state["start"], state["span"]
    left, width = state["plot"]["left"], state["plot"]["width"]
    first, last = int(np.ceil(start)), int(min(start + span, state["frames"]))
    spf = record.signals[lane["signal"]].samples_per_frame
    samples = record.signal(lane["signal"], first * spf, last * spf)
    frames = first + np.arange(len(samples)) / spf
    keep = np.isfinite(samples)
    frames, samples = frames[keep][::step], samples[keep][::step]
    x = left + (frames - start) / span * width
    scale = (lane["yLow"] - lane["yHigh"]) / (lane["high"] - lane["low"])
    y = lane["yHigh"] + (lane["high"] - samples) * scale
    mirrored = lane["yHigh"] + lane["yLow"] - y
    return x, y, mirrored


def share_near(mask, xs, ys, reach=2):
    """The share of points (x, y) with a pixel of `mask` within `reach` pixels."""
    height, width = mask.shape
    near = 0
    for x, y in zip(xs, ys):
        c, r = int(round(x)), int(round(y))
        box = mask[max(r - reach, 0) : min(r + reach + 1, height), max(c - reach, 0) : min(c + reach + 1, width)]
        near += bool(box.any())
    return near / max(len(xs), 1)


def column_ranges(state, record, lane, reach):
    """For each pixel column of the plot: the lowest and highest value of the frames under it, and
    of those frames with `reach` frames more on either side (what a bin that straddles the column's
    edge may add to its line), as pixel rows of the lane; NaN where no frame has a value."""
    start, span = state["start"], state["span"]
    left, width = state["plot"]["left"], state["plot"]["width"]
    values = record.frames(0, state["frames"], [lane["signal"]])[:, 0]
    edges = np.floor(start + np.arange(width + 1) / width * span).astype(int)
    scale = (lane["yLow"] - lane["yHigh"]) / (lane["high"] - lane["low"])

    def rows(first, last):
        highs = np.array(
            [np.nanmax(values[a:b]) if np.isfinite(values[a:b]).any() else np.nan for a, b in zip(first, last)]
        )
        lows = np.array(
            [np.nanmin(values[a:b]) if np.isfinite(values[a:b]).any() else np.nan for a, b in zip(first, last)]
        )
        return lane["yHigh"] + (lane["high"] - highs) * scale, lane["yHigh"] + (lane["high"] - lows) * scale

    inner = rows(edges[:-1], np.maximum(edges[1:], edges[:-1] + 1))
    outer = rows(np.maximum(edges[:-1] - reach, 0), edges[1:] + reach)
    return np.arange(width) + left, inner, outer


@pytest.mark.parametrize(
    "name, place, kind",
    [
        ("100", "", "bins"),  # the first ten seconds, as the page opens
        ("100", "#start=1000&span=540", "samples"),  # a second and a half: every sample
        ("100", "#start=0&span=650000", "bins"),  # the whole half hour
        ("xform", "#start=100&span=200", "samples"),  # signals with 4 samples per frame
        ("s25047/s25047-2704-05-04-10-44", "#start=0&span=543240", "bins"),  # segments and gaps
    ],
)
def test_each_lane_draws_its_signal_where_its_samples_are(open_page, name, place, kind):
    record = sigtrove.Record(str(RECORDS / name))
    with Viewer(record) as viewer:
        page = open_page(viewer, place)
        state = page.state()
        pixels = page.pixels()
    assert [lane["signal"] for lane in state["lanes"]] == list(range(record.nsig))
    asked = page.window_requests()[-1]
    frames_per_column = (int(asked["stop"]) - int(asked["start"])) / int(asked["columns"])
    assert (frames_per_column <= 1) == (kind == "samples")
    trace = trace_coloured(pixels)
    for lane in state["lanes"]:
        x, y, mirrored = drawn_points(page, state, record, lane)
        assert len(x) > 20
        # Every sample lies on the line, or within the range drawn over its column ...
        assert share_near(trace, x, y) >= 0.98, (name, lane["signal"])
        if kind == "samples":
            # ... and the line is not everywhere: the same points upside down mostly miss it.
            assert share_near(trace, x, mirrored) < 0.6, (name, lane["signal"])
            continue
        # Zoomed out, each column's line reaches the highest and the lowest value under it, and no
        # farther than the values that its neighbours' bins (of up to twice a column's frames, and
        # joined by the line to the next) hold.
        top, bottom = lane["top"], lane["top"] + lane["height"]
        reach = int(np.ceil(frames_per_column * 7))
        columns, (inner_high, inner_low), (outer_high, outer_low) = column_ranges(state, record, lane, reach)
        fits = []
        for c, ih, il, oh, ol in zip(
            columns[2:-2], inner_high[2:-2], inner_low[2:-2], outer_high[2:-2], outer_low[2:-2]
        ):
            if np.isnan(ih):
                continue
            drawn = np.flatnonzero(trace[top:bottom, c - 1 : c + 2].any(axis=1)) + top
            fits.append(
                len(drawn) > 0
                and drawn.min() <= ih + 2
                and drawn.max() >= il - 2
                and drawn.min() >= oh - 3
                and drawn.max() <= ol + 3
            )
        assert len(fits) > 100 and np.mean(fits) >= 0.98, (name, lane["signal"], np.mean(fits))


def test_the_page_asks_only_its_own_server(open_page, viewer_100):
    page = open_page(viewer_100)
    page.page.keyboard.press("ArrowDown")
    page.settle()
    assert page.requests and all(url.startswith(viewer_100.url) for url in page.requests)


# What each action does to the view (start, span) of a page opened at frames [100000, 103600).
PLOT_WIDTH = 1000 - 118 - 14


@pytest.mark.parametrize(
    "action, start, span",
    [
        (("key", "ArrowRight"), 100900, 3600),
        (("key", "ArrowLeft"), 99100, 3600),
        (("key", "Shift+ArrowRight"), 103600, 3600),
        (("key", "PageDown"), 103600, 3600),
        (("key", "ArrowUp"), 100900, 1800),
        (("key", "ArrowDown"), 98200, 7200),
        (("key", "+"), 100900, 1800),
        (("key", "-"), 98200, 7200),
        (("key", "Home"), 0, 3600),
        (("key", "End"), 646400, 3600),
        (("click", "#forward"), 100900, 3600),
        (("click", "#back"), 99100, 3600),
        (("click", "#zoom-in"), 100900, 1800),
        (("click", "#zoom-out"), 98200, 7200),
        (("click", "#whole"), 0, 650000),
        (("drag", -217), 100000 + 217 / PLOT_WIDTH * 3600, 3600),
        (("drag", 434), 100000 - 434 / PLOT_WIDTH * 3600, 3600),
        # The wheel zooms about the frame under the pointer, which stays where it is.
        (("wheel", 118 + PLOT_WIDTH / 4, 100), 100000 + 900 * (1 - np.exp(0.2)), 3600 * np.exp(0.2)),
        (("wheel", 118 + PLOT_WIDTH / 4, -100), 100000 + 900 * (1 - np.exp(-0.2)), 3600 * np.exp(-0.2)),
        (("keys", ["ArrowUp"] * 6), 101620, 360),  # no closer than a second
        (("keys", ["ArrowDown"] * 10), 0, 650000),  # no farther than the whole record
        (("keys", ["End", "ArrowRight"]), 646400, 3600),  # never past the end
    ],
)
def test_moving_and_zooming_change_the_window_the_page_asks_for(open_page, viewer_100, action, start, span):
    page = open_page(viewer_100, "#start=100000&span=3600")
    before = len(page.window_requests())
    kind = action[0]
    if kind == "key":
        page.page.keyboard.press(action[1])
    elif kind == "keys":
        for key in action[1]:
            page.page.keyboard.press(key)
    elif kind == "click":
        page.page.click(action[1])
    elif kind == "drag":
        mouse = page.page.mouse
        mouse.move(500, 300)
        mouse.down()
        mouse.move(500 + action[1] / 2, 300, steps=3)
        mouse.move(500 + action[1], 300, steps=3)
        mouse.up()
    elif kind == "wheel":
        page.page.mouse.move(action[1], 300)
        page.page.mouse.wheel(0, action[2])
    state = page.settle()
    assert state["start"] == pytest.approx(start, abs=1.0)
    assert state["span"] == pytest.approx(span, rel=1e-3)
    asked = page.window_requests()
    # The page holds half a view more on either side: it asks again only when the view leaves
    # what it holds, or zooms.
    held = page.window_requests()[before - 1]
    left_held = not (int(held["start"]) <= start + 0.5 and start + span <= int(held["stop"]) + 0.5)
    assert (len(asked) > before) == (left_held or span != pytest.approx(3600))
    last = asked[-1]
    first, stop, columns = int(last["start"]), int(last["stop"]), int(last["columns"])
    # The window asked for holds what is shown, at about a column per pixel.
    assert first <= start + 1 and stop >= min(start + span, 650000) - 1
    assert (stop - first) / columns == pytest.approx(span / PLOT_WIDTH, rel=0.02)
    assert last["signals"] == "0,1"
    assert page.state()["requested"]["start"] == first


def annotation_columns(state, times):
    left, width = state["plot"]["left"], state["plot"]["width"]
    return [left + (t - state["start"]) / state["span"] * width for t in times]


@pytest.mark.parametrize(
    "name, annotators, place",
    [
        ("100", ["atr", "qrs"], "#start=0&span=3600"),
        ("100", ["atr"], "#start=543600&span=3600"),  # the record's one V, between normal beats
        ("xform", ["wabp"], "#start=0&span=1250"),  # beats of the blood pressure: on its lane, the second
    ],
)
def test_annotation_symbols_stand_at_their_times_on_the_lane_of_their_channel(open_page, name, annotators, place):
    record = sigtrove.Record(str(RECORDS / name))
    with Viewer(record, annotators) as viewer:
        page = open_page(viewer, place)
        state = page.state()
        pixels = page.pixels()
    end = state["start"] + state["span"]
    lanes = {lane["signal"]: lane for lane in state["lanes"]}
    for index, annotator in enumerate(annotators):
        beats = record.annotation(annotator).arrays(int(state["start"]), int(end))
        keep = beats["symbol"] != "+"
        times, chans = beats["time"][keep], beats["chan"][keep]
        assert len(times) >= 5
        coloured = annotator_coloured(pixels, index)
        for signal, lane in lanes.items():
            mine = times[[(c if c in lanes else 0) == signal for c in chans]]
            band = coloured[lane["top"] : lane["top"] + lane["height"], state["plot"]["left"] :]
            drawn = np.flatnonzero(band.any(axis=0)) + state["plot"]["left"]
            expected = annotation_columns(state, mine)
            # A symbol over each annotation's time, and none anywhere else.
            for x in expected:
                assert np.any(np.abs(drawn - x) <= 5), (annotator, signal, x)
            for x in drawn:
                assert any(abs(x - e) <= 7 for e in expected), (annotator, signal, x)


def test_signals_are_shown_and_hidden(open_page, viewer_100):
    page = open_page(viewer_100)
    page.page.uncheck("#signals input[data-signal='1']")
    state = page.settle("s.lanes.length === 1")
    assert [lane["signal"] for lane in state["lanes"]] == [0]
    assert page.page.evaluate("location.hash").endswith("&signals=0")
    page.page.uncheck("#signals input[data-signal='0']")
    page.page.check("#signals input[data-signal='1']")
    state = page.settle("s.lanes.length === 1 && s.lanes[0].signal === 1")
    # A window the page asks for from now on holds only the signal shown.
    page.page.keyboard.press("End")
    page.settle("s.start === 646400")
    assert page.window_requests()[-1]["signals"] == "1"
    page.page.uncheck("#signals input[data-signal='1']")
    state = page.settle("s.lanes.length === 0")
    page.page.check("#signals input[data-signal='0']")
    page.settle("s.lanes.length === 1 && s.lanes[0].signal === 0")
    assert page.window_requests()[-1]["signals"] == "0"


def test_next_and_previous_go_to_the_annotations_of_a_type(open_page, viewer_100):
    beats = sigtrove.Annotation(str(RECORDS / "100"), "atr").arrays()
    a_beats = beats["time"][beats["symbol"] == "A"].tolist()
    (v_beat,) = beats["time"][beats["symbol"] == "V"].tolist()
    page = open_page(viewer_100)
    page.page.select_option("#find-type", label="atr: A (33)")
    for button, time in [("#find-next", a_beats[0]), ("#find-next", a_beats[1]), ("#find-previous", a_beats[0])]:
        page.page.click(button)
        state = page.settle("s.mark === %d" % time)
        assert state["start"] + state["span"] / 2 == pytest.approx(time, abs=0.5)
    page.page.select_option("#find-type", label="atr: V (1)")
    page.page.click("#find-next")
    page.settle("s.mark === %d" % v_beat)
    page.page.click("#find-next")
    page.page.wait_for_function("() => document.getElementById('status').textContent === 'no later V of atr'")
    assert page.state()["mark"] == v_beat


@pytest.mark.parametrize(
    "text, start, status",
    [("25:10", 543600, ""), ("s1234", 1234, ""), ("e", 646400, ""), ("ten", 0, "is neither a sample number")],
)
def test_the_box_goes_to_a_time(open_page, viewer_100, text, start, status):
    page = open_page(viewer_100)
    page.page.fill("#jump-time", text)
    page.page.press("#jump-time", "Enter")
    if status:
        page.page.wait_for_function("() => document.getElementById('status').textContent !== ''")
        assert status in page.page.text_content("#status")
    state = page.settle("Math.abs(s.start - %d) < 1" % start)
    assert state["span"] == 3600


@pytest.fixture(scope="module")
def clock_record(tmp_path_factory):
    """A minute of a record that starts ten seconds before midnight, with rhythm changes and a note."""
    folder = tmp_path_factory.mktemp("clock")
    frames = np.arange(15000)
    samples = np.stack([((frames % 250) < 20) * 150, 1000 + (frames % 125)], axis=1)
    path = write_record(
        folder, "clock", samples, 250, names=["ECG", "ABP"], units=["mV", "mmHg"], base="23:59:50 31/12/2023"
    )
    rows = [(0, 28, "(N"), (1300, 22, "alarm: low SpO2"), (2500, 28, "(AFIB")]
    rows += [(t, 1, None) for t in range(10, 15000, 250)]
    write_annotations(path, "atr", sorted(rows, key=lambda row: row[0]))
    return path


def test_the_time_axis_is_the_records_clock_across_midnight(open_page, clock_record):
    with Viewer(clock_record, "atr") as viewer:
        page = open_page(viewer)
        assert page.page.text_content("#window-text") == "2023-12-31 23:59:50.000 \u2013 00:00:00.000 (10 s)"
        page.page.keyboard.press("Shift+ArrowRight")
        page.settle("s.start === 2500")
        assert page.page.text_content("#window-text") == "2024-01-01 00:00:00.000 \u2013 00:00:10.000 (10 s)"


@pytest.mark.parametrize(
    "x_frame, band, text",
    [
        (10, False, "atr N at 23:59:50.040 (sample 10)"),
        (1300, False, 'atr " at 23:59:55.200 (sample 1300)\nalarm: low SpO2'),
        (600, True, "atr rhythm (N\nfrom 23:59:50.000 to 00:00:00.000"),
    ],
)
def test_hovering_says_what_an_annotation_or_a_rhythm_span_is(open_page, clock_record, x_frame, band, text):
    with Viewer(clock_record, "atr") as viewer:
        page = open_page(viewer)
        state = page.state()
        (x,) = annotation_columns(state, [x_frame])
        if band:
            y = 9
        else:
            # Symbols stand just above the line at their time: find the drawn symbol's row.
            red = annotator_coloured(page.pixels(), 0)[:, int(round(x)) - 3 : int(round(x)) + 4].any(axis=1)
            y = int(np.flatnonzero(red[state["lanes"][0]["top"] :])[0]) + state["lanes"][0]["top"] + 4
        canvas = page.page.locator("#canvas").bounding_box()
        page.page.mouse.move(canvas["x"] + x, canvas["y"] + y)
        page.page.wait_for_function("() => !document.getElementById('tip').hidden")
        assert page.page.text_content("#tip") == text
