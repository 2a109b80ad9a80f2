"""Strip charts: sigtrove.plot.strip_chart's figure, and the pictures `sigtrove plot` writes."""

import re
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
import matplotlib.image  # noqa: E402, F811
from command import sigtrove  # noqa: E402
from conftest import RECORDS  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

import _sigtrove  # noqa: E402
from sigtrove.plot import strip_chart  # noqa: E402


def record(name):
    return _sigtrove.Record(str(RECORDS / name))


def texts(ax):
    return [(t.get_text(), t.xy if hasattr(t, "xy") else t.get_position()) for t in ax.texts]


@pytest.mark.parametrize(
    "name, signals, panels, labels",
    [
        ("100", None, 2, ["MLII (mV)", "V5 (mV)"]),
        ("100", ["V5"], 1, ["V5 (mV)"]),
        ("xform", [3, "V", 1], 3, ["PAP (mmHg)", "V (mV)", "ABP (mmHg)"]),
        ("s0010_re", list(range(15)), 15, None),
    ],
)
def test_a_panel_per_signal_with_its_name_and_units(name, signals, panels, labels):
    figure = strip_chart(record(name), 0, "0:02", signals)
    assert isinstance(figure, Figure)
    assert len(figure.axes) == panels
    if labels:
        assert [ax.get_ylabel() for ax in figure.axes] == labels


def test_the_lines_are_the_frames_against_time_in_seconds():
    rec = record("100")
    figure = strip_chart(rec, "0:05", "0:07", ["V5", "MLII"], clock=False)
    frames = rec.frames("0:05", "0:07", ["V5", "MLII"])
    for panel, ax in enumerate(figure.axes):
        (line,) = ax.get_lines()
        assert np.array_equal(line.get_xdata(), np.arange(1800, 2520) / 360.0)
        assert np.array_equal(line.get_ydata(), frames[:, panel])
    assert figure.axes[-1].get_xlabel() == "time (s)"
    assert figure.axes[0].get_title() == "record 100, 0:05 to 0:07"
    assert figure.axes[0].get_xlim() == (5.0, 7.0)


def test_annotation_symbols_stand_on_the_signal_at_their_times():
    rec = record("100")
    figure = strip_chart(rec, "25:10", "25:20", annotator="atr")
    beats = rec.annotation("atr").arrays("25:10", "25:20")
    frames = rec.frames("25:10", "25:20")
    assert len(beats["time"]) > 5 and "V" in beats["symbol"].tolist()
    wanted = [(s, (t / 360.0, frames[t - 543600, 0])) for t, s in zip(beats["time"].tolist(), beats["symbol"].tolist())]
    assert texts(figure.axes[0]) == wanted
    assert texts(figure.axes[1]) == []


def test_annotations_go_to_the_panel_of_their_channel():
    # xform's wabp marks beats on the blood pressure signal, its channel 1.
    rec = record("xform")
    beats = rec.annotation("wabp").arrays(0, 1250)
    assert set(beats["chan"].tolist()) == {1}
    figure = strip_chart(rec, 0, 1250, [0, 1], annotator="wabp")
    assert texts(figure.axes[0]) == []
    assert [t for t, _ in texts(figure.axes[1])] == beats["symbol"].tolist()
    # With its channel not shown, they go on the first panel.
    assert [t for t, _ in texts(strip_chart(rec, 0, 1250, [2], annotator="wabp").axes[0])] == beats["symbol"].tolist()


def test_a_long_window_draws_the_range_of_every_stretch():
    # The whole half hour of 100: far more frames than a chart shows, read in blocks. Each line spans
    # exactly what the frames span, in a bounded number of points; the beats are marked by ticks.
    rec = record("100")
    frames = rec.frames()
    figure = strip_chart(rec, annotator="atr")
    for panel, ax in enumerate(figure.axes):
        line = ax.get_lines()[0]
        y = np.asarray(line.get_ydata())
        assert len(y) <= 2 * 2000 + 2
        assert (np.nanmin(y), np.nanmax(y)) == (frames[:, panel].min(), frames[:, panel].max())
        assert line.get_xdata()[0] >= 0 and line.get_xdata()[-1] <= 650000 / 360.0
    assert len(figure.axes[0].texts) == 0
    ticks = figure.axes[0].get_lines()[1]
    assert len(ticks.get_xdata()) == len(rec.annotation("atr").arrays()["time"])
    assert figure.axes[0].get_title() == "record 100, 0:00 to 30:05.556"


def test_clock_time_when_the_header_gives_a_base_time():
    rec = record("xform")  # starts at 22:00:23 on 20/07/1995
    figure = strip_chart(rec, "0:10", "0:20", [0])
    ax = figure.axes[0]
    assert ax.get_xlabel() == "time of day"
    assert figure.axes[0].get_title() == "record xform, 22:00:33 to 22:00:43"
    formatter = ax.xaxis.get_major_formatter()
    assert ax.get_xlim() == (79233.0, 79243.0)  # seconds since midnight
    assert [formatter(x) for x in (79233.0, 79234.5, 79243.25)] == ["22:00:33", "22:00:34.5", "22:00:43.25"]
    assert strip_chart(rec, "0:10", "0:20", [0], clock=False).axes[0].get_xlabel() == "time (s)"


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda: strip_chart(record("100"), 0, 10, ["V6"]), ValueError, "has no signal named 'V6'"),
        (lambda: strip_chart(record("100"), "ten"), ValueError, "neither a sample number nor a WFDB time"),
        (lambda: strip_chart(record("100"), 0, 10, clock=True), ValueError, "has no base time"),
        (lambda: strip_chart(record("100"), 0, 10, annotator="nosuch"), _sigtrove.Error, "annotator nosuch"),
        (lambda: strip_chart(str(RECORDS / "nothing")), _sigtrove.Error, "can't open header"),
    ],
)
def test_refusals(call, error, text):
    with pytest.raises(error, match=text):
        call()


def dark_line_rows(image):
    """Rows of a picture crossed by a dark line over most of its width: the top and bottom of each panel."""
    gray = image[:, :, :3].mean(axis=2)
    rows = np.flatnonzero((gray < 0.5).mean(axis=1) > 0.6)
    return len(rows) and 1 + int(np.count_nonzero(np.diff(rows) > 1))


@pytest.mark.parametrize(
    "signals, width, height, dpi",
    [
        ([], 10, None, 100),
        (["0"], 6, 3, 50),
        (["V5", "MLII", "V5"], 8, 5, 80),
    ],
)
def test_plot_writes_a_png_of_the_size_and_panels_asked_for(tmp_path, signals, width, height, dpi):
    out = tmp_path / "chart.png"
    args = ["plot", "sample", "-a", "atr", "-o", out, "--width", width, "--dpi", dpi]
    args += ["-s", *signals] if signals else []
    args += ["--height", height] if height else []
    result = sigtrove(*args, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    image = matplotlib.image.imread(out)
    panels = len(signals) or 2
    expected_height = height if height else 0.8 + 1.8 * panels
    assert image.shape == (round(expected_height * dpi), width * dpi, 4)
    assert dark_line_rows(image) == 2 * panels


def test_plot_writes_an_svg_by_its_extension(tmp_path):
    out = tmp_path / "chart.svg"
    result = sigtrove("plot", RECORDS / "xform", "-t", "5", "-s", "0", "1", "3", "-o", out, "--width", 9)
    assert result.returncode == 0, result.stderr
    root = ElementTree.parse(out).getroot()
    assert root.tag == "{http://www.w3.org/2000/svg}svg"
    assert (root.get("width"), root.get("height")) == ("648pt", "446.4pt")  # 9 in by 0.8 + 3 x 1.8 in
    groups = [g.get("id") for g in root.iter("{http://www.w3.org/2000/svg}g")]
    assert sorted(g for g in groups if re.fullmatch(r"axes_\d+", g or "")) == ["axes_1", "axes_2", "axes_3"]


def test_plot_writes_a_pdf_by_its_extension(tmp_path):
    out = tmp_path / "chart.PDF"
    result = sigtrove("plot", RECORDS / "100", "-f", "1:00", "-t", "1:05", "-a", "atr", "-o", out, "--height", 4)
    assert result.returncode == 0, result.stderr
    data = out.read_bytes()
    assert data.startswith(b"%PDF-") and data.rstrip().endswith(b"%%EOF")
    assert re.search(rb"/MediaBox \[ *0 0 720 288 *\]", data)


def test_the_command_says_how_to_install_matplotlib_when_it_is_missing(tmp_path):
    code = (
        "import sys; sys.modules['matplotlib'] = None\n"
        "from sigtrove.cli import main\nsys.exit(main(['plot', 'sample', '-o', 'x.png']))"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, cwd=tmp_path, timeout=120)
    assert result.returncode == 1
    assert result.stderr == "sigtrove plot: sigtrove.plot needs matplotlib: pip install 'sigtrove[plot]'\n"
    assert list(tmp_path.iterdir()) == []
