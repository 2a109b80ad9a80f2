#include "edf_writing.h"

#include <climits>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "engine_errors.h"
#include "writers/edf_copy.h"
#include "writers/edf_writer.h"
#include "writers/signal_scale.h"
#include "writers/writable_formats.h"

namespace sigtrove {
namespace {

// The annotations argument (None, or what Annotation.arrays() returns) as the
// engine's: sigtrove._writing lays out their times, texts and durations.
bool annotations_of(PyObject *annotations, std::vector<engine::EdfAnnotationAtFrame> &out) {
    if (annotations == Py_None) return true;
    PyRef writing = PyRef::steal(PyImport_ImportModule("sigtrove._writing"));
    if (!writing) return false;
    PyRef columns = PyRef::steal(PyObject_CallMethod(writing.get(), "_edf_annotation_columns", "O", annotations));
    if (!columns) return false;
    PyObject *times = nullptr, *texts = nullptr, *durations = nullptr;
    if (!PyArg_ParseTuple(columns.get(), "OOO", &times, &texts, &durations)) return false;
    HeldBuffers buffers;
    const Py_buffer *view = buffers.hold(times, 'q');
    if (view == nullptr) return false;
    const auto n = static_cast<Py_ssize_t>(view->len / 8);
    PyRef text_items = items_of(texts, n, "annotation texts"), duration_items = items_of(durations, n, "durations");
    if (!text_items || !duration_items) return false;
    const auto *frames = static_cast<const std::int64_t *>(view->buf);
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        engine::EdfAnnotationAtFrame a;
        a.frame = frames[i];
        if (!utf8_of(PySequence_Fast_GET_ITEM(text_items.get(), i), a.text)) return false;
        std::optional<double> seconds;
        if (!optional_number(PySequence_Fast_GET_ITEM(duration_items.get(), i), seconds)) return false;
        if (seconds && !std::isnan(*seconds)) {
            if (!(*seconds >= 0) || *seconds > 9e9) {
                PyErr_Format(PyExc_ValueError, "annotation %zd: a duration of %R seconds can not be written", i,
                             PySequence_Fast_GET_ITEM(duration_items.get(), i));
                return false;
            }
            a.duration = static_cast<std::int64_t>(std::llround(*seconds * 1e9));
        }
        out.push_back(std::move(a));
    }
    return true;
}

bool optional_text(PyObject *arg, const char *what, std::optional<std::string> &out) {
    if (arg == Py_None) return true;
    if (!PyUnicode_Check(arg)) {
        PyErr_Format(PyExc_TypeError, "%s is a str, not %.200s", what, Py_TYPE(arg)->tp_name);
        return false;
    }
    std::string text;
    if (!utf8_of(arg, text)) return false;
    out = std::move(text);
    return true;
}

engine::EdfKind kind_of(const Destination &destination) {
    return destination.kind == DestinationKind::bdf ? engine::EdfKind::bdf : engine::EdfKind::edf;
}

}  // namespace

PyObject *record_write_edf(RecordEngine &engine, const Destination &destination, const EdfWindow &window,
                           PyObject *annotations, PyObject *patient, PyObject *recording, bool overwrite,
                           PyObject *progress) {
    engine::EdfCopyRequest request;
    request.name = destination.name;
    request.kind = kind_of(destination);
    request.start = window.start;
    request.stop = window.stop;
    request.signals = window.signals;
    if (!annotations_of(annotations, request.annotations) || !optional_text(patient, "patient", request.patient) ||
        !optional_text(recording, "recording", request.recording))
        return nullptr;

    // As Record.write's WFDB copies: under the record's lock, the interpreter's taken back between blocks.
    bool stopped = false;
    engine::Status status = engine.with_record([&](engine::Record &record) {
        std::unique_ptr<engine::EdfCopy> copy;
        engine::Status begun =
            engine::EdfCopy::begin(record, destination.directory, std::move(request), overwrite, copy);
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

PyObject *module_write_edf(PyObject *, PyObject *args, PyObject *kwargs) {
    static const char *keywords[] = {
        "path",      "frequency", "columns",  "frames",    "samples_per_frame", "names",   "units",     "gains",
        "baselines", "base",      "physical", "overwrite", "annotations",       "patient", "recording", nullptr};
    PyObject *path = nullptr, *columns = nullptr, *spf = nullptr, *names = nullptr, *units = nullptr, *gains = nullptr,
             *baselines = nullptr, *base = nullptr, *annotations = nullptr, *patient = nullptr, *recording = nullptr;
    double frequency = 0;
    long long frames = 0;
    int physical = 1, overwrite = 0;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OdOLOOOOOOppOOO:_write_edf", const_cast<char **>(keywords), &path,
                                     &frequency, &columns, &frames, &spf, &names, &units, &gains, &baselines, &base,
                                     &physical, &overwrite, &annotations, &patient, &recording))
        return nullptr;
    Destination destination;
    if (!destination_of(path, destination)) return nullptr;
    if (destination.kind == DestinationKind::wfdb) {
        PyErr_Format(PyExc_ValueError, "%s is no EDF or BDF file name", destination.name.c_str());
        return nullptr;
    }
    if (frames < 0) {
        PyErr_SetString(PyExc_ValueError, "frames can not be negative");
        return nullptr;
    }
    engine::EdfFile file;
    file.name = destination.name;
    file.kind = kind_of(destination);
    file.frequency = frequency;
    file.frames = frames;
    file.stored_invalid = false;
    engine::NewRecord start;
    std::optional<std::string> patient_text;
    if (!base_time_of(base, start) || !annotations_of(annotations, file.annotations) ||
        !optional_text(patient, "patient", patient_text) || !optional_text(recording, "recording", file.recording))
        return nullptr;
    file.has_start = start.has_base;
    file.start_ms = start.base_ms;
    file.start_date = start.base_date;
    if (patient_text) file.patient = *patient_text;

    PyRef column_items = items_of(columns, -1, "columns must be a sequence");
    if (!column_items) return nullptr;
    const Py_ssize_t nsig = PySequence_Fast_GET_SIZE(column_items.get());
    PyRef spf_items = items_of(spf, nsig, "samples_per_frame"), name_items = items_of(names, nsig, "names"),
          unit_items = items_of(units, nsig, "units"), gain_items = items_of(gains, nsig, "gains"),
          baseline_items = items_of(baselines, nsig, "baselines");
    if (!spf_items || !name_items || !unit_items || !gain_items || !baseline_items) return nullptr;
    HeldBuffers buffers;
    std::vector<engine::SampleColumn> samples;
    // Physical values without a gain are spread over the range of the WFDB format of the same width.
    const engine::WritableFormat &range = *engine::writable_format(file.kind == engine::EdfKind::bdf ? 24 : 16);
    for (Py_ssize_t s = 0; s < nsig; ++s) {
        engine::EdfSignalToWrite signal;
        engine::SampleColumn column;
        if (!sample_column_of(PySequence_Fast_GET_ITEM(column_items.get(), s),
                              PySequence_Fast_GET_ITEM(spf_items.get(), s), s, frames, physical, buffers,
                              signal.samples_per_frame, column))
            return nullptr;
        samples.push_back(column);
        PyObject *name = PySequence_Fast_GET_ITEM(name_items.get(), s);
        if (name != Py_None && !utf8_of(name, signal.label)) return nullptr;
        PyObject *unit = PySequence_Fast_GET_ITEM(unit_items.get(), s);
        if (unit != Py_None && !utf8_of(unit, signal.dimension)) return nullptr;
        std::optional<double> gain;
        std::optional<int> baseline;
        if (!optional_number(PySequence_Fast_GET_ITEM(gain_items.get(), s), gain) ||
            !optional_number(PySequence_Fast_GET_ITEM(baseline_items.get(), s), baseline))
            return nullptr;
        if (physical && !(gain && baseline)) {
            const engine::SignalScale scale = engine::choose_signal_scale(
                static_cast<const double *>(column.first), static_cast<std::size_t>(frames),
                static_cast<std::size_t>(signal.samples_per_frame), column.stride, range, gain, baseline);
            gain = scale.gain;
            baseline = scale.baseline;
        }
        signal.gain = gain.value_or(WFDB_DEFGAIN);
        signal.baseline = baseline.value_or(0);
        file.signals.push_back(signal);
    }

    std::unique_ptr<engine::EdfWriter> writer;
    engine::Status status = without_interpreter_lock([&] {
        engine::WriteOptions options;
        options.overwrite = overwrite != 0;
        return engine::EdfWriter::create(destination.directory, file, options, writer);
    });
    if (!status.ok()) return raise_failure(status);
    std::vector<engine::SampleColumn> block(samples.size());
    for (long long first = 0; first < frames; first += kFramesPerBlock) {
        const auto count = static_cast<std::size_t>(std::min(kFramesPerBlock, frames - first));
        for (std::size_t s = 0; s < samples.size(); ++s) {
            block[s] = samples[s];
            block[s].first =
                static_cast<const char *>(samples[s].first) + static_cast<std::size_t>(first) * samples[s].stride * 8;
        }
        status = without_interpreter_lock([&] { return writer->put(count, block.data()); });
        if (!status.ok()) return raise_failure(status);
        if (!carry_on(nullptr, first + static_cast<long long>(count))) return nullptr;
    }
    status = without_interpreter_lock([&] { return writer->finish(); });
    if (!status.ok()) return raise_failure(status);
    Py_RETURN_NONE;
}

}  // namespace sigtrove
