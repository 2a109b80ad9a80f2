"""What the viewer draws of a window of a record's signals: every sample of a short window, and of a
long one the lowest and highest value of each stretch of frames under a pixel column (its envelope).

Stretches are powers of two and bins start at multiples of their stretch, so that the same frames
fall into the same bins however the window moves. Envelopes of stretches up to the pyramid's finest
are read from the record a block at a time; coarser ones come from the pyramid, envelopes of the
whole record at every power of two from its finest up, built once (in a thread of their own) by one
pass over the record. A day-long record's overview is then a slice of arrays in memory.
"""

import math
import threading
from typing import List, NamedTuple, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

import _sigtrove
from sigtrove._frame_blocks import BLOCK_FRAMES  # a multiple of every stretch read

Values = npt.NDArray[np.float32]

# An answer holds at most this many bins (or samples) per signal, and this many values in all.
MAX_COLUMNS = 8192
MAX_VALUES = 1 << 21
# The pyramid's finest stretch is at least 2**FINEST_SHIFT frames, and coarser when the pyramid
# would otherwise take more than PYRAMID_BYTES; windows finer than it read at most
# MAX_COLUMNS * 2**finest frames.
FINEST_SHIFT = 6
PYRAMID_BYTES = 64 << 20


class SignalWindow(NamedTuple):
    """Frames [start, stop) of some signals. With stretch 0, `values[i]` holds every sample of
    signal `signals[i]` (samples_per_frame of them per frame, in time order); otherwise bin j covers
    frames [start + j*stretch, start + (j+1)*stretch) and `values[i]` is a (bins, 2) array of each
    bin's lowest and highest value (NaN where no valid sample lies). `complete` is False while the
    pyramid that answered is still being built (then `progress` is the part built, 0 to 1)."""

    start: int
    stop: int
    stretch: int
    signals: Tuple[int, ...]
    values: Tuple[Values, ...]
    complete: bool = True
    progress: float = 1.0


def envelope_stretch(frames: int, columns: int) -> int:
    """The smallest power of two that puts `frames` frames into at most `columns` bins."""
    return 1 << max(0, math.ceil(math.log2(max(frames, 1) / max(columns, 1)) - 1e-12))


class SignalReader:
    """Reads frames of chosen signals at full resolution: a signal with one sample per frame through
    Record.frames (all of them in one read), one with several through Record.signal."""

    def __init__(self, record: _sigtrove.Record, length: int) -> None:
        self.record = record
        self.length = length
        self.samples_per_frame = [max(1, s.samples_per_frame) for s in record.signals]

    def samples(self, start: int, stop: int, signals: Sequence[int]) -> List[Values]:
        """Every sample of frames [start, stop) of each signal, padded with NaN to the whole window
        when the record delivers less."""
        frames = stop - start
        plain = [s for s in signals if self.samples_per_frame[s] == 1]
        table = self.record.frames(start, stop, plain, dtype=np.float32) if plain else None
        result: List[Values] = []
        for signal in signals:
            spf = self.samples_per_frame[signal]
            if spf == 1:
                assert table is not None
                values = table[:, plain.index(signal)]
            else:
                values = self.record.signal(signal, start * spf, stop * spf, dtype=np.float32)
            if len(values) < frames * spf:
                values = np.concatenate([values, np.full(frames * spf - len(values), np.nan, np.float32)])
            result.append(np.ascontiguousarray(values))
        return result

    def ranges(self, start: int, stop: int, stretch: int, signals: Sequence[int]) -> Tuple[Values, Values]:
        """The lowest and highest value of each stretch of frames from `start` (a multiple of
        `stretch`) to `stop`, of each signal: two (signals, bins) arrays, read a block at a time."""
        bins = -(-(stop - start) // stretch)
        low = np.full((len(signals), bins), np.nan, np.float32)
        high = np.full((len(signals), bins), np.nan, np.float32)
        block = max(BLOCK_FRAMES // stretch, 1) * stretch
        for first in range(start, stop, block):
            last = min(first + block, stop)
            offset = (first - start) // stretch
            for row, values in enumerate(self.samples(first, last, signals)):
                spf = self.samples_per_frame[signals[row]]
                lows, highs = bin_ranges(values, stretch * spf)
                low[row, offset : offset + len(lows)] = lows
                high[row, offset : offset + len(highs)] = highs
        return low, high


def bin_ranges(values: Values, size: int) -> Tuple[Values, Values]:
    """The lowest and highest value of each run of `size` values (the last run may be shorter),
    NaN for a run without a number."""
    whole = len(values) // size * size
    shaped = values[:whole].reshape(-1, size)
    lows, highs = np.fmin.reduce(shaped, axis=1), np.fmax.reduce(shaped, axis=1)
    if whole < len(values):
        rest = values[whole:]
        lows = np.append(lows, np.fmin.reduce(rest)).astype(np.float32)
        highs = np.append(highs, np.fmax.reduce(rest)).astype(np.float32)
    return lows, highs


class EnvelopePyramid:
    """Envelopes of every signal of the whole record, at stretches 2**finest, 2**(finest+1), ... up
    to one bin, filled in by `build` one block at a time; what is not read yet is NaN."""

    def __init__(self, reader: SignalReader) -> None:
        self.reader = reader
        signals = len(reader.samples_per_frame)
        length = max(reader.length, 1)
        shift = FINEST_SHIFT
        # Every level together takes about twice the finest.
        while shift < 62 and 2 * 2 * 4 * signals * -(-length // (1 << shift)) > PYRAMID_BYTES:
            shift += 1
        self.finest = shift
        self.lows: List[Values] = []
        self.highs: List[Values] = []
        while True:
            bins = -(-length // (1 << shift))
            self.lows.append(np.full((signals, bins), np.nan, np.float32))
            self.highs.append(np.full((signals, bins), np.nan, np.float32))
            if bins == 1:
                break
            shift += 1
        self.built = 0  # frames read so far
        self.error: Optional[BaseException] = None
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._started = False
        self._thread: Optional[threading.Thread] = None

    @property
    def coarsest(self) -> int:
        return self.finest + len(self.lows) - 1

    @property
    def done(self) -> bool:
        return self.built >= self.reader.length or self.error is not None

    def start(self) -> None:
        """Builds the pyramid in a thread of its own, once."""
        with self._lock:
            if self._started:
                return
            self._started = True
            self._thread = threading.Thread(target=self.build, name="sigtrove viewer envelopes", daemon=True)
            self._thread.start()

    def stop(self) -> None:
        self._stop.set()
        if self._thread is not None:
            self._thread.join()

    def build(self) -> None:
        reader, length = self.reader, self.reader.length
        signals = list(range(len(reader.samples_per_frame)))
        stretch = 1 << self.finest
        block = max(BLOCK_FRAMES, stretch)
        try:
            for first in range(0, length, block):
                if self._stop.is_set():
                    return
                last = min(first + block, length)
                low, high = reader.ranges(first, last, stretch, signals)
                a = first >> self.finest
                b = a + low.shape[1]
                self.lows[0][:, a:b], self.highs[0][:, a:b] = low, high
                for level in range(1, len(self.lows)):
                    a, b = a // 2, -(-b // 2)
                    self._merge(level, a, b)
                self.built = last
        except BaseException as error:  # reported with every answer that needs the pyramid
            self.error = error

    def _merge(self, level: int, a: int, b: int) -> None:
        """Bins [a, b) of a level from the pairs of bins of the level below."""
        for arrays, reduce in ((self.lows, np.fmin), (self.highs, np.fmax)):
            below = arrays[level - 1][:, 2 * a : 2 * b]
            if below.shape[1] % 2:
                below = np.concatenate([below, below[:, -1:]], axis=1)
            arrays[level][:, a:b] = reduce(below[:, 0::2], below[:, 1::2])

    def ranges(self, start: int, stop: int, shift: int, signals: Sequence[int]) -> Tuple[Values, Values]:
        level = shift - self.finest
        a, b = start >> shift, -(-stop // (1 << shift))
        return self.lows[level][list(signals), a:b], self.highs[level][list(signals), a:b]


class RecordEnvelopes:
    """Answers the viewer's windows of one record: samples, envelopes read from the record, or
    envelopes from its pyramid, whichever the window's frames per column call for, each answer at
    most MAX_VALUES values."""

    def __init__(self, record: _sigtrove.Record, length: int) -> None:
        self.reader = SignalReader(record, length)
        self.length = length
        self.pyramid = EnvelopePyramid(self.reader)

    def window(self, start: int, stop: int, columns: int, signals: Sequence[int]) -> SignalWindow:
        """Frames [start, stop) (clipped to the record) of the chosen signals, for `columns` pixel
        columns: every sample when each frame has a column of its own, else envelopes."""
        signals = tuple(signals)
        start, stop = max(0, min(start, self.length)), max(0, min(stop, self.length))
        stop = max(start, stop)
        columns = max(1, min(columns, MAX_COLUMNS, MAX_VALUES // (2 * max(1, len(signals)))))
        stretch = envelope_stretch(stop - start, columns)
        spf = self.reader.samples_per_frame
        if not signals or start == stop:
            return SignalWindow(start, stop, 0, signals, tuple(np.zeros(0, np.float32) for _ in signals))
        if stretch == 1 and (stop - start) * sum(spf[s] for s in signals) <= 2 * columns * len(signals):
            return SignalWindow(start, stop, 0, signals, tuple(self.reader.samples(start, stop, signals)))
        first = start // stretch * stretch
        last = min(self.length, -(-stop // stretch) * stretch)
        shift = stretch.bit_length() - 1
        if shift < self.pyramid.finest:
            low, high = self.reader.ranges(first, last, stretch, signals)
            return SignalWindow(first, last, stretch, signals, _pairs(low, high))
        pyramid = self.pyramid
        pyramid.start()
        if pyramid.error is not None:
            raise pyramid.error
        shift = min(shift, pyramid.coarsest)
        stretch = 1 << shift
        first = start // stretch * stretch
        last = min(self.length, -(-stop // stretch) * stretch)
        done = pyramid.done  # read before the arrays, so that a complete answer is complete
        low, high = pyramid.ranges(first, last, shift, signals)
        progress = 1.0 if done else pyramid.built / max(self.length, 1)
        return SignalWindow(first, last, stretch, signals, _pairs(low, high), done, progress)

    def close(self) -> None:
        self.pyramid.stop()


def _pairs(low: Values, high: Values) -> Tuple[Values, ...]:
    """Each signal's (bins, 2) array of lowest and highest values."""
    return tuple(np.ascontiguousarray(np.stack([low[row], high[row]], axis=1)) for row in range(len(low)))
