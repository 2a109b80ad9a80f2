"""EDF, EDF+, BDF and BDF+ files opened as records through every interface: the name rule, values
against pyEDFlib on files it writes, every stored value a sample, EDF+D gaps, annotations, databases,
the command line, Dask, and web servers."""

import math
import os
import shutil

import numpy as np
import pyedflib
import pytest
from command import sigtrove as run_sigtrove
from conftest import RECORDS
from edf_writer import EdfSignal, write_edf

import _sigtrove
import sigtrove
import sigtrove.dask

EDF_FIXTURES = RECORDS / "edf"


# ---- names


@pytest.mark.parametrize(
    "file_name, nsig, frequency, annotated",
    [
        ("bdfplus.bdf", 3, 8.0, True),
        ("odd_ranges.EDF", 5, 2.0, False),
        ("rates_annotations.edf", 5, 10.0, True),
        ("s0010_re.edf", 15, 1000.0, False),
    ],
)
def test_a_path_ending_in_edf_or_bdf_opens_the_file_as_a_record(file_name, nsig, frequency, annotated, tmp_path):
    # Any case of the extension, with and without a directory part, and the extension kept in the name.
    for spelled in (file_name, file_name[:-3] + file_name[-3:].swapcase()):
        shutil.copy(EDF_FIXTURES / file_name, tmp_path / spelled)
        record = _sigtrove.Record(str(tmp_path / spelled))
        assert (record.record, record.basedir, record.name) == (spelled, str(tmp_path), spelled)
        assert (record.nsig, record.frequency) == (nsig, frequency)
        assert repr(record) == "sigtrove.Record(%s)" % (tmp_path / spelled)
        if annotated:
            annotation = _sigtrove.Annotation(str(tmp_path / spelled), "edf")
            assert (annotation.record, annotation.basedir) == (spelled, str(tmp_path))
        else:  # a file without an annotation signal has no annotator "edf", as a record without its file
            with pytest.raises(_sigtrove.InitError, match="no annotation signal"):
                _sigtrove.Annotation(str(tmp_path / spelled), "edf")
        os.remove(tmp_path / spelled)


def test_a_relative_edf_path_and_the_database_path_find_the_file(tmp_path, monkeypatch):
    shutil.copy(EDF_FIXTURES / "xform.edf", tmp_path / "xform.edf")
    monkeypatch.chdir(tmp_path)
    assert _sigtrove.Record("xform.edf").frames().shape == _sigtrove.Record(str(tmp_path / "xform.edf")).frames().shape
    monkeypatch.chdir(RECORDS)
    monkeypatch.setenv("WFDB", str(tmp_path))
    assert _sigtrove.Record("xform.edf").nsig == 4


@pytest.mark.parametrize(
    "content, wanted",
    [
        (b"", "xx.edf"),  # empty
        (b"0       " + b"x" * 100, "xx.edf"),  # a header cut short
        ((RECORDS / "100.hea").read_bytes(), "xx.edf"),  # a WFDB header under an EDF name
        ((EDF_FIXTURES / "bdfplus.bdf").read_bytes(), "xx.edf"),  # a BDF file named as an EDF file
    ],
)
def test_a_name_that_does_not_match_the_contents_is_a_clear_error(content, wanted, tmp_path):
    (tmp_path / "xx.edf").write_bytes(content)
    with pytest.raises(_sigtrove.InitError) as caught:
        _sigtrove.Record(str(tmp_path / "xx.edf"))
    assert wanted in str(caught.value)


def test_a_missing_edf_file_is_named_with_its_extension(tmp_path):
    with pytest.raises(_sigtrove.InitError, match="can't open header for record gone.edf"):
        _sigtrove.Record(str(tmp_path / "gone.edf"))


# ---- values against pyEDFlib, on files it writes

PYEDFLIB_SIGNALS = [
    # label, dimension, samples per 1-s data record, physical range, digital range
    ("EEG Fpz-Cz", "uV", 256, (-250.0, 250.0), (-32768, 32767)),
    ("EOG", "uV", 128, (-1000.5, 999.75), (-2048, 2047)),
    ("Resp", "", 32, (100.0, -100.0), (-32768, 32767)),  # negative gain
    ("Temp", "degC", 1, (34.0, 34.0001), (0, 1)),  # two levels
    ("SpO2", "%", 16, (-273.15, 99999.0), (-10, 3000)),  # asymmetric
]
PYEDFLIB_ANNOTATIONS = [
    (0.0, -1, "Recording starts"),
    (2.5, 1.25, "Arousal"),
    (7.0, 0.0, "Marker"),
    (12.3456, -1, "Lights off"),
    (13.0, 2.0, "Schlafstadium Wach – Übergang"),
    (13.0, 2.0, "睡眠段階 N2"),
    (19.96875, 0.03125, "End"),
]


def _pyedflib_file(path, bdf, seconds=20, seed=7):
    """An EDF+ or BDF+ file written by pyEDFlib from digital values that reach both ends of each range."""
    rng = np.random.default_rng(seed)
    kind = pyedflib.FILETYPE_BDFPLUS if bdf else pyedflib.FILETYPE_EDFPLUS
    writer = pyedflib.EdfWriter(str(path), len(PYEDFLIB_SIGNALS), file_type=kind)
    headers, data = [], []
    for label, dimension, rate, (pmin, pmax), (dmin, dmax) in PYEDFLIB_SIGNALS:
        if bdf and dmin == -32768:
            dmin, dmax = -8388608, 8388607
        headers.append(
            dict(
                label=label,
                dimension=dimension,
                sample_frequency=rate,
                physical_min=pmin,
                physical_max=pmax,
                digital_min=dmin,
                digital_max=dmax,
                transducer="",
                prefilter="",
            )
        )
        values = rng.integers(dmin, dmax + 1, rate * seconds)
        values[:3] = [dmin, dmax, -32768 if dmin <= -32768 else dmin]
        data.append(values.astype(np.int32))
    writer.setSignalHeaders(headers)
    writer.writeSamples(data, digital=True)
    for onset, duration, text in PYEDFLIB_ANNOTATIONS:
        writer.writeAnnotation(onset, duration, text)
    writer.close()
    return data


@pytest.mark.parametrize("bdf", [False, True], ids=["edf+", "bdf+"])
def test_every_signal_reads_as_pyedflib_reads_it(bdf, tmp_path):
    path = tmp_path / ("written.bdf" if bdf else "written.edf")
    stored = _pyedflib_file(path, bdf)
    reader = pyedflib.EdfReader(str(path))
    try:
        record = _sigtrove.Record(str(path))
        assert record.nsig == len(PYEDFLIB_SIGNALS)
        assert record.frequency == 1.0  # the highest rate all five share
        assert record.readable_frames == record.frame_count == 20
        for i, (label, dimension, rate, _, _) in enumerate(PYEDFLIB_SIGNALS):
            signal = record.signals[i]
            assert (signal.name, signal.units, signal.samples_per_frame) == (label, dimension, rate)
            assert reader.getSignalLabels()[i] == label and reader.getSampleFrequency(i) == rate
            physical = record.signal(i)
            assert physical.dtype == np.float64
            # The EDF definition exactly, in float64; pyEDFlib's own arithmetic differs in the last bit at most.
            pmin, pmax = reader.getPhysicalMinimum(i), reader.getPhysicalMaximum(i)
            dmin, dmax = reader.getDigitalMinimum(i), reader.getDigitalMaximum(i)
            assert np.array_equal(physical, _physical(stored[i], pmin, pmax, dmin, dmax))
            np.testing.assert_allclose(physical, reader.readSignal(i), rtol=1e-13, atol=1e-13 * abs(pmax - pmin))
            assert np.array_equal(record.signal(i, physical=False), stored[i])
            assert np.array_equal(record.signal(label, physical=False), reader.readSignal(i, digital=True))
            assert not np.isnan(physical).any()
            # A window at the signal's own rate is the same stretch of pyEDFlib's whole read.
            assert np.array_equal(record.signal(i, "0:03", "0:05"), physical[3 * rate : 5 * rate])
            assert np.array_equal(record.signal(i, 3 * rate, 5 * rate), physical[3 * rate : 5 * rate])
    finally:
        reader.close()


@pytest.mark.parametrize("bdf", [False, True], ids=["edf+", "bdf+"])
def test_annotations_read_as_pyedflib_reads_them(bdf, tmp_path):
    path = tmp_path / ("written.bdf" if bdf else "written.edf")
    _pyedflib_file(path, bdf)
    reader = pyedflib.EdfReader(str(path))
    onsets, durations, texts = reader.readAnnotations()
    reader.close()
    got = _sigtrove.Annotation(str(path), "edf").arrays()
    assert list(got["aux"]) == list(texts) == [a[2] for a in PYEDFLIB_ANNOTATIONS]
    assert np.array_equal(got["onset"], onsets)
    # pyEDFlib gives -1 where no duration is written; the arrays say NaN.
    assert np.array_equal(np.where(np.isnan(got["duration"]), -1, got["duration"]), durations)
    assert np.isnan(got["duration"][[0, 3]]).all() and got["duration"][2] == 0
    # The frame that holds each onset, at the record's frame rate (1 Hz here).
    assert got["time"].tolist() == [math.floor(onset) for onset, _, _ in PYEDFLIB_ANNOTATIONS]


def test_the_edf_annotations_as_entries_and_with_a_window(tmp_path):
    path = tmp_path / "written.edf"
    _pyedflib_file(path, False)
    annotation = _sigtrove.Annotation(str(path), "edf")
    entries = annotation.read()
    assert [(e.time, e.aux) for e in entries] == [(math.floor(o), t) for o, _, t in PYEDFLIB_ANNOTATIONS]
    # read() positions and reads on as over a WFDB annotation file: a window, then on from where it stopped.
    assert [e.aux for e in annotation.read(7, 6)] == ["Marker", "Lights off"]
    assert [e.aux for e in annotation.read(-1, 0)][:1] == ["Schlafstadium Wach – Übergang"]
    assert [e.typestr for e in annotation.read(0, 0, '"')] == ['"'] * len(PYEDFLIB_ANNOTATIONS)  # NOTEs
    assert annotation.read(0, 0, "N") == []
    with pytest.raises(ValueError, match="no annotation at or after time 25"):
        annotation.read(25)
    window = annotation.arrays(12, 14)
    assert list(window["aux"]) == ["Lights off", "Schlafstadium Wach – Übergang", "睡眠段階 N2"]
    # Any other annotator is a WFDB annotation file beside the EDF file.
    with pytest.raises(_sigtrove.InitError):
        _sigtrove.Annotation(str(path), "atr")


# ---- every stored value is a sample; only the gaps of EDF+D are invalid


def _minimum_file(path):
    """Plain EDF whose digital minimum -32768 (the WFDB invalid value) is stored in several places."""
    samples = np.arange(-32768, -32768 + 400, dtype=np.int32) % 65536 - 32768
    samples[[0, 7, 199, 399]] = -32768
    write_edf(str(path), [EdfSignal("C3", samples, 100, -500.0, 500.0)], 1.0, plus=False)
    return samples


def _physical(samples, pmin=-500.0, pmax=500.0, dmin=-32768, dmax=32767):
    return pmin + (samples.astype(np.float64) - dmin) * (pmax - pmin) / (dmax - dmin)


def test_the_digital_minimum_is_a_sample_in_every_output(tmp_path):
    path = tmp_path / "minimum.edf"
    samples = _minimum_file(path)
    wanted = _physical(samples)
    record = _sigtrove.Record(str(path))
    assert record.frequency == 100.0 and record.readable_frames == 400
    outputs = {
        "frames float64": record.frames()[:, 0],
        "frames float32": record.frames(dtype=np.float32)[:, 0],
        "signal": record.signal(0),
        "read": np.array(record.read(0, 0, 400)),
        "windows": np.concatenate([record.frames(s, s + 7)[:, 0] for s in range(0, 400, 7)]),
        "dask": sigtrove.dask.frames([str(path)])[str(path)].compute()[:, 0],
    }
    for name, got in outputs.items():
        assert not np.isnan(got).any(), name
        tolerance = 1e-4 if got.dtype == np.float32 else 0
        assert np.allclose(got, wanted, rtol=0, atol=tolerance), name
    assert outputs["frames float64"][0] == -500.0
    for dtype in (np.int16, np.int32, np.int64):
        assert np.array_equal(record.frames(physical=False, dtype=dtype)[:, 0], samples), dtype
    assert np.array_equal(record.signal(0, physical=False), samples)


# Data records of 1 s at 0, 1, 3 and 4.5 s: gaps from 2 to 3 s and from 4 to 4.5 s; 5.5 s in all.
GAP_ONSETS = ["0", "1", "3", "4.5"]


def _discontinuous_file(path, rate=10, slow=2):
    fast = np.arange(4 * rate, dtype=np.int32) * 100 - 32768  # -32768 is a sample here too
    slow_values = np.arange(4 * slow, dtype=np.int32) + 1
    signals = [
        EdfSignal("EEG", fast, rate, -1000.0, 1000.0),
        EdfSignal("Pleth", slow_values, slow, 0.0, 100.0, 0, 4095, "%"),
    ]
    annotations = [("0.25", None, "start"), ("2.0", "1", "in the gap"), ("4.75", "0.5", "late")]
    write_edf(str(path), signals, 1.0, onsets=GAP_ONSETS, annotations=annotations)
    return fast, slow_values


def _gap_frames(rate):
    """The frames at RATE that lie in a gap."""
    gaps = np.zeros(int(5.5 * rate), bool)
    gaps[2 * rate : 3 * rate] = True
    gaps[4 * rate : int(4.5 * rate)] = True
    return gaps


def test_an_edf_plus_d_file_reads_each_data_record_at_its_onset(tmp_path):
    path = tmp_path / "gaps.edf"
    fast, slow_values = _discontinuous_file(path)
    record = _sigtrove.Record(str(path))
    assert record.frequency == 2.0 and record.readable_frames == 11  # 5.5 s at the common rate
    gap = _gap_frames(2)
    physical = record.frames()
    assert np.isnan(physical[gap]).all() and not np.isnan(physical[~gap]).any()
    stored = record.frames(physical=False)
    assert (stored[gap] == -32768).all()
    assert np.array_equal(stored[~gap, 1], slow_values)
    # At the signal's own rate: the gaps are NaN, the data records where their onsets put them.
    eeg = record.signal("EEG")
    own_gap = _gap_frames(10)
    assert len(eeg) == 55 and np.isnan(eeg[own_gap]).all()
    assert np.array_equal(eeg[~own_gap], _physical(fast, -1000.0, 1000.0))
    assert eeg[~own_gap][0] == -1000.0  # the stored -32768 of the first data record is a sample
    assert np.array_equal(record.signal("EEG", physical=False)[~own_gap], fast)
    # read() and a window that starts inside a gap say the same.
    assert np.array_equal(np.isnan(record.read(1, 0, 11)), gap)
    assert np.isnan(record.frames(3, 7)).tolist() == gap[3:7, None].repeat(2, 1).tolist()
    times = _sigtrove.Annotation(str(path), "edf").arrays()
    assert list(times["aux"]) == ["start", "in the gap", "late"]
    assert times["time"].tolist() == [0, 4, 9]  # at 2 Hz from the first data record's onset
    assert times["onset"].tolist() == [0.25, 2.0, 4.75]


@pytest.mark.parametrize(
    "record_count, cut, frame_count, readable",
    [
        (4, 0, 40, 40),
        (-1, 0, 40, 40),  # unknown while recording: taken from the size
        (-1, 3, 30, 30),  # a partial last data record is not a data record
        (6, 0, 60, 40),  # the file ends before the header's count
    ],
)
def test_the_data_record_count_from_the_header_or_the_file(record_count, cut, frame_count, readable, tmp_path):
    path = tmp_path / "count.edf"
    samples = np.arange(40, dtype=np.int32)
    write_edf(str(path), [EdfSignal("X", samples, 10)], 1.0, plus=False, record_count=record_count)
    if cut:
        with open(path, "r+b") as f:
            f.truncate(os.path.getsize(path) - cut)
    record = _sigtrove.Record(str(path))
    assert (record.frequency, record.frame_count, record.readable_frames) == (10.0, frame_count, readable)
    got = record.frames(0, readable, physical=False)
    assert np.array_equal(got[:, 0], samples[:readable])
    if readable < frame_count:  # says so as a short WFDB signal file does
        with pytest.raises(_sigtrove.InitError, match="unexpected EOF"):
            record.frames()
        with pytest.raises(_sigtrove.InitError, match="unexpected EOF"):
            record.read(0)
    else:
        assert record.read(0, 0, 0, False) == list(samples[:readable] - record.signal_info(0)["adc_zero"])


# ---- header values


def test_header_values_of_an_edf_plus_file(tmp_path):
    path = tmp_path / "written.edf"
    _pyedflib_file(path, False)
    record = _sigtrove.Record(str(path))
    info = record.signal_info(0)
    assert (info["description"], info["units"], info["samples"]) == ("EEG Fpz-Cz", "uV", 20)
    text = str(record)
    assert "EEG Fpz-Cz" in text and "SpO2" in text
    assert record.base_datetime is not None
    reader = pyedflib.EdfReader(str(path))
    start = reader.getStartdatetime()
    reader.close()
    assert record.base_datetime.replace(microsecond=0) == start


# ---- databases, Dask, the command line


def _edf_database(root):
    (root / "chb01").mkdir()
    shutil.copy(EDF_FIXTURES / "xform.edf", root / "chb01" / "chb01_01.edf")
    shutil.copy(EDF_FIXTURES / "bdfplus.bdf", root / "chb01" / "chb01_02.BDF")
    (root / "RECORDS").write_text("chb01/chb01_01.edf\nchb01/chb01_02.BDF\n")
    return ["chb01/chb01_01.edf", "chb01/chb01_02.BDF"]


def test_a_database_whose_records_are_edf_files(tmp_path):
    names = _edf_database(tmp_path)
    database = sigtrove.Database(str(tmp_path))
    assert list(database.names) == names
    opened = list(database)
    assert [(r.record, r.nsig) for r in opened] == [("chb01_01.edf", 4), ("chb01_02.BDF", 3)]
    arrays = sigtrove.dask.frames(database)
    for name in names:
        whole = _sigtrove.Record(str(tmp_path / name)).frames()
        got = arrays[name].compute()
        assert np.array_equal(np.isnan(got), np.isnan(whole)) and np.array_equal(
            got[~np.isnan(got)], whole[~np.isnan(whole)]
        )
    # The plain EDF file has no annotation signal: skipped, with a warning naming it.
    with pytest.warns(sigtrove.dask.RecordSkipped, match="chb01_01.edf"):
        beats = sigtrove.dask.annotations(database, "edf", errors="skip").compute()
    assert list(beats["record"].unique()) == ["chb01/chb01_02.BDF"]
    assert beats["onset"].tolist() == [1.0, 33.3125, 70.5, 119.875]
    assert np.isnan(beats["duration"].to_numpy()[[0, 2]]).all()
    assert list(beats["aux"]) == ["Recording start", "Eyes closed", "Ärger – artefact", "End"]


@pytest.mark.parametrize(
    "arguments, wanted",
    [
        (["samples", "edf/discontinuous.edf", "--to", "s8"], "-"),  # a gap's frames show as invalid
        (["annotations", "edf/discontinuous.edf", "edf"], "in the gap"),
        (["samples", "edf/odd_ranges.EDF", "--to", "s2", "--physical", "--header"], "negative gain"),
    ],
)
def test_the_command_line_takes_edf_records(arguments, wanted, tmp_path):
    done = run_sigtrove(*arguments, cwd=RECORDS)
    assert done.returncode == 0, done.stderr
    assert wanted in done.stdout


def test_a_strip_chart_of_an_edf_record(tmp_path):
    from sigtrove.plot import strip_chart

    figure = strip_chart(str(EDF_FIXTURES / "rates_annotations.edf"), 0, 40, annotator="edf")
    assert len(figure.axes) == 5
    done = run_sigtrove("plot", "edf/bdfplus.bdf", "--output", tmp_path / "chart.png", cwd=RECORDS)
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "chart.png").stat().st_size > 0


# ---- over HTTP with range reads


@pytest.mark.parametrize("name", ["edf/bdfplus.bdf", "edf/discontinuous.edf", "edf/texts.edf"])
def test_an_edf_record_read_by_its_url_equals_the_local_read(web_server, name):
    local = _sigtrove.Record(str(RECORDS / name))
    remote = _sigtrove.Record(web_server.url(name))
    assert remote.record == web_server.url(name)
    wanted, got = local.frames(), remote.frames()
    assert np.array_equal(np.isnan(wanted), np.isnan(got)) and np.array_equal(
        wanted[~np.isnan(wanted)], got[~np.isnan(got)]
    )
    local_notes = _sigtrove.Annotation(str(RECORDS / name), "edf").arrays()
    remote_notes = _sigtrove.Annotation(web_server.url(name), "edf").arrays()
    assert list(local_notes["aux"]) == list(remote_notes["aux"])


def test_a_window_of_a_remote_edf_file_reads_only_its_data_records(web_server):
    name = "edf/s0010_re.edf"  # 39 data records of 1 s, about 1.2 MB
    size = os.path.getsize(RECORDS / name)
    seen = len(web_server.requests())
    window = _sigtrove.Record(web_server.url(name)).frames("0:20", "0:22")
    assert window.shape == (2000, 15)
    fetched = sum(r[3] for r in web_server.requests()[seen:] if r[1] == "/" + name)
    assert 0 < fetched < size / 4


def test_the_download_command_mirrors_an_edf_record(web_server, tmp_path):
    done = run_sigtrove("download", web_server.url("edf"), "bdfplus.bdf", "xform.edf", "--to", tmp_path)
    assert done.returncode == 0, done.stderr
    for name in ("bdfplus.bdf", "xform.edf"):
        assert (tmp_path / name).read_bytes() == (EDF_FIXTURES / name).read_bytes()
    assert _sigtrove.Record(str(tmp_path / "xform.edf")).nsig == 4


def test_the_viewer_serves_an_edf_record_and_its_annotations(tmp_path):
    from viewer_client import Client

    from sigtrove.viewer import Viewer

    path = tmp_path / "gaps.edf"
    fast, _ = _discontinuous_file(path)
    with Viewer(str(path), ["edf"]) as running:
        client = Client(running.url)
        described = client.json("record")
        assert described["frequency"] == 2.0
        window = client.window(0, 11, 10**6)
        eeg = np.asarray(window.values[0], dtype=float)
        assert len(eeg) == 55 and np.isnan(eeg).sum() == 15  # the gaps, at the signal's own rate
        assert eeg[0] == np.float32(-1000.0)  # its stored -32768 is a sample
        notes = client.json("annotations", annotator="edf", start=0, stop=11)
        assert "in the gap" in str(notes)
