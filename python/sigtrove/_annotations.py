"""``python -m sigtrove annotations RECORD [ANNOTATOR]``: list the annotations of a record."""

import sys

import _sigtrove

USAGE = "usage: python -m sigtrove annotations RECORD [ANNOTATOR]\n"


def format_entry(entry, annotation):
    """One line: time text (by the record's own header), sample number, mnemonic, subtype,
    channel and annotator number, then the aux text (a rhythm label, a measurement, a note)
    after a tab when there is one."""
    line = "%12s %10d %6s %4d %4d %4d" % (annotation.time_text(entry.time), entry.time, entry.typestr,
                                          entry.subtype, entry.channel, entry.annotator)
    return line + "\t" + entry.aux if entry.aux else line


def run(args):
    if not 1 <= len(args) <= 2:
        sys.stderr.write(USAGE)
        return 2
    path = args[0]
    annotator = args[1] if len(args) == 2 else "atr"
    try:
        annotation = _sigtrove.Annotation(path, annotator)
        lines = [format_entry(entry, annotation) for entry in annotation.read()]
    except (_sigtrove.Error, ValueError, OSError) as error:
        sys.stderr.write("python -m sigtrove annotations: %s" % error)
        if not str(error).endswith("\n"):
            sys.stderr.write("\n")
        return 1
    sys.stdout.write("".join(line + "\n" for line in lines))
    return 0
