"""Writing records and annotation files: the arguments of ``write_record`` and ``write_annotations``
checked and laid out for the engine's writers (the writing itself is done by ``_sigtrove``)."""

import datetime
import math
import os
from typing import Any, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

import _sigtrove

PathArgument = Union[str, "os.PathLike[str]"]

_EDF_FORMATS = ("edf", "bdf")


def write_record(
    path: PathArgument,
    signals: Any,
    frequency: Optional[float] = None,
    *,
    names: Optional[Sequence[Optional[str]]] = None,
    units: Union[None, str, Sequence[Optional[str]]] = None,
    gains: Union[None, float, Sequence[Optional[float]]] = None,
    baselines: Union[None, int, Sequence[Optional[int]]] = None,
    formats: Union[None, int, Sequence[Optional[int]]] = None,
    adc_resolutions: Union[None, int, Sequence[Optional[int]]] = None,
    samples_per_frame: Union[None, int, Sequence[int]] = None,
    base_datetime: Union[None, datetime.datetime, datetime.date, datetime.time] = None,
    comments: Union[None, str, Sequence[str]] = None,
    physical: bool = True,
    overwrite: bool = False,
    format: Optional[str] = None,
    annotations: Any = None,
    patient: Optional[str] = None,
    recording: Optional[str] = None,
) -> None:
    """Writes a single-segment WFDB record at ``path`` ("folder/name"): its header ``name.hea`` and its
    signal file ``name.dat`` (one per run of signals in one format: ``name_0.dat``, ``name_1.dat``...).

    ``signals`` is a 2-D array of frames by signals, or one 1-D array per signal when signals have
    several samples per frame (a signal with k samples per frame has k times as many samples), or a
    ``Record``, which is written whole with every header field kept (``write_record(path, record)``).
    With ``physical`` (the default) the values are in physical units, stored as
    ``round(value * gain) + baseline`` with halves away from zero; NaN is an invalid sample. With
    ``physical=False`` they are the stored values; -32768 is an invalid sample. Either way an invalid
    sample is stored as its format's own invalid value.

    Per signal (one value for all, or a sequence with one per signal; None where it is left out):
    ``names``, ``units`` (none means millivolts), ``formats`` (8, 16, 24, 32, 61, 80, 160, 212, 310,
    311, 508, 516, 524; 16 for physical values when left out, else the narrowest of 16, 24 and 32
    that holds the values), ``gains`` and ``baselines`` (left out for physical values: those that
    spread the values over the format's range without clipping any; for stored values 200 and 0),
    ``adc_resolutions`` (the format's) and ``samples_per_frame``. ``base_datetime`` is a
    ``datetime.datetime`` (a base date and time), a ``datetime.time`` or a ``datetime.date``;
    ``comments`` are written as the header's comment lines.

    A value its format can not hold is an error naming the signal and the frame, and nothing is
    written. The files are written under temporary names in the destination folder and put in place
    when complete; an existing record is replaced only with ``overwrite``.

    With ``format="edf"`` or ``"bdf"``, or a path ending in ``.edf`` or ``.bdf``, the record is one
    EDF+ (16-bit) or BDF+ (24-bit) file: stored values keep their values, with physical ranges that
    give back ``(value - baseline) / gain``; physical values without gains are spread over the
    format's range. ``annotations`` (what ``Annotation.arrays()`` returns, times in frames) are
    written as its "EDF Annotations" signal; ``patient`` and ``recording`` are its header's fields.
    Its data records divide the frames where a duration near a second does; otherwise they last
    1 s and the last one is filled out with each signal's last value. A ``Record`` is written by
    ``Record.write`` (which also writes a window of it).
    """
    kind = _edf_kind(path, format)
    if kind is not None:
        _edf_record(
            kind,
            path,
            signals,
            frequency,
            names,
            units,
            gains,
            baselines,
            samples_per_frame,
            base_datetime,
            physical,
            overwrite,
            annotations,
            patient,
            recording,
        )
        return
    if annotations is not None or patient is not None or recording is not None:
        raise TypeError("annotations, patient and recording are written with EDF files only")
    if isinstance(signals, _sigtrove.Record):
        given = [frequency, names, units, gains, baselines, formats, adc_resolutions, samples_per_frame]
        if any(v is not None for v in given + [base_datetime, comments]) or not physical:
            raise TypeError("write_record(path, record) writes the record as it is: it takes only overwrite")
        signals.write(path, overwrite=overwrite)
        return
    if frequency is None:
        raise TypeError("write_record needs the frequency (frames per second) of signals given as arrays")
    columns, frames, spf = _signal_columns(signals, samples_per_frame, physical)
    count = len(spf)
    _sigtrove._write_record(
        path,
        float(frequency),
        columns,
        frames,
        spf,
        _texts(names, count, "names"),
        _texts(units, count, "units", broadcast=True),
        _numbers(formats, count, "formats", int),
        _numbers(gains, count, "gains", float),
        _numbers(baselines, count, "baselines", int),
        _numbers(adc_resolutions, count, "adc_resolutions", int),
        _base_time(base_datetime),
        [comments] if isinstance(comments, str) else list(comments or []),
        bool(physical),
        bool(overwrite),
    )


def write_annotations(
    record: Union[PathArgument, "_sigtrove.Record"],
    annotator: str,
    annotations: Any,
    *,
    frequency: Optional[float] = None,
    overwrite: bool = False,
) -> None:
    """Writes the annotation file ``annotator`` of ``record`` (a path "folder/name" or a ``Record``):
    ``folder/name.annotator``, in the MIT format, as the field's ``wrann`` writes it.

    ``annotations`` is what ``Annotation.arrays()`` returns, or a pandas DataFrame of it, in any
    order (they are sorted by time, then ``num``, then ``chan``, as the field's tools sort them):
    ``time`` (sample numbers of the record, or with ``frequency`` ticks of that frequency), and
    ``code`` or ``symbol`` (a mnemonic; one the code table does not have gets a code of its own from
    42 to 49), and optionally ``subtype``, ``chan`` (-1 is stored as 255), ``num`` and ``aux``. None
    and NaN are "not given". A mnemonic other than its code's is written into the file's table of code
    definitions, so that the file reads back with the same mnemonics. The file begins with the note
    of its time resolution: ``frequency``, or the frequency of the record's header when it has one.
    """
    if isinstance(record, _sigtrove.Record):
        # Beside the record's header, wherever it was found (a Record pickles by that path).
        where: str = record.__reduce__()[1][0]
        if _sigtrove._is_url(where):
            raise ValueError("a record read from a web server can not have files written beside it")
        path: PathArgument = where
    else:
        path = record
    if not isinstance(annotator, str):
        raise TypeError("the annotator is a str (the annotation file's extension), not %s" % type(annotator).__name__)
    columns = _annotation_columns(annotations)
    _sigtrove._write_annotations(
        path,
        annotator,
        columns["time"],
        columns["code"],
        columns["subtype"],
        columns["chan"],
        columns["num"],
        columns["aux"],
        columns["symbols"],
        None if frequency is None else float(frequency),
        bool(overwrite),
    )


# ---- the arguments


def _edf_kind(path: PathArgument, format: Optional[str]) -> Optional[str]:
    """ "edf" or "bdf" where the record is written as an EDF+ or BDF+ file, else None."""
    if format is not None and format.lower() not in ("wfdb",) + _EDF_FORMATS:
        raise ValueError("format is 'wfdb', 'edf' or 'bdf', not %r" % (format,))
    suffix = os.path.splitext(os.fspath(path))[1].lower()
    if format is not None and format.lower() in _EDF_FORMATS:
        if suffix in (".edf", ".bdf") and suffix[1:] != format.lower():
            raise ValueError("format=%r does not match the name %s" % (format, os.fspath(path)))
        return format.lower()
    if format is not None and suffix in (".edf", ".bdf"):
        raise ValueError("format=%r does not match the name %s" % (format, os.fspath(path)))
    return suffix[1:] if suffix in (".edf", ".bdf") else None


def _edf_record(
    kind: str,
    path: PathArgument,
    signals: Any,
    frequency: Optional[float],
    names: Any,
    units: Any,
    gains: Any,
    baselines: Any,
    samples_per_frame: Any,
    base_datetime: Any,
    physical: bool,
    overwrite: bool,
    annotations: Any,
    patient: Optional[str],
    recording: Optional[str],
) -> None:
    target = os.fspath(path)
    if not os.path.splitext(target)[1]:
        target += "." + kind
    if isinstance(signals, _sigtrove.Record):
        if any(v is not None for v in (frequency, names, units, gains, baselines, samples_per_frame, base_datetime)):
            raise TypeError("write_record(path, record) writes the record as it is: it takes no signal fields")
        signals.write(target, overwrite=overwrite, annotations=annotations, patient=patient, recording=recording)
        return
    if frequency is None:
        raise TypeError("write_record needs the frequency (frames per second) of signals given as arrays")
    columns, frames, spf = _signal_columns(signals, samples_per_frame, physical)
    count = len(spf)
    start = base_datetime
    if start is not None and not isinstance(start, (datetime.datetime, datetime.date, datetime.time)):
        raise TypeError("base_datetime is a datetime.datetime, date or time, not %s" % type(start).__name__)
    _sigtrove._write_edf(
        target,
        float(frequency),
        columns,
        frames,
        spf,
        _texts(names, count, "names"),
        _texts(units, count, "units", broadcast=True),
        _numbers(gains, count, "gains", float),
        _numbers(baselines, count, "baselines", int),
        _base_time(start),
        bool(physical),
        bool(overwrite),
        annotations,
        patient,
        recording,
    )


def _edf_annotation_columns(annotations: Any) -> Tuple[Any, List[str], List[Optional[float]]]:
    """The frames, texts and durations (seconds) of annotations written to an EDF file, for the
    module: the text is an annotation's mnemonic, then its aux text after a space where it has one;
    a note ('"') is its aux text alone."""
    time = _column(annotations, "time")
    if time is None:
        raise ValueError("annotations need a time column")
    symbols = _column(annotations, "symbol")
    aux = _column(annotations, "aux")
    if symbols is None and aux is None:
        raise ValueError("annotations need a symbol or an aux column")
    durations = _column(annotations, "duration")
    count = len(time)
    times = np.asarray(time)
    if times.dtype.kind not in "biu":
        if any(_missing(v) or not float(v).is_integer() for v in times):
            raise ValueError("annotation times are frames (whole numbers)")
    times = np.ascontiguousarray(times, dtype=np.int64)
    symbol_list = [None] * count if symbols is None else symbols.tolist()
    aux_list = [None] * count if aux is None else aux.tolist()
    texts: List[str] = []
    for symbol, note in zip(symbol_list, aux_list):
        if _missing(note):
            note = None
        elif isinstance(note, bytes):
            note = note.decode("utf-8", "replace")
        if note is not None:
            note = str(note).rstrip("\x00")
        if _missing(symbol) or symbol == '"':
            texts.append(note or "")
        elif note:
            texts.append(str(symbol) + " " + note)
        else:
            texts.append(str(symbol))
    spans: List[Optional[float]] = [None] * count
    if durations is not None:
        spans = [None if _missing(d) else float(d) for d in durations]
    return times, texts, spans


def _signal_columns(signals: Any, samples_per_frame: Any, physical: bool) -> Tuple[List[Any], int, List[int]]:
    """(array, first value, values per frame) per signal, the number of frames, and each signal's
    samples per frame: the layout the module reads the values in, without copying them where they are
    already float64 (physical) or int64 (stored) and C-contiguous."""
    if _one_array_per_signal(signals):
        arrays = [_values(s, physical) for s in signals]
        if any(a.ndim != 1 for a in arrays):
            raise ValueError("signals given one by one are 1-D arrays, one per signal")
        lengths = [len(a) for a in arrays]
        if samples_per_frame is None:
            shortest = min(lengths)
            if shortest == 0 or any(n % shortest for n in lengths):
                if any(lengths):
                    raise ValueError(
                        "signals of %s samples are no whole numbers of frames: give samples_per_frame" % lengths
                    )
            spf = [n // shortest if shortest else 1 for n in lengths]
        else:
            spf = _per_signal(samples_per_frame, len(arrays), "samples_per_frame")
        frames = lengths[0] // spf[0] if arrays else 0
        for n, k in zip(lengths, spf):
            if not isinstance(k, (int, np.integer)) or k < 1 or n != frames * k:
                raise ValueError(
                    "signals of %s samples do not make one number of frames at %s samples per frame" % (lengths, spf)
                )
        return [(a, 0, int(k)) for a, k in zip(arrays, spf)], frames, [int(k) for k in spf]
    array = _values(signals, physical)
    if array.ndim == 1:
        array = array.reshape(-1, 1)
    if array.ndim != 2:
        raise ValueError("signals is a 2-D array of frames by signals (or one 1-D array per signal)")
    if samples_per_frame is not None and any(k != 1 for k in _per_signal(samples_per_frame, array.shape[1], "")):
        raise ValueError("signals with several samples per frame are given as one 1-D array per signal")
    frames, count = array.shape
    return [(array, s, count) for s in range(count)], frames, [1] * count


def _one_array_per_signal(signals: Any) -> bool:
    """A list of arrays (numpy arrays, pandas Series) is one array per signal, as is a list of
    sequences of different lengths; any other list is the rows of a 2-D array (frames by signals)."""
    if not isinstance(signals, (list, tuple)) or not signals:
        return False
    if all(hasattr(s, "shape") and np.ndim(s) == 1 for s in signals):
        return True
    lengths = {len(s) for s in signals if np.ndim(s) == 1}
    return len(lengths) > 1


def _values(values: Any, physical: bool) -> Any:
    array = np.asarray(values)
    if physical:
        if array.dtype.kind not in "biuf":
            raise TypeError("physical values are numbers, not %s" % array.dtype)
        return np.ascontiguousarray(array, dtype=np.float64)
    if array.dtype.kind not in "biu":
        raise TypeError("stored values (physical=False) are integers, not %s" % array.dtype)
    if array.dtype.kind == "u" and array.size and array.max() > np.iinfo(np.int64).max:
        raise ValueError("stored values beyond 64 bits can not be written")
    return np.ascontiguousarray(array, dtype=np.int64)


def _per_signal(value: Any, count: int, what: str, broadcast: bool = True) -> List[Any]:
    if value is None:
        return [None] * count
    if isinstance(value, str) or np.ndim(value) == 0:
        if not broadcast:
            raise TypeError("%s is a sequence with one value per signal" % what)
        return [value] * count
    values = list(value)
    if len(values) != count:
        raise ValueError("%s: %d values for %d signals" % (what, len(values), count))
    return values


def _texts(value: Any, count: int, what: str, broadcast: bool = False) -> List[Optional[str]]:
    texts = _per_signal(value, count, what, broadcast)
    for text in texts:
        if text is not None and not isinstance(text, str):
            raise TypeError("%s are str, not %s" % (what, type(text).__name__))
    return texts


def _numbers(value: Any, count: int, what: str, kind: type) -> List[Any]:
    out: List[Any] = []
    for v in _per_signal(value, count, what):
        if v is None or (isinstance(v, float) and math.isnan(v)):
            out.append(None)
        elif kind is int:
            if isinstance(v, float) and not v.is_integer():
                raise ValueError("%s are whole numbers, not %r" % (what, v))
            out.append(int(v))
        else:
            out.append(float(v))
    return out


def _base_time(value: Any) -> Optional[Tuple[int, Optional[Tuple[int, int, int]]]]:
    """(milliseconds after midnight, (day, month, year) or None), or None for no base time."""
    if value is None:
        return None
    if isinstance(value, datetime.datetime):
        clock, day = value.time(), value.date()
    elif isinstance(value, datetime.date):
        clock, day = datetime.time(0), value
    elif isinstance(value, datetime.time):
        clock, day = value, None
    else:
        raise TypeError("base_datetime is a datetime.datetime, date or time, not %s" % type(value).__name__)
    ms = ((clock.hour * 60 + clock.minute) * 60 + clock.second) * 1000 + (clock.microsecond + 500) // 1000
    if ms >= 86400000:  # rounded up to midnight
        ms -= 86400000
        if day is not None:
            day += datetime.timedelta(days=1)
    return ms, None if day is None else (day.day, day.month, day.year)


def _column(annotations: Any, name: str) -> Optional[Any]:
    try:
        if name not in annotations:
            return None
        column = annotations[name]
    except TypeError:
        raise TypeError(
            "annotations are columns (a mapping or a pandas DataFrame), as Annotation.arrays() gives them"
        ) from None
    return column.to_numpy() if hasattr(column, "to_numpy") else np.asarray(column)


def _missing(value: Any) -> bool:
    return value is None or (isinstance(value, (float, np.floating)) and math.isnan(value))


def _integers(column: Any, count: int, name: str, absent: int) -> Any:
    """An int32 column, `absent` where a value is not given (None or NaN)."""
    if column is None:
        return np.full(count, absent, dtype=np.int32)
    values = np.asarray(column)
    if values.dtype.kind in "biu":
        if values.size and (values.min() < -(2**31) or values.max() >= 2**31):
            raise ValueError("%s holds values beyond what an annotation holds" % name)
        return np.ascontiguousarray(values, dtype=np.int32)
    out = np.full(count, absent, dtype=np.int32)
    for i, v in enumerate(values):
        if _missing(v):
            continue
        number = float(v)
        if not number.is_integer() or abs(number) >= 2**31:
            raise ValueError("%s: %r is no annotation value" % (name, v))
        out[i] = int(number)
    return out


def _annotation_columns(annotations: Mapping[str, Any]) -> Mapping[str, Any]:
    time = _column(annotations, "time")
    if time is None:
        raise ValueError("annotations need a time column")
    time = np.asarray(time)
    count = len(time)
    if time.dtype.kind in "biu":
        times = np.ascontiguousarray(time, dtype=np.int64)
    else:
        times = np.empty(count, dtype=np.int64)
        for i, v in enumerate(time):
            if _missing(v) or not float(v).is_integer():
                raise ValueError("time: %r is no sample number (annotation %d)" % (v, i))
            times[i] = int(v)
    columns: Dict[str, Any] = {"time": times}
    for name in ("code", "symbol", "subtype", "chan", "num", "aux"):
        column = _column(annotations, name)
        if column is not None and len(column) != count:
            raise ValueError("the annotation columns differ in length (time %d, %s %d)" % (count, name, len(column)))
        columns[name] = column
    if columns["code"] is None and columns["symbol"] is None:
        raise ValueError("annotations need a code or a symbol column")
    symbols: List[Optional[str]] = [None] * count
    if columns["symbol"] is not None:
        for i, s in enumerate(columns["symbol"]):
            if _missing(s):
                continue
            if not isinstance(s, str):
                raise TypeError("symbol: %r is no mnemonic (annotation %d)" % (s, i))
            symbols[i] = s
    aux: List[Optional[bytes]] = [None] * count
    if columns["aux"] is not None:
        for i, a in enumerate(columns["aux"]):
            if _missing(a):
                continue
            if isinstance(a, str):
                aux[i] = a.encode("utf-8", "surrogateescape")
            elif isinstance(a, (bytes, bytearray, memoryview)):
                aux[i] = bytes(a)
            else:
                raise TypeError("aux: %r is no text (annotation %d)" % (a, i))
    return {
        "time": times,
        "code": _integers(columns["code"], count, "code", -1),
        "subtype": _integers(columns["subtype"], count, "subtype", 0),
        "chan": _integers(columns["chan"], count, "chan", 0),
        "num": _integers(columns["num"], count, "num", 0),
        "aux": aux,
        "symbols": symbols,
    }
