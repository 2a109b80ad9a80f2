"""Records as lazy Dask arrays of frames by signals, chunked along time.

Each chunk is a task that opens its record by path on the worker that computes it and reads its
window there: what travels is a path and two frame numbers, never samples. The shape of an array
must be known before its graph is built, so each record is opened once where the graph is built to
learn it (the header, and one frame read at the end of the data: what ``Record.frames()`` would
deliver, and whether it can deliver it).
"""

import operator
from typing import Any, Callable, Dict, Optional, Sequence, SupportsIndex, Tuple, Union, cast

import dask.array.core
import numpy as np
import numpy.typing as npt
from dask.array.core import Array
from dask.base import tokenize

from _sigtrove import Error, Record
from sigtrove.dask._record_errors import UNREADABLE, RecordError, check_errors_choice, reason_of, unreadable
from sigtrove.dask._record_sources import DatabaseOrRecords, RecordSource, record_sources

# Dask's chunk rule and array constructor, which carry no type information.
_normalize_chunks: Callable[..., Tuple[Tuple[int, ...], ...]] = dask.array.core.normalize_chunks
_map_blocks: Callable[..., Any] = dask.array.core.map_blocks

Signals = Union[None, int, str, Sequence[Union[int, str]]]
DType = Union[None, str, type, "np.dtype[Any]"]


class RecordShape:
    """What the graph of a record's array is built from: its length in frames (None when its data
    do not tell it before they are read), and the dtype and width of its reads."""

    def __init__(self, length: Optional[int], dtype: "np.dtype[Any]", width: int) -> None:
        self.length = length
        self.dtype = dtype
        self.width = width


def record_shape(source: RecordSource, signals: Signals, physical: bool, dtype: DType) -> RecordShape:
    with Record(source.path) as record:
        # An empty read checks the signals and the dtype and says what dtype the reads give.
        empty = record.frames(0, 0, signals=signals, physical=physical, dtype=dtype)
        length = record.readable_frames
        if length:
            # The read of the last frame goes on to where a whole read ends: it fails, as a whole
            # read does, when the header claims frames the signal files do not hold.
            last = record.frames(length - 1, None, signals=signals, physical=physical, dtype=dtype)
            if len(last) != 1:
                raise Error("its data end before frame %d, where its header and files say they do" % length)
    return RecordShape(length, empty.dtype, empty.shape[1])


def read_chunk(
    source: RecordSource,
    start: int,
    stop: Optional[int],
    rows: Optional[int],
    signals: Signals,
    physical: bool,
    dtype: "np.dtype[Any]",
) -> npt.NDArray[Any]:
    """Frames [start, stop) of a record (stop None: to where a whole read ends), which must be
    `rows` frames (None: as many as there are)."""
    try:
        with Record(source.path) as record:
            frames = record.frames(start, stop, signals=signals, physical=physical, dtype=dtype)
    except UNREADABLE as error:
        raise RecordError(source.name, source.path, reason_of(error)) from error
    if rows is not None and len(frames) != rows:
        raise RecordError(
            source.name,
            source.path,
            "frames %d to %d gave %d frames, not %d: the record changed "
            "since its array was made" % (start, start + rows, len(frames), rows),
        )
    return frames


def read_block(
    source: RecordSource,
    length: Optional[int],
    chunk_rows: int,
    signals: Signals,
    physical: bool,
    read_dtype: "np.dtype[Any]",
    block_id: Tuple[int, int] = (0, 0),
) -> npt.NDArray[Any]:
    """Chunk `block_id` of a record's array of `length` frames in chunks of `chunk_rows` (the last
    one shorter). The last chunk reads on to where a whole read ends, so that a record shorter than
    its header says fails as its whole read does. A length of None is one chunk, the whole record."""
    if length is None:
        return read_chunk(source, 0, None, None, signals, physical, read_dtype)
    start = block_id[0] * chunk_rows
    last = start + chunk_rows >= length
    return read_chunk(
        source,
        start,
        None if last else start + chunk_rows,
        min(chunk_rows, length - start),
        signals,
        physical,
        read_dtype,
    )


def record_array(
    source: RecordSource, shape: RecordShape, signals: Signals, physical: bool, chunk_frames: Union[int, str]
) -> Array:
    if shape.length is None:
        # The data do not tell their length: one chunk, the whole record, of a length known when read.
        chunks: Tuple[Tuple[float, ...], ...] = ((np.nan,), (shape.width,))
        chunk_rows = 0
    else:
        chunks = _normalize_chunks((chunk_frames, shape.width), shape=(shape.length, shape.width), dtype=shape.dtype)
        # Equal chunks but the last: each task finds its window from its chunk number alone.
        chunk_rows = int(chunks[0][0])
        if any(rows != chunk_rows for rows in chunks[0][:-1]):
            raise RuntimeError("Dask made chunks of unequal sizes %s of %r" % (chunks[0], chunk_frames))
    name = "sigtrove-frames-" + tokenize(source, shape.length, signals, physical, str(shape.dtype), chunks)
    # A block-wise layer: Dask fuses each chunk's read with what is computed of the chunk.
    return cast(
        Array,
        _map_blocks(
            read_block,
            dtype=shape.dtype,
            chunks=chunks,
            name=name,
            meta=np.empty((0, shape.width), dtype=shape.dtype),
            source=source,
            length=shape.length,
            chunk_rows=chunk_rows,
            signals=signals,
            physical=physical,
            read_dtype=shape.dtype,
        ),
    )


def chunk_frames_argument(chunk_frames: Union[SupportsIndex, str]) -> Union[int, str]:
    if isinstance(chunk_frames, str) and chunk_frames == "auto":
        return chunk_frames
    if not isinstance(chunk_frames, (str, bool)):
        try:
            count = operator.index(chunk_frames)
        except TypeError:
            pass
        else:
            if count > 0:
                return count
    raise ValueError("chunk_frames must be a positive number of frames or 'auto', not %r" % (chunk_frames,))


def frames(
    database_or_records: DatabaseOrRecords,
    signals: Signals = None,
    physical: bool = True,
    chunk_frames: Union[SupportsIndex, str] = "auto",
    dtype: DType = None,
    errors: str = "raise",
) -> Dict[str, Array]:
    """One lazy Dask array per record, frames by signals, as ``Record.frames(signals=signals,
    physical=physical, dtype=dtype)`` would read it, by record name in the database's order.

    `chunk_frames` frames to a chunk, or "auto" for Dask's chunk size (the ``array.chunk-size``
    setting). Each record is opened where this is called, to learn its length; records that can
    not be opened raise RecordError naming them (``errors="raise"``) or are left out with a
    RecordSkipped warning (``errors="skip"``). A read that fails later, on a worker, raises
    RecordError naming its record."""
    check_errors_choice(errors)
    chunk_frames = chunk_frames_argument(chunk_frames)
    if isinstance(signals, list):
        signals = tuple(signals)
    arrays: Dict[str, Array] = {}
    for source in record_sources(database_or_records):
        if source.name in arrays:
            raise ValueError("two records are named %s: give each record once" % source.name)
        try:
            shape = record_shape(source, signals, physical, dtype)
        except UNREADABLE as error:
            unreadable(source.name, source.path, error, errors)
            continue
        arrays[source.name] = record_array(source, shape, signals, physical, chunk_frames)
    return arrays
