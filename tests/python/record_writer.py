"""A tiny writer of WFDB records for the tests: a header and a format-16 signal file from a numpy
array of stored values, and an MIT-format annotation file from (time, code, aux) rows."""

import struct

import numpy as np

SKIP = 59  # the next 4 bytes are a long interval
AUX = 63  # the next bytes, as many as the word's low 10 bits say, are the aux text


def write_record(folder, name, samples, frequency, gains=None, units=None, names=None, base=""):
    """Writes NAME.hea and NAME.dat (format 16) for `samples`, a frames x signals array of stored
    values; `base` is the header's base time (and date), e.g. "10:44:18 04/05/2024"."""
    samples = np.asarray(samples, dtype="<i2")
    frames, count = samples.shape
    (folder / (name + ".dat")).write_bytes(samples.tobytes())
    lines = ["%s %d %g %d %s" % (name, count, frequency, frames, base)]
    for i in range(count):
        gain = gains[i] if gains else 200
        unit = units[i] if units else "mV"
        label = names[i] if names else "signal%d" % i
        lines.append("%s.dat 16 %g/%s 16 0 0 0 0 %s" % (name, gain, unit, label))
    (folder / (name + ".hea")).write_text("\n".join(line.rstrip() for line in lines) + "\n")
    return str(folder / name)


def annotation_bytes(rows):
    """An MIT-format annotation file of (time, code, aux or None) rows (a row earlier than the one
    before it is written with a negative long interval, as a file out of time order has it)."""
    words = []
    previous = 0
    for time, code, aux in rows:
        interval = time - previous
        previous = time
        if not 0 <= interval <= 1023:
            interval &= 0xFFFFFFFF
            words.append(struct.pack("<H", SKIP << 10))
            words.append(struct.pack("<HH", interval >> 16, interval & 0xFFFF))
            interval = 0
        words.append(struct.pack("<H", code << 10 | interval))
        if aux is not None:
            text = aux.encode("latin-1")
            words.append(struct.pack("<H", AUX << 10 | len(text)) + text + b"\0" * (len(text) % 2))
    words.append(b"\0\0")
    return b"".join(words)


def write_annotations(record_path, annotator, rows):
    with open("%s.%s" % (record_path, annotator), "wb") as f:
        f.write(annotation_bytes(rows))
