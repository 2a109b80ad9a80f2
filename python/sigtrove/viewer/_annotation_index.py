"""An annotator's annotations as the viewer looks them up: every annotation's time, code and channel
in arrays sorted by time, the aux texts of those that have one, and the rhythm changes (annotations
of type "+" whose aux text, the new rhythm, begins with "(") as spans that last until the next one.
Read once, a stretch of sample times at a time, so that the annotations of a window, their count
under each pixel column and the next annotation of a type are searches in memory, not file reads.
"""

from typing import Dict, List, NamedTuple, Optional, Sequence

import numpy as np
import numpy.typing as npt

import _sigtrove

# An annotator with more annotations than this is refused: the arrays take about 12 bytes each.
MAX_ANNOTATIONS = 1 << 24
# A window with more annotations than this is answered with their counts per column; at most this
# many rhythm spans are listed for a window.
MAX_LISTED = 2000
# The first stretch of sample times read at a time; it grows while stretches hold few annotations
# and shrinks while they hold many, so that each read returns a bounded number of them.
FIRST_SCAN_FRAMES = 1 << 20
SCAN_ANNOTATIONS = 1 << 15

RHYTHM_CODE = 28  # "+": a change of rhythm, the new rhythm in the aux text ("(AFIB")


class TooManyAnnotations(ValueError):
    pass


class RhythmSpan(NamedTuple):
    start: int
    stop: int  # the next rhythm change, or the record's end
    label: str
    chan: int


class Listed(NamedTuple):
    """The annotations of a window, rhythm changes left out (they are the spans)."""

    times: List[int]
    symbols: List[str]
    chans: List[int]
    aux: Dict[int, str]  # index in the lists -> aux text


class AnnotationIndex:
    """The annotations of one annotator of a record, read whole at construction."""

    def __init__(self, annotation: _sigtrove.Annotation, length: int) -> None:
        self.name = annotation.name
        self.length = length
        times: List[npt.NDArray[np.int64]] = []
        codes: List[npt.NDArray[np.int16]] = []
        chans: List[npt.NDArray[np.int16]] = []
        self.symbol_of: Dict[int, str] = {}  # code -> symbol
        self.aux: Dict[int, str] = {}  # position -> aux text
        count = 0
        position, stretch = 0, FIRST_SCAN_FRAMES
        # Annotations past the record's last frame (a file may run on past a header's length) are
        # left out: the page can show none of them, nor go to them.
        while position < length:
            stop = min(position + stretch, length)
            columns = annotation.arrays(position, stop)
            found = len(columns["time"])
            if count + found > MAX_ANNOTATIONS:
                raise TooManyAnnotations(
                    "annotator %s has more than %d annotations, more than the viewer holds"
                    % (annotation.name, MAX_ANNOTATIONS)
                )
            if found:
                block_codes = columns["code"].astype(np.int16)
                for code, first in zip(*np.unique(block_codes, return_index=True)):
                    self.symbol_of.setdefault(int(code), str(columns["symbol"][first]))
                for i, text in enumerate(columns["aux"].tolist()):
                    if text is not None:
                        self.aux[count + i] = text
                times.append(columns["time"].astype(np.int64))
                codes.append(block_codes)
                chans.append(columns["chan"].astype(np.int16))
                count += found
            position = stop
            if found > SCAN_ANNOTATIONS and stretch > 1:
                stretch //= 2
            elif found < SCAN_ANNOTATIONS // 8:
                stretch *= 2
        self.times = np.concatenate(times) if times else np.zeros(0, np.int64)
        self.codes = np.concatenate(codes) if codes else np.zeros(0, np.int16)
        self.chans = np.concatenate(chans) if chans else np.zeros(0, np.int16)
        if len(self.times) > 1 and bool(np.any(np.diff(self.times) < 0)):
            # A file out of time order: searched by time, so put in order (ties keep theirs).
            order = np.argsort(self.times, kind="stable")
            self.times, self.codes, self.chans = self.times[order], self.codes[order], self.chans[order]
            moved = np.empty_like(order)
            moved[order] = np.arange(len(order))
            self.aux = {int(moved[p]): text for p, text in self.aux.items()}
        is_rhythm = np.zeros(len(self.times), dtype=bool)
        for i in np.flatnonzero(self.codes == RHYTHM_CODE).tolist():
            is_rhythm[i] = self.aux.get(i, "").startswith("(")
        self.rhythm_positions = np.flatnonzero(is_rhythm)
        self.shown_positions = np.flatnonzero(~is_rhythm)
        self.shown_times = self.times[self.shown_positions]
        self.counts: Dict[str, int] = {}
        for code, n in zip(*np.unique(self.codes, return_counts=True)):
            symbol = self.symbol_of[int(code)]
            self.counts[symbol] = self.counts.get(symbol, 0) + int(n)

    def count(self, start: int, stop: int) -> int:
        """How many annotations (rhythm changes left out) lie in frames [start, stop)."""
        a, b = np.searchsorted(self.shown_times, [start, stop])
        return int(b - a)

    def listed(self, start: int, stop: int) -> Listed:
        a, b = np.searchsorted(self.shown_times, [start, stop])
        positions = self.shown_positions[a:b].tolist()
        aux = {i: self.aux[p] for i, p in enumerate(positions) if p in self.aux}
        return Listed(
            self.times[positions].tolist(),
            [self.symbol_of[int(c)] for c in self.codes[positions].tolist()],
            self.chans[positions].tolist(),
            aux,
        )

    def counts_per_bin(self, start: int, stretch: int, bins: int) -> List[int]:
        """How many annotations lie in each of `bins` stretches of frames from `start`."""
        a, b = np.searchsorted(self.shown_times, [start, start + stretch * bins])
        counts: List[int] = np.bincount((self.shown_times[a:b] - start) // stretch, minlength=bins).tolist()
        return counts

    def rhythms(self, start: int, stop: int) -> List[RhythmSpan]:
        """The rhythm spans that overlap frames [start, stop): the one in force at `start` (from the
        last change before it) and those that begin in the window, at most MAX_LISTED."""
        times = self.times[self.rhythm_positions]
        a = max(int(np.searchsorted(times, start, side="right")) - 1, 0)
        b = int(np.searchsorted(times, stop))
        spans = []
        for k in range(a, min(b, a + MAX_LISTED)):
            p = int(self.rhythm_positions[k])
            end = int(times[k + 1]) if k + 1 < len(times) else max(self.length, int(times[k]) + 1)
            if end > start:
                spans.append(RhythmSpan(int(times[k]), end, self.aux[p], int(self.chans[p])))
        return spans

    def find(self, symbols: Sequence[str], after: Optional[int] = None, before: Optional[int] = None) -> Optional[int]:
        """The time of the first annotation of one of `symbols` after frame `after`, or of the last
        one before frame `before`; None when there is none."""
        wanted = [code for code, symbol in self.symbol_of.items() if symbol in symbols]
        matches = np.isin(self.codes, wanted)
        if after is not None:
            a = int(np.searchsorted(self.times, after, side="right"))
            hits = np.flatnonzero(matches[a:])
            return int(self.times[a + hits[0]]) if len(hits) else None
        assert before is not None
        b = int(np.searchsorted(self.times, before))
        hits = np.flatnonzero(matches[:b])
        return int(self.times[hits[-1]]) if len(hits) else None
