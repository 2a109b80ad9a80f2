"""What one viewer serves: a record opened once, its length, the envelopes of its signals and the
indexes of its annotators, and the answers to the page's questions about them."""

import datetime
import json
import struct
from typing import Any, Dict, List, Optional, Sequence, Union

import numpy as np

import _sigtrove
from sigtrove._frame_blocks import BLOCK_FRAMES
from sigtrove.viewer._annotation_index import MAX_LISTED, AnnotationIndex
from sigtrove.viewer._envelopes import MAX_COLUMNS, RecordEnvelopes, SignalWindow, envelope_stretch


class BadQuestion(ValueError):
    """A question the page (or whoever asks) got wrong: answered with status 400 and this text."""


class NotFound(LookupError):
    """A question about something this viewer does not serve: status 404."""


def record_length(record: _sigtrove.Record) -> int:
    """How many frames the record delivers: as its header and files say, or, when they do not
    (a remote record of unknown length), as many as a read a block at a time finds."""
    if record.readable_frames is not None:
        return record.readable_frames
    length = 0
    while True:
        frames = len(record.frames(length, length + BLOCK_FRAMES, []))
        length += frames
        if frames < BLOCK_FRAMES:
            return length


class RecordSession:
    """A record and its annotators, opened by the caller, as the viewer's answers see them."""

    def __init__(self, record: _sigtrove.Record, annotations: Sequence[_sigtrove.Annotation]) -> None:
        self.record = record
        self.length = record_length(record)
        self.envelopes = RecordEnvelopes(record, self.length)
        self.annotators: Dict[str, AnnotationIndex] = {}
        for annotation in annotations:
            self.annotators.setdefault(annotation.name, AnnotationIndex(annotation, self.length))
        if not _sigtrove._is_url(record.record):
            # A local record's overview is ready by the time the page asks for it; a remote one is
            # read whole only when the page zooms out far enough to need it.
            self.envelopes.pyramid.start()

    def close(self) -> None:
        self.envelopes.close()

    def description(self) -> Dict[str, Any]:
        """What the page needs to lay out its lanes, time axis and menus."""
        record = self.record
        base = record.base_datetime
        seconds: Optional[float] = None
        date: Optional[str] = None
        if isinstance(base, datetime.datetime):
            date = base.date().isoformat()
            base = base.time()
        if isinstance(base, datetime.time):
            seconds = base.hour * 3600 + base.minute * 60 + base.second + base.microsecond / 1e6
        return {
            "name": record.name,
            "frequency": record.frequency,
            "frames": self.length,
            "base": {"seconds": seconds, "date": date},
            "signals": [
                {"name": s.name, "units": s.units, "samples_per_frame": max(1, s.samples_per_frame)}
                for s in record.signals
            ],
            "annotators": [
                {"name": name, "counts": index.counts, "rhythms": len(index.rhythm_positions)}
                for name, index in self.annotators.items()
            ],
            "max_columns": MAX_COLUMNS,
        }

    def window(self, start: int, stop: int, columns: int, signals: Optional[Sequence[int]]) -> SignalWindow:
        count = len(self.record.signals)
        if signals is None:
            signals = range(count)
        for signal in signals:
            if not 0 <= signal < count:
                raise BadQuestion("signal %d: the record has signals 0 to %d" % (signal, count - 1))
        if stop < start:
            raise BadQuestion("stop %d is before start %d" % (stop, start))
        return self.envelopes.window(start, stop, columns, signals)

    def annotations(self, annotator: str, start: int, stop: int, columns: int) -> Dict[str, Any]:
        """The annotations of frames [start, stop): each with its time, symbol, channel and aux
        text, or when there are more than MAX_LISTED, their counts per column; and the rhythm spans."""
        index = self._index(annotator)
        start, stop = max(0, start), min(stop, self.length)
        stop = max(start, stop)
        answer: Dict[str, Any] = {"annotator": annotator, "start": start, "stop": stop}
        total = index.count(start, stop)
        answer["total"] = total
        if total <= MAX_LISTED:
            listed = index.listed(start, stop)
            answer.update(
                kind="list",
                time=listed.times,
                symbol=listed.symbols,
                chan=listed.chans,
                aux={str(i): text for i, text in listed.aux.items()},
            )
        else:
            columns = max(1, min(columns, MAX_COLUMNS))
            stretch = envelope_stretch(stop - start, columns)
            first = start // stretch * stretch
            bins = -(-(stop - first) // stretch)
            answer.update(
                kind="counts", first=first, stretch=stretch, counts=index.counts_per_bin(first, stretch, bins)
            )
        answer["rhythms"] = [list(span) for span in index.rhythms(start, stop)]
        return answer

    def find(self, annotator: str, symbol: str, after: Optional[int], before: Optional[int]) -> Optional[int]:
        if (after is None) == (before is None):
            raise BadQuestion("find takes one of after and before")
        return self._index(annotator).find([symbol], after, before)

    def frame_of(self, text: str) -> int:
        """The frame a time names, as the commands' -f takes it ("1:30", "s1200", "[08:15:00]", "e")."""
        if not text.strip() or len(text) > 100:
            raise BadQuestion("not a time: %r" % text)
        try:
            start, _ = self.record.window(text.strip(), None)
        except ValueError as error:
            raise BadQuestion(str(error)) from None
        return min(start, self.length)

    def _index(self, annotator: str) -> AnnotationIndex:
        try:
            return self.annotators[annotator]
        except KeyError:
            raise NotFound("this viewer shows no annotator %r" % annotator) from None


def json_bytes(value: Any) -> bytes:
    return json.dumps(value, separators=(",", ":"), allow_nan=False).encode("utf-8")


def window_bytes(window: SignalWindow) -> bytes:
    """A window as the page reads it: a little-endian 32-bit length, that many bytes of JSON that
    say what follows (padded with spaces to a multiple of 4), then each signal's values as
    little-endian 32-bit floats, signal after signal: every sample, or each bin's lowest and highest."""
    header: Dict[str, Union[int, float, bool, List[Dict[str, int]]]] = {
        "start": window.start,
        "stop": window.stop,
        "stretch": window.stretch,
        "complete": window.complete,
        "progress": round(window.progress, 4),
        "signals": [{"signal": s, "count": len(v)} for s, v in zip(window.signals, window.values)],
    }
    text = json_bytes(header)
    text += b" " * (-len(text) % 4)
    parts = [struct.pack("<I", len(text)), text]
    parts.extend(np.ascontiguousarray(values, dtype="<f4").tobytes() for values in window.values)
    return b"".join(parts)
