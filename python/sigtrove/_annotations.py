"""``python -m sigtrove annotations RECORD [ANNOTATOR]``: list the annotations of a record."""

import sys

import _sigtrove

USAGE = "usage: python -m sigtrove annotations RECORD [ANNOTATOR]\n"


class _TimeOnly(_sigtrove.AnnotationEntry):
    """An entry whose text form carries nothing but the engine's time text."""

    __slots__ = ()
    typestr = ""
    description = ""


def time_text(sample):
    """The engine's time text for a sample number, as str(entry) shows it.

    The module offers the engine's time formatting only through an entry's text
    form, so the text is cut out of that form, whose other parts are known here.
    """
    prefix = "[ (1) %d] -  at " % sample
    return str(_TimeOnly(sample, 1))[len(prefix):-1]


def format_entry(entry):
    """One line: time text, sample number, mnemonic, subtype, channel and annotator number, then
    the aux text (a rhythm label, a measurement, a note) after a tab when there is one."""
    line = "%12s %10d %6s %4d %4d %4d" % (time_text(entry.time), entry.time, entry.typestr,
                                          entry.subtype, entry.channel, entry.annotator)
    return line + "\t" + entry.aux if entry.aux else line


def _read_header(path):
    # Time texts use the sampling frequency and base time of the header the
    # engine read last, so read this record's header first when it has one.
    try:
        _sigtrove.Record(path)
    except _sigtrove.InitError:
        pass


def run(args):
    if not 1 <= len(args) <= 2:
        sys.stderr.write(USAGE)
        return 2
    path = args[0]
    annotator = args[1] if len(args) == 2 else "atr"
    try:
        _read_header(path)
        entries = _sigtrove.Annotation(path, annotator).read()
        lines = [format_entry(entry) for entry in entries]
    except (_sigtrove.Error, ValueError, OSError) as error:
        sys.stderr.write("python -m sigtrove annotations: %s" % error)
        if not str(error).endswith("\n"):
            sys.stderr.write("\n")
        return 1
    sys.stdout.write("".join(line + "\n" for line in lines))
    return 0
