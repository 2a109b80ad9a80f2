"""The one block iterator of the package: a window of a record read a block of frames at a time, so
that a day-long record never sits in memory whole (the samples command, strip charts, the viewer's
envelopes)."""

from typing import Any, Iterator, Optional, Tuple

import numpy.typing as npt

import _sigtrove

# Frames read at once: large enough that a read costs little per frame, small enough to stay a few
# megabytes whatever the record's signals.
BLOCK_FRAMES = 1 << 16


def frame_blocks(
    record: _sigtrove.Record,
    start: int,
    stop: Optional[int],
    signals: Any = None,
    block_frames: int = BLOCK_FRAMES,
    physical: bool = True,
) -> Iterator[Tuple[int, npt.NDArray[Any]]]:
    """(first frame, values) of each block of the frames [start, stop) of `signals` (Record.frames
    arrays), to the record's end when `stop` is None. The blocks end early where the record's data
    do (a header may promise more frames than its files hold)."""
    position = start
    while stop is None or position < stop:
        end = position + block_frames if stop is None else min(stop, position + block_frames)
        values = record.frames(position, end, signals, physical=physical)
        if len(values) == 0:
            return
        yield position, values
        position += len(values)
        if position < end:
            return
