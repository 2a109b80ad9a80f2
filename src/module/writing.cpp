// Writing records and annotation files through the engine's writers: the
// arguments become engine values here, the writing itself runs without the
// interpreter lock, a block at a time, and an interruption (Ctrl-C, or an
// exception from a progress callback) between blocks abandons the write, which
// leaves nothing under the new names.
#include "writing.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "annotation_object.h"
#include "edf_writing.h"
#include "engine_errors.h"
#include "record_object.h"
#include "time_texts.h"
#include "wfdb/wfdb.h"
#include "writers/annotation_writer.h"
#include "writers/new_record.h"
#include "writers/record_copy.h"
#include "writing_arguments.h"

namespace sigtrove {

PyObject *record_write(PyObject *obj, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"path",     "start",       "stop",    "signals",   "formats", "overwrite",
                                     "progress", "annotations", "patient", "recording", nullptr};
    PyObject *path = nullptr, *start_arg = nullptr, *stop_arg = nullptr, *signals_arg = nullptr, *formats_arg = nullptr,
             *progress = nullptr, *annotations = Py_None, *patient = Py_None, *recording = Py_None;
    int overwrite = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|OOOO$pOOOO:write", const_cast<char **>(keywords), &path,
                                     &start_arg, &stop_arg, &signals_arg, &formats_arg, &overwrite, &progress,
                                     &annotations, &patient, &recording))
        return nullptr;
    if (progress != nullptr && progress != Py_None && !PyCallable_Check(progress)) {
        PyErr_SetString(PyExc_TypeError, "progress must be None or a callable");
        return nullptr;
    }
    RecordEngine *engine = as_record(obj)->engine;
    if (engine == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the record was not opened");
        return nullptr;
    }
    const engine::RecordDescription &description = engine->description();
    Destination destination;
    if (!destination_of(path, destination)) return nullptr;
    const bool edf = destination.kind != DestinationKind::wfdb;
    if (edf && formats_arg != nullptr && formats_arg != Py_None) {
        PyErr_SetString(PyExc_ValueError,
                        "an EDF file's format is its name's (.edf 16-bit, .bdf 24-bit): formats "
                        "are for WFDB records");
        return nullptr;
    }
    if (!edf && (annotations != Py_None || patient != Py_None || recording != Py_None)) {
        PyErr_SetString(PyExc_TypeError, "annotations, patient and recording are written with EDF files only");
        return nullptr;
    }
    engine::CopyRequest request;
    request.name = destination.name;
    if (!chosen_signals(description, signals_arg, request.signals)) return nullptr;
    const std::size_t copied = request.signals.empty() ? description.header.signals.size() : request.signals.size();
    if (!chosen_formats(formats_arg, copied, request.formats)) return nullptr;
    long long frame_count = -1;
    engine::Status status = engine->with_record([&](engine::Record &record) {
        frame_count = record.frame_count();
        return engine::Status();
    });
    if (!status.ok()) return raise_failure(status);
    long long start = 0, stop = 0;
    if (!window_arguments(start_arg, stop_arg, description.time_basis(), frame_count, true, start, stop))
        return nullptr;
    request.start = start;
    request.stop = stop == LLONG_MAX ? -1 : stop;
    if (edf) {
        EdfWindow window{request.signals, request.start, request.stop};
        return record_write_edf(*engine, destination, window, annotations, patient, recording, overwrite != 0,
                                progress);
    }

    // The whole copy runs under the record's lock, so that nothing closes the record
    // meanwhile; between blocks the interpreter lock is taken back for a moment.
    bool stopped = false;
    status = engine->with_record([&](engine::Record &record) {
        std::unique_ptr<engine::RecordCopy> copy;
        engine::Status begun = engine::RecordCopy::begin(record, destination.directory, request, overwrite != 0, copy);
        if (!begun.ok()) return begun;
        for (bool done = false; !done;) {
            if (engine::Status step = copy->step(kFramesPerBlock, done); !step.ok()) return step;
            PyGILState_STATE state = PyGILState_Ensure();
            stopped = !carry_on(progress, copy->copied());
            PyGILState_Release(state);
            if (stopped) return engine::Status();
        }
        return copy->finish();
    });
    if (stopped) return nullptr;
    if (!status.ok()) return raise_failure(status);
    Py_RETURN_NONE;
}

PyObject *module_write_record(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"path",     "frequency", "columns",   "frames",    "samples_per_frame", "names",
                                     "units",    "formats",   "gains",     "baselines", "adc_resolutions",   "base",
                                     "comments", "physical",  "overwrite", nullptr};
    PyObject *path = nullptr, *columns = nullptr, *spf = nullptr, *names = nullptr, *units = nullptr,
             *formats = nullptr, *gains = nullptr, *baselines = nullptr, *resolutions = nullptr, *base = nullptr,
             *comments = nullptr;
    double frequency = 0;
    long long frames = 0;
    int physical = 1, overwrite = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OdOLOOOOOOOOOpp:_write_record", const_cast<char **>(keywords),
                                     &path, &frequency, &columns, &frames, &spf, &names, &units, &formats, &gains,
                                     &baselines, &resolutions, &base, &comments, &physical, &overwrite))
        return nullptr;
    Destination destination;
    if (!wfdb_destination_of(path, destination)) return nullptr;
    engine::NewRecord record;
    record.name = destination.name;
    record.frequency = frequency;
    record.frames = frames;
    if (frames < 0) {
        PyErr_SetString(PyExc_ValueError, "frames can not be negative");
        return nullptr;
    }
    if (!base_time_of(base, record)) return nullptr;
    PyRef comment_items = items_of(comments, -1, "comments must be a sequence of str");
    if (!comment_items) return nullptr;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(comment_items.get()); ++i) {
        std::string text;
        if (!utf8_of(PySequence_Fast_GET_ITEM(comment_items.get(), i), text)) return nullptr;
        record.comments.push_back(text);
    }

    PyRef column_items = items_of(columns, -1, "columns must be a sequence");
    if (!column_items) return nullptr;
    const Py_ssize_t nsig = PySequence_Fast_GET_SIZE(column_items.get());
    PyRef spf_items = items_of(spf, nsig, "samples_per_frame"), name_items = items_of(names, nsig, "names"),
          unit_items = items_of(units, nsig, "units"), format_items = items_of(formats, nsig, "formats"),
          gain_items = items_of(gains, nsig, "gains"), baseline_items = items_of(baselines, nsig, "baselines"),
          resolution_items = items_of(resolutions, nsig, "adc_resolutions");
    if (!spf_items || !name_items || !unit_items || !format_items || !gain_items || !baseline_items ||
        !resolution_items)
        return nullptr;
    HeldBuffers buffers;
    for (Py_ssize_t s = 0; s < nsig; ++s) {
        engine::NewSignal signal;
        if (!sample_column_of(PySequence_Fast_GET_ITEM(column_items.get(), s),
                              PySequence_Fast_GET_ITEM(spf_items.get(), s), s, frames, physical, buffers,
                              signal.samples_per_frame, signal.samples))
            return nullptr;
        PyObject *name = PySequence_Fast_GET_ITEM(name_items.get(), s);
        if (name != Py_None && !utf8_of(name, signal.name)) return nullptr;
        PyObject *unit = PySequence_Fast_GET_ITEM(unit_items.get(), s);
        if (unit != Py_None) {
            std::string text;
            if (!utf8_of(unit, text)) return nullptr;
            signal.units = text;
        }
        if (!optional_number(PySequence_Fast_GET_ITEM(format_items.get(), s), signal.format) ||
            !optional_number(PySequence_Fast_GET_ITEM(gain_items.get(), s), signal.gain) ||
            !optional_number(PySequence_Fast_GET_ITEM(baseline_items.get(), s), signal.baseline) ||
            !optional_number(PySequence_Fast_GET_ITEM(resolution_items.get(), s), signal.adc_resolution))
            return nullptr;
        record.signals.push_back(signal);
    }

    engine::Header layout;
    std::unique_ptr<engine::RecordWriter> writer;
    engine::Status status = without_interpreter_lock([&] {
        engine::Status planned = engine::plan_new_record(record, layout);
        if (!planned.ok()) return planned;
        engine::WriteOptions options;
        options.overwrite = overwrite != 0;
        return engine::RecordWriter::create(destination.directory, layout, options, writer);
    });
    if (!status.ok()) return raise_failure(status);
    for (long long first = 0; first < frames; first += kFramesPerBlock) {
        const auto count = static_cast<std::size_t>(std::min(kFramesPerBlock, frames - first));
        status = without_interpreter_lock([&] {
            std::vector<engine::SampleColumn> block = engine::new_record_block(record, first);
            return writer->put(count, block.data());
        });
        if (!status.ok()) return raise_failure(status);
        if (!carry_on(nullptr, first + static_cast<long long>(count))) return nullptr;
    }
    status = without_interpreter_lock([&] { return writer->finish(); });
    if (!status.ok()) return raise_failure(status);
    Py_RETURN_NONE;
}

PyObject *module_write_annotations(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"path", "annotator", "time",    "code",      "subtype",   "chan",
                                     "num",  "aux",       "symbols", "frequency", "overwrite", nullptr};
    PyObject *path = nullptr, *annotator_arg = nullptr, *time = nullptr, *code = nullptr, *subtype = nullptr,
             *chan = nullptr, *num = nullptr, *aux = nullptr, *symbols = nullptr, *frequency_arg = nullptr;
    int overwrite = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OUOOOOOOOOp:_write_annotations", const_cast<char **>(keywords),
                                     &path, &annotator_arg, &time, &code, &subtype, &chan, &num, &aux, &symbols,
                                     &frequency_arg, &overwrite))
        return nullptr;
    Destination destination;
    std::string annotator;
    if (!wfdb_destination_of(path, destination) || !engine_name(annotator_arg, annotator)) return nullptr;
    std::optional<double> frequency;
    if (!optional_number(frequency_arg, frequency)) return nullptr;

    HeldBuffers buffers;
    const Py_buffer *times = buffers.hold(time, 'q');
    if (times == nullptr) return nullptr;
    const auto n = static_cast<std::size_t>(times->len / 8);
    const std::int32_t *fields[4];
    PyObject *field_args[4] = {code, subtype, chan, num};
    for (int f = 0; f < 4; ++f) {
        const Py_buffer *view = buffers.hold(field_args[f], 'i');
        if (view == nullptr) return nullptr;
        if (static_cast<std::size_t>(view->len / 4) != n) {
            PyErr_SetString(PyExc_ValueError, "the annotation columns differ in length");
            return nullptr;
        }
        fields[f] = static_cast<const std::int32_t *>(view->buf);
    }
    PyRef aux_items = items_of(aux, static_cast<Py_ssize_t>(n), "aux"),
          symbol_items = items_of(symbols, static_cast<Py_ssize_t>(n), "symbols");
    if (!aux_items || !symbol_items) return nullptr;
    engine::AnnotationList list;
    std::vector<std::optional<std::string>> mnemonics(n);
    list.rows.resize(n);
    const auto *time_values = static_cast<const std::int64_t *>(times->buf);
    for (std::size_t i = 0; i < n; ++i) {
        engine::AnnotationRow &row = list.rows[i];
        row.time = time_values[i];
        row.code = fields[0][i];
        row.subtype = fields[1][i];
        row.channel = fields[2][i];
        row.number = fields[3][i];
        PyObject *text = PySequence_Fast_GET_ITEM(aux_items.get(), static_cast<Py_ssize_t>(i));
        if (text != Py_None) {
            char *bytes = nullptr;
            Py_ssize_t size = 0;
            if (PyBytes_AsStringAndSize(text, &bytes, &size) < 0) return nullptr;
            row.aux.emplace(bytes, static_cast<std::size_t>(size));
        }
        PyObject *symbol = PySequence_Fast_GET_ITEM(symbol_items.get(), static_cast<Py_ssize_t>(i));
        if (symbol != Py_None) {
            std::string mnemonic;
            if (!utf8_of(symbol, mnemonic)) return nullptr;
            mnemonics[i] = std::move(mnemonic);
        }
    }
    engine::Status status = without_interpreter_lock([&] {
        engine::Status resolved = engine::resolve_mnemonics(list.rows, mnemonics, list.definitions);
        if (!resolved.ok()) return resolved;
        if (frequency) {
            list.time_resolution = *frequency;
        } else {
            // Times in samples of the record: the note of its header's frequency, when it has one.
            engine::Status read =
                engine::header_frequency(destination.directory, destination.name, list.time_resolution);
            if (!read.ok()) return read;
        }
        return engine::write_annotation_file(destination.directory, destination.name, annotator, std::move(list),
                                             overwrite != 0);
    });
    if (!status.ok()) return raise_failure(status);
    Py_RETURN_NONE;
}

PyObject *module_copy_annotations(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {"annotation", "path",      "annotator", "start",
                                     "stop",       "frequency", "overwrite", nullptr};
    PyObject *annotation = nullptr, *path = nullptr, *annotator_arg = nullptr, *stop_arg = nullptr;
    long long start = 0;
    double frequency = 0;
    int overwrite = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O!OULOdp:_copy_annotations", const_cast<char **>(keywords),
                                     &AnnotationType, &annotation, &path, &annotator_arg, &start, &stop_arg, &frequency,
                                     &overwrite))
        return nullptr;
    Destination destination;
    std::string annotator;
    if (!wfdb_destination_of(path, destination) || !engine_name(annotator_arg, annotator)) return nullptr;
    std::optional<long long> stop;
    if (stop_arg != Py_None) {
        long long v = PyLong_AsLongLong(stop_arg);
        if (v == -1 && PyErr_Occurred()) return nullptr;
        stop = v;
    }
    AnnotationEngine *engine = as_annotation(annotation)->engine;
    if (engine == nullptr) {
        PyErr_SetString(PyExc_ValueError, "the annotation file was not opened");
        return nullptr;
    }
    engine::Status status = engine->with_file([&](engine::AnnotationFile &file) {
        return engine::copy_annotations(file, start, stop, destination.directory, destination.name, annotator,
                                        frequency, overwrite != 0);
    });
    if (!status.ok()) return raise_failure(status);
    Py_RETURN_NONE;
}

}  // namespace sigtrove
