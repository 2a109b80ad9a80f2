"""Writes MIT-BIH record 100 (30 minutes, 2 signals, 650000 frames) from its physical values in
formats 212 and 16, and its 2274 reference annotations, with sigtrove and with the wfdb package
(wfdb.wrsamp, wfdb.wrann) in the same run; and the record with its annotations as an EDF+ file,
with sigtrove and with pyEDFlib's EdfWriter (one annotation signal per 1 s data record, as many as
every list needs). Prints times and ratios, after checking that both
writers' files read back to the same samples and annotations.

    .venv/bin/python bench/write_benchmark.py [--repeat N]
"""

import argparse
import pathlib
import shutil
import tempfile

import numpy as np
from _timing import best_of_interleaved

import sigtrove

RECORD = pathlib.Path(__file__).resolve().parent.parent / "tests" / "fixtures" / "records" / "100"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    options = parser.parse_args()
    import wfdb

    record = sigtrove.Record(str(RECORD))
    physical = record.frames()
    digital = record.frames(physical=False, dtype="int64")
    beats = sigtrove.Annotation(str(RECORD), "atr").arrays()
    names = list(record.signal_names)
    folder = pathlib.Path(tempfile.mkdtemp())
    try:

        def ours(fmt):
            def write():
                sigtrove.write_record(
                    folder / ("s%d" % fmt),
                    physical,
                    record.frequency,
                    names=names,
                    units="mV",
                    gains=200,
                    baselines=1024,
                    formats=fmt,
                    adc_resolutions=11,
                    overwrite=True,
                )

            return write

        def theirs(fmt):
            def write():
                wfdb.wrsamp(
                    "w%d" % fmt,
                    fs=record.frequency,
                    units=["mV", "mV"],
                    sig_name=names,
                    p_signal=physical,
                    fmt=[str(fmt)] * 2,
                    adc_gain=[200.0, 200.0],
                    baseline=[1024, 1024],
                    write_dir=str(folder),
                )

            return write

        def our_annotations():
            sigtrove.write_annotations(folder / "s212", "atr", beats, overwrite=True)

        def their_annotations():
            wfdb.wrann(
                "w212",
                "atr",
                sample=beats["time"],
                symbol=list(beats["symbol"]),
                subtype=beats["subtype"],
                chan=beats["chan"],
                num=beats["num"],
                aux_note=[a or "" for a in beats["aux"]],
                fs=record.frequency,
                write_dir=str(folder),
            )

        def our_edf():
            sigtrove.write_record(
                folder / "s.edf",
                physical,
                record.frequency,
                names=names,
                units="mV",
                gains=200,
                baselines=1024,
                annotations=beats,
                overwrite=True,
            )

        # pyEDFlib lays the annotations of one data record into its annotation signals; as many
        # signals as the fullest second needs, so that none is dropped.
        seconds = beats["time"] // int(record.frequency)
        annotation_signals = int(np.bincount(seconds).max())
        texts = [s if not a else s + " " + a for s, a in zip(beats["symbol"], beats["aux"])]

        def their_edf():
            import pyedflib

            writer = pyedflib.EdfWriter(str(folder / "p.edf"), len(names), file_type=pyedflib.FILETYPE_EDFPLUS)
            try:
                writer.setSignalHeaders(
                    [
                        {
                            "label": name,
                            "dimension": "mV",
                            "sample_frequency": record.frequency,
                            "physical_min": -168.96,
                            "physical_max": 158.715,
                            "digital_min": -32768,
                            "digital_max": 32767,
                        }
                        for name in names
                    ]
                )
                writer.set_number_of_annotation_signals(annotation_signals)
                writer.writeSamples([np.ascontiguousarray(physical[:, i]) for i in range(len(names))])
                for time_, text in zip(beats["time"], texts):
                    writer.writeAnnotation(time_ / record.frequency, -1, text)
            finally:
                writer.close()

        candidates = [
            ("sigtrove.write_record, 212", ours(212)),
            ("wfdb.wrsamp, 212", theirs(212)),
            ("sigtrove.write_record, 16", ours(16)),
            ("wfdb.wrsamp, 16", theirs(16)),
            ("sigtrove.write_annotations", our_annotations),
            ("wfdb.wrann", their_annotations),
            ("sigtrove.write_record, EDF+", our_edf),
            ("pyedflib.EdfWriter, EDF+", their_edf),
        ]
        for _, write in candidates:
            write()
        # Both writers' files hold the same samples and annotations.
        for fmt in (212, 16):
            for name in ("s%d" % fmt, "w%d" % fmt):
                back = sigtrove.Record(str(folder / name)).frames(physical=False, dtype="int64")
                assert np.array_equal(back, digital), name
        for name in ("s212", "w212"):
            back = sigtrove.Annotation(str(folder / name), "atr").arrays()
            assert list(back["time"]) == list(beats["time"]) and list(back["symbol"]) == list(beats["symbol"])
        for name in ("s.edf", "p.edf"):
            back = sigtrove.Record(str(folder / name)).frames(physical=False, dtype="int64")[: len(digital)]
            assert np.array_equal(back, digital), name
            listed = sigtrove.Annotation(str(folder / name), "edf").arrays()
            assert sorted(listed["aux"]) == sorted(texts), name

        # Records and annotations in rounds of their own: the record files' pages going out to the disk
        # would otherwise land on whichever small write comes next.
        records, annotations, edf = candidates[:4], candidates[4:6], candidates[6:]
        times = best_of_interleaved(options.repeat, [write for _, write in records])
        times += best_of_interleaved(4 * options.repeat, [write for _, write in annotations])
        times += best_of_interleaved(options.repeat, [write for _, write in edf])
        measured = dict(zip((name for name, _ in candidates), times))
        print(
            "record 100: %d frames x %d signals, %d annotations; best of %d (annotations: of %d)"
            % (len(physical), len(names), len(beats["time"]), options.repeat, 4 * options.repeat)
        )
        for name, seconds in measured.items():
            print("%-30s %8.2f ms" % (name, seconds * 1000))
        for ours_name, theirs_name in (
            ("sigtrove.write_record, 212", "wfdb.wrsamp, 212"),
            ("sigtrove.write_record, 16", "wfdb.wrsamp, 16"),
            ("sigtrove.write_annotations", "wfdb.wrann"),
            ("sigtrove.write_record, EDF+", "pyedflib.EdfWriter, EDF+"),
        ):
            print("%s: %.1fx faster than %s" % (ours_name, measured[theirs_name] / measured[ours_name], theirs_name))
    finally:
        shutil.rmtree(folder)


if __name__ == "__main__":
    main()
