"""Strip charts of a record's signals, for notebooks and the ``sigtrove plot`` command.

    from sigtrove.plot import strip_chart
    figure = strip_chart(sigtrove.SAMPLE_RECORD, "0:02", "0:06", annotator="atr")
    figure.savefig("strip.png")

Needs matplotlib (``pip install 'sigtrove[plot]'``). The figure is a plain
``matplotlib.figure.Figure``, not one of pyplot's: making many of them holds no memory beyond their
own, and in a notebook with ``%matplotlib inline`` a cell whose value it is shows it.
"""

import datetime
import math
import os
from typing import Any, List, NamedTuple, Optional, Sequence, SupportsIndex, Union

import numpy as np
import numpy.typing as npt

import _sigtrove
from sigtrove._frame_blocks import BLOCK_FRAMES, frame_blocks

try:
    from matplotlib.axes import Axes
    from matplotlib.figure import Figure
    from matplotlib.ticker import FuncFormatter, MultipleLocator
    from matplotlib.transforms import blended_transform_factory
except ImportError as error:  # pragma: no cover - depends on what is installed
    raise ImportError("sigtrove.plot needs matplotlib: pip install 'sigtrove[plot]'") from error

__all__ = ["strip_chart"]

Position = Union[SupportsIndex, str]
SignalChoice = Union[None, SupportsIndex, str, Sequence[Union[SupportsIndex, str]]]

# A window longer than this many frames is drawn as the range of the values under each of
# ENVELOPE_BINS stretches, read a block at a time: a day-long record draws in bounded memory.
DETAIL_FRAMES = 20000
ENVELOPE_BINS = 2000
# A window with more annotations than this shows their times, not their symbols.
READABLE_SYMBOLS = 300


def strip_chart(
    record: Union[_sigtrove.Record, str, "os.PathLike[str]"],
    start: Position = 0,
    stop: Optional[Position] = None,
    signals: SignalChoice = None,
    annotator: Optional[str] = None,
    *,
    width: float = 10.0,
    height: Optional[float] = None,
    clock: Optional[bool] = None,
) -> Figure:
    """A strip chart of frames [start, stop) of a record: a panel per signal, in physical units, with
    its name and units on the vertical axis, and the annotations of `annotator` ("atr", ...) written
    at their times on the signal they belong to (the first panel when their channel is not shown).

    start, stop  as Record.frames takes them: frame numbers, or WFDB times ("0:10", "s1200", "e").
    signals      None for all, or numbers and names in the order wanted.
    width        in inches; height in inches defaults to 0.8 + 1.8 per panel.
    clock        time of day on the time axis (True), seconds from the record's start (False), or
                 the time of day when the header gives a base time (None).
    """
    if not isinstance(record, _sigtrove.Record):
        record = _sigtrove.Record(record)
    choice = _signal_list(record, signals)
    first, last = record.window(start, stop)
    trace = _read(record, first, last, choice)
    base = _seconds_of_day(record.base_datetime) if clock is not False else None
    if clock and base is None:
        raise ValueError("record %s has no base time to show clock times by" % record.name)
    offset = base if base is not None else 0.0

    panels = max(len(choice), 1)
    figure = Figure(figsize=(width, height if height is not None else 0.8 + 1.8 * panels), layout="constrained")
    axes: List[Axes] = list(figure.subplots(panels, 1, sharex=True, squeeze=False)[:, 0])
    x = offset + trace.frames / record.frequency
    for panel, (signal, ax) in enumerate(zip(choice, axes)):
        described = record.signals[signal]
        ax.plot(x, trace.values[:, panel], linewidth=0.7, color="C0")
        ax.set_ylabel("%s (%s)" % (described.name, described.units) if described.units else described.name)
        ax.grid(True, linewidth=0.4, alpha=0.5)
    if annotator is not None:
        _annotate(record, annotator, trace, choice, axes, offset)
    axes[0].set_xlim(offset + first / record.frequency, offset + max(trace.end, first + 1) / record.frequency)
    axes[-1].set_xlabel("time of day" if base is not None else "time (s)")
    seconds = (trace.end - first) / record.frequency
    if base is not None:
        axes[-1].xaxis.set_major_locator(MultipleLocator(_clock_step(seconds, width)))
        axes[-1].xaxis.set_major_formatter(FuncFormatter(_clock_text))
        shown = (_clock_text(offset + first / record.frequency), _clock_text(offset + trace.end / record.frequency))
    else:
        shown = (_elapsed_text(first / record.frequency), _elapsed_text(trace.end / record.frequency))
    axes[0].set_title("record %s, %s to %s" % ((record.name,) + shown), fontsize="medium")
    return figure


def _signal_list(record: _sigtrove.Record, signals: SignalChoice) -> List[int]:
    """Header signal numbers of a choice as Record.frames takes it."""
    record.frames(0, 0, signals=signals)  # refuses unknown signals as a read would
    if signals is None:
        return list(range(record.nsig))
    if isinstance(signals, (str, SupportsIndex)):
        signals = [signals]
    names = list(record.signal_names)
    return [names.index(s) if isinstance(s, str) else int(s.__index__()) for s in signals]


class _Trace(NamedTuple):
    """What a window draws: x positions in frames and a row of values per position; `stretch`
    frames under each (lowest, highest) pair of rows of a long window, 1 for every frame drawn."""

    frames: npt.NDArray[np.float64]
    values: npt.NDArray[np.float64]
    stretch: int
    first: int
    end: int

    def value_at(self, sample: int, panel: int) -> float:
        """The value drawn at a frame: its own, or the highest of its stretch."""
        row = sample - self.first if self.stretch == 1 else 2 * ((sample - self.first) // self.stretch) + 1
        return float(self.values[row, panel]) if 0 <= row < len(self.values) else math.nan


def _read(record: _sigtrove.Record, first: int, last: Optional[int], choice: List[int]) -> _Trace:
    """Every frame of a short window; of a long one, the lowest and highest value of each stretch,
    alternately, so that the line covers their range."""
    if last is not None and last - first <= DETAIL_FRAMES:
        values = record.frames(first, last, choice)
        return _Trace(np.arange(first, first + len(values), dtype=np.float64), values, 1, first, first + len(values))
    length = (last if last is not None else (record.frame_count or first + DETAIL_FRAMES)) - first
    stretch = max(1, math.ceil(length / ENVELOPE_BINS))
    block = max(1, BLOCK_FRAMES // stretch) * stretch
    starts, lows, highs = [], [], []
    position = first
    for position, values in frame_blocks(record, first, last, choice, block):
        bins = math.ceil(len(values) / stretch)
        padded = np.full((bins * stretch, len(choice)), np.nan)
        padded[: len(values)] = values
        shaped = padded.reshape(bins, stretch, len(choice))
        lows.append(np.fmin.reduce(shaped, axis=1))
        highs.append(np.fmax.reduce(shaped, axis=1))
        starts.append(position + stretch * np.arange(bins, dtype=np.float64))
        position += len(values)
    if not starts:
        return _Trace(np.zeros(0), np.zeros((0, len(choice))), stretch, first, first)
    low, high = np.concatenate(lows), np.concatenate(highs)
    pairs = np.empty((2 * len(low), len(choice)))
    pairs[0::2], pairs[1::2] = low, high
    return _Trace(np.repeat(np.concatenate(starts) + (stretch - 1) / 2, 2), pairs, stretch, first, position)


def _annotate(
    record: _sigtrove.Record, annotator: str, trace: _Trace, choice: List[int], axes: List[Axes], offset: float
) -> None:
    columns = record.annotation(annotator).arrays(trace.first, trace.end)
    samples, chans = columns["time"].tolist(), columns["chan"].tolist()
    panels = [choice.index(chan) if chan in choice else 0 for chan in chans]
    if len(samples) > READABLE_SYMBOLS:
        # More symbols than the chart can show apart: their times as ticks along each panel's top.
        for panel, ax in enumerate(axes):
            times = [offset + t / record.frequency for t, p in zip(samples, panels) if p == panel]
            ax.plot(
                times,
                [1.0] * len(times),
                "|",
                color="C3",
                markersize=6,
                alpha=0.6,
                transform=blended_transform_factory(ax.transData, ax.transAxes),
                clip_on=False,
            )
        return
    for ax in axes:
        ax.margins(y=0.15)  # room above the highest beat for its symbol
    for sample, symbol, panel in zip(samples, columns["symbol"].tolist(), panels):
        ax = axes[panel]
        x = offset + sample / record.frequency
        y = trace.value_at(sample, panel)
        if math.isnan(y):
            ax.text(
                x,
                0.92,
                symbol,
                transform=blended_transform_factory(ax.transData, ax.transAxes),
                ha="center",
                va="top",
                fontsize="small",
                color="C3",
            )
        else:
            ax.annotate(
                symbol,
                (x, y),
                xytext=(0, 4),
                textcoords="offset points",
                ha="center",
                va="bottom",
                fontsize="small",
                color="C3",
            )


def _seconds_of_day(base: Any) -> Optional[float]:
    if isinstance(base, datetime.datetime):
        base = base.time()
    if not isinstance(base, datetime.time):
        return None
    return base.hour * 3600 + base.minute * 60 + base.second + base.microsecond / 1e6


# Tick spacings a clock reads at a glance, in seconds.
CLOCK_STEPS = [0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200]


def _clock_step(seconds: float, width: float) -> float:
    """The finest clock spacing that leaves about an inch and a half between ticks."""
    ticks = max(2.0, width / 1.5)
    return next((step for step in CLOCK_STEPS if seconds / step <= ticks), 86400.0)


def _clock_text(seconds: float, position: Optional[int] = None) -> str:
    """A time of day, from seconds since midnight: hh:mm:ss, with its fraction when it has one."""
    milliseconds = round(seconds * 1000) % 86400000
    whole, fraction = divmod(milliseconds, 1000)
    text = "%02d:%02d:%02d" % (whole // 3600, whole // 60 % 60, whole % 60)
    return text + (".%03d" % fraction).rstrip("0") if fraction else text


def _elapsed_text(seconds: float) -> str:
    """Time from the record's start as the WFDB tools write it: m:ss or h:mm:ss, with its fraction."""
    milliseconds = round(seconds * 1000)
    whole, fraction = divmod(milliseconds, 1000)
    hours, minutes = whole // 3600, whole // 60 % 60
    text = "%d:%02d:%02d" % (hours, minutes, whole % 60) if hours else "%d:%02d" % (minutes, whole % 60)
    return text + (".%03d" % fraction).rstrip("0") if fraction else text
