"""Writing EDF+ (16-bit) and BDF+ (24-bit) files: data signals whose digital range is the format's,
with physical ranges that give back the values written, and the annotations in one "EDF Annotations"
signal sized so that every data record's annotation list fits.

The samples are laid out by numpy, one data record after another; the file is written under a
temporary name in the destination folder and renamed into place when complete and flushed."""

import datetime
import math
import os
import tempfile
from fractions import Fraction
from typing import List, Optional, Sequence, Tuple

import numpy as np

# The digital range of each format: every stored value of the format is a sample.
DIGITAL_RANGE = {"edf": (-32768, 32767), "bdf": (-8388608, 8388607)}
SAMPLE_BYTES = {"edf": 2, "bdf": 3}
ANNOTATION_LABEL = {"edf": "EDF Annotations", "bdf": "BDF Annotations"}


class EdfSignal:
    """One data signal as it is written: its stored values (int64, one per sample) and its header fields."""

    def __init__(self, label: str, dimension: str, values: np.ndarray, samples_per_frame: int, pmin: str, pmax: str):
        self.label = label
        self.dimension = dimension
        self.values = values
        self.samples_per_frame = samples_per_frame
        self.pmin = pmin
        self.pmax = pmax


def number_text(value: float, width: int = 8) -> Optional[str]:
    """The shortest decimal text of `value` in `width` characters that reads back as the same double,
    or the closest that fits (None when even the integer part does not fit)."""
    if not math.isfinite(value):
        return None
    for digits in range(1, 18):
        text = ("%.*g" % (digits, value)).replace("e+0", "e+").replace("e-0", "e-")
        if "e" in text:
            text = "%.*f" % (max(0, digits - 1 - int(math.floor(math.log10(abs(value))))), value)
        if "." in text:
            text = text.rstrip("0").rstrip(".")
        if text in ("-0", ""):
            text = "0"
        if len(text) > width:
            break
        if float(text) == value:
            return text
    # Not exactly representable: as many decimals as fit.
    whole = "%d" % int(round(value))
    if len(whole) > width:
        return None
    for decimals in range(width, -1, -1):
        text = "%.*f" % (decimals, value)
        if len(text) <= width:
            return text.rstrip("0").rstrip(".") if "." in text else text
    return whole


def physical_range(gain: float, baseline: int, kind: str) -> Tuple[str, str]:
    """pmin and pmax such that the EDF formula pmin + (d - dmin) * (pmax - pmin) / (dmax - dmin)
    gives (d - baseline) / gain for every stored value d: the physical values of the format's range."""
    dmin, dmax = DIGITAL_RANGE[kind]
    gain = gain or 200.0
    low, high = number_text((dmin - baseline) / gain), number_text((dmax - baseline) / gain)
    if low is None or high is None or float(low) == float(high):
        raise ValueError(
            "a gain of %r and a baseline of %d give a physical range that an EDF header can not hold" % (gain, baseline)
        )
    if gain < 0:
        low, high = high, low
    return low, high


def record_duration(frequency: float, samples_per_frame: Sequence[int]) -> Tuple[float, str, int]:
    """(seconds, its header text, frames per data record): the shortest duration of whole seconds or
    tenths that holds a whole number of samples of every signal, preferring one second."""
    candidates = [1.0, 0.5, 0.2, 0.1, 2.0, 5.0, 10.0, 0.25, 4.0, 20.0, 25.0, 50.0, 100.0]
    for seconds in candidates:
        frames = frequency * seconds
        if abs(frames - round(frames)) < 1e-9 * max(1.0, frames) and round(frames) >= 1:
            text = number_text(seconds)
            assert text is not None
            return seconds, text, int(round(frames))
    raise ValueError(
        "a frequency of %r frames per second makes no data record of a whole number of samples: "
        "EDF can not hold it" % frequency
    )


def _field(text: str, width: int, what: str) -> bytes:
    data = text.encode("ascii", "replace")
    if len(data) > width:
        raise ValueError("the %s %r is longer than the %d characters EDF gives it" % (what, text, width))
    if any(b < 32 or b > 126 for b in data):
        raise ValueError("the %s %r holds characters EDF does not allow (printable ASCII only)" % (what, text))
    return data.ljust(width, b" ")


def _seconds_text(nanoseconds: int) -> str:
    """A time in nanoseconds as an EDF+ onset: a sign, the seconds and up to 9 decimals."""
    sign = "+" if nanoseconds >= 0 else "-"
    whole, part = divmod(abs(nanoseconds), 10**9)
    if not part:
        return "%s%d" % (sign, whole)
    return "%s%d.%s" % (sign, whole, ("%09d" % part).rstrip("0"))


def onset_nanoseconds(frames: Sequence[int], frequency: float) -> List[int]:
    """The first nanosecond at or after the start of each frame: a reader that takes the frame
    holding an onset gives back the frame exactly."""
    rate = Fraction(frequency)
    times = np.asarray(frames, dtype=np.int64)
    if rate.denominator == 1 and (not times.size or np.abs(times).max() < 2**62 // 10**9):
        stamps: List[int] = (-((-times * 10**9) // rate.numerator)).tolist()
        return stamps
    return [-((-int(t) * 10**9 * rate.denominator) // rate.numerator) for t in times]


def annotation_lists(
    onsets: Sequence[int],
    texts: Sequence[str],
    durations: Sequence[Optional[float]],
    seconds: float,
    count: int,
    width: int = 2,
) -> Tuple[List[bytes], int]:
    """Each data record's annotation signal bytes: its time stamp, then the annotations whose onsets
    (nanoseconds) fall in it; and the number of samples of `width` bytes that the largest needs
    (every record gets that many)."""
    span = int(round(seconds * 10**9))
    if span % 10**9 == 0:
        step = span // 10**9
        lists: List[List[bytes]] = [[b"+%d\x14\x14\x00" % (i * step)] for i in range(count)]
    else:
        lists = [[(_seconds_text(i * span) + "\x14\x14\x00").encode()] for i in range(count)]
    for onset, text, duration in zip(onsets, texts, durations):
        where = min(max(onset // span, 0), count - 1)
        head = _seconds_text(onset)
        if duration is not None and not math.isnan(duration):
            head += "\x15" + _seconds_text(int(round(duration * 10**9)))[1:]
        lists[where].append(head.encode() + b"\x14" + text.encode("utf-8") + b"\x14\x00")
    joined = [b"".join(parts) for parts in lists]
    samples = -(-max(len(b) for b in joined) // width)
    return [b.ljust(width * samples, b"\x00") for b in joined], samples


def _header_date(when: "datetime.datetime | datetime.time | None") -> Tuple[str, str, str]:
    """(start date, start time, the recording field's Startdate) of the header: a start without a
    date has EDF+'s date of an unknown day, 01.01.85."""
    if when is None:
        return "01.01.85", "00.00.00", "Startdate X"
    if isinstance(when, datetime.time):
        return "01.01.85", when.strftime("%H.%M.%S"), "Startdate X"
    months = "JAN FEB MAR APR MAY JUN JUL AUG SEP OCT NOV DEC".split()
    return (
        when.strftime("%d.%m.") + "%02d" % (when.year % 100),
        when.strftime("%H.%M.%S"),
        "Startdate %02d-%s-%04d" % (when.day, months[when.month - 1], when.year),
    )


def write_edf(
    path: str,
    signals: List[EdfSignal],
    frequency: float,
    frames: int,
    *,
    kind: str,
    start: "datetime.datetime | datetime.time | None" = None,
    patient: str = "X X X X",
    recording: Optional[str] = None,
    annotations: Optional[Tuple[Sequence[int], Sequence[str], Sequence[Optional[float]]]] = None,
    overwrite: bool = False,
) -> None:
    """Writes an EDF+ (kind "edf") or BDF+ ("bdf") file of `signals` at `frequency` frames per second.
    The file is not synced to the disk (as the WFDB writers' files are not): the rename stands for a
    complete file.
    The last data record is filled out with each signal's last value (EDF has whole data records only)."""
    if not signals:
        raise ValueError("an EDF file needs at least one signal")
    if frames < 1:
        raise ValueError("an EDF file needs at least one frame")
    dmin, dmax = DIGITAL_RANGE[kind]
    spf = [s.samples_per_frame for s in signals]
    seconds, seconds_text, frames_per_record = record_duration(frequency, spf)
    count = -(-frames // frames_per_record)
    for number, s in enumerate(signals):
        if s.values.size and (s.values.min() < dmin or s.values.max() > dmax):
            bad = np.flatnonzero((s.values < dmin) | (s.values > dmax))
            if bad.size:
                i = int(bad[0])
                raise ValueError(
                    "signal %d (%s): the value %d of frame %d is beyond what %s holds (%d to %d)"
                    % (number, s.label, int(s.values[i]), i // s.samples_per_frame, kind.upper(), dmin, dmax)
                )
    # EDF+ files always have an annotation signal: it holds each data record's onset.
    if annotations is None:
        annotations = ([], [], [])
    width = SAMPLE_BYTES[kind]
    lists, annotation_samples = annotation_lists(*annotations, seconds=seconds, count=count, width=width)
    date, clock, startdate = _header_date(start)
    fields = [s for s in signals]
    ns = len(fields) + 1
    width = SAMPLE_BYTES[kind]
    per_record = [k * frames_per_record for k in spf]
    header = bytearray()
    header += b"\xffBIOSEMI" if kind == "bdf" else b"0".ljust(8)
    header += _field(patient, 80, "patient field")
    header += _field(recording if recording is not None else startdate + " X X X", 80, "recording field")
    header += _field(date, 8, "start date") + _field(clock, 8, "start time")
    header += _field(str(256 * (ns + 1)), 8, "header size")
    header += _field("BDF+C" if kind == "bdf" else "EDF+C", 44, "reserved field")
    header += _field(str(count), 8, "data record count") + _field(seconds_text, 8, "data record duration")
    header += _field(str(ns), 4, "signal count")
    labels = [s.label for s in fields] + [ANNOTATION_LABEL[kind]]
    columns = [
        [_field(t, 16, "label") for t in labels],
        [_field("", 80, "transducer")] * ns,
        [_field(s.dimension, 8, "dimension") for s in fields] + [_field("", 8, "")] * (ns - len(fields)),
        [_field(s.pmin, 8, "physical minimum") for s in fields] + [_field("-1", 8, "")] * (ns - len(fields)),
        [_field(s.pmax, 8, "physical maximum") for s in fields] + [_field("1", 8, "")] * (ns - len(fields)),
        [_field(str(dmin), 8, "")] * len(fields) + [_field(str(dmin), 8, "")] * (ns - len(fields)),
        [_field(str(dmax), 8, "")] * len(fields) + [_field(str(dmax), 8, "")] * (ns - len(fields)),
        [_field("", 80, "prefiltering")] * ns,
        [_field(str(n), 8, "samples per data record") for n in per_record + [annotation_samples][: ns - len(fields)]],
        [_field("", 32, "")] * ns,
    ]
    for column in columns:
        for cell in column:
            header += cell
    body = _data_records(fields, per_record, count, width, annotation_samples)
    raw = body.view(np.uint8).reshape(count, -1)
    at = sum(per_record) * width
    raw[:, at:] = np.frombuffer(b"".join(lists), dtype=np.uint8).reshape(count, -1)
    _write_in_place(path, bytes(header), body, overwrite)


def _data_records(
    signals: List[EdfSignal], per_record: List[int], count: int, width: int, annotation_samples: int
) -> np.ndarray:
    """The data records, one row each: every signal's samples of the record in turn, then room for
    the annotation signal (zeros). A last record that the samples do not fill is filled out with each
    signal's last value."""
    if width == 2:
        body = np.zeros((count, sum(per_record) + annotation_samples), dtype="<i2")
        at = 0
        for s, n in zip(signals, per_record):
            _place(body[:, at : at + n], s.values, n, count)
            at += n
        return body
    # 24-bit samples: each signal's values as little-endian int32, of which the low 3 bytes are kept.
    body = np.zeros((count, (sum(per_record) + annotation_samples) * 3), dtype=np.uint8)
    at = 0
    for s, n in zip(signals, per_record):
        wide = np.empty((count, n), dtype="<i4")
        _place(wide, s.values, n, count)
        body[:, at : at + 3 * n] = wide.view(np.uint8).reshape(count, n, 4)[:, :, :3].reshape(count, 3 * n)
        at += 3 * n
    return body


def _place(target: np.ndarray, values: np.ndarray, n: int, count: int) -> None:
    full = min(values.size // n, count)
    target[:full] = values[: full * n].reshape(full, n)
    if full < count:
        rest = values[full * n :]
        target[full:] = rest[-1] if rest.size else (values[-1] if values.size else 0)
        target[full, : rest.size] = rest


def _write_in_place(path: str, header: bytes, body: np.ndarray, overwrite: bool) -> None:
    folder = os.path.dirname(os.path.abspath(path))
    if not overwrite and os.path.lexists(path):
        raise FileExistsError("%s exists (overwrite=True replaces it)" % path)
    handle, temporary = tempfile.mkstemp(prefix="." + os.path.basename(path) + ".", suffix=".part", dir=folder)
    try:
        with os.fdopen(handle, "wb") as out:
            out.write(header)
            out.write(body.data)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def check_name(path: str) -> None:
    """An EDF file's name is its record's: not empty, no '..' and nothing hidden."""
    name = os.path.splitext(os.path.basename(path))[0]
    if not name or name in (".", "..") or name.startswith("."):
        raise ValueError("%r is no record name to write (an EDF file needs a name before .edf)" % path)
    folder = os.path.dirname(os.path.abspath(path))
    if not os.path.isdir(folder):
        raise FileNotFoundError("the folder %s does not exist" % folder)
