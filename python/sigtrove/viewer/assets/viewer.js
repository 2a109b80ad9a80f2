// The sigtrove viewer's page: asks its server (the address it was loaded from) for windows of a
// record and draws them on one canvas, a lane per signal. A window's frames per pixel column decide
// what the server sends: every sample when each frame has a column, else the lowest and highest value
// under each column, so that an hour draws as fast as a second. Nothing is fetched from anywhere else.
"use strict";

(function () {
  const GUTTER = 118; // the lanes' labels, left of the plot
  const RIGHT = 14;
  const BAND = 18; // an annotator's band of rhythm spans (and, zoomed out, counts of annotations)
  const AXIS = 30; // the time axis below the lanes
  const MIN_LANE = 72;
  const TRACE = "#123a7a";
  const ANNOTATOR_COLOURS = ["#c62828", "#2e7d32", "#6a1b9a", "#e65100", "#00838f"];
  const RHYTHM_FILLS = ["#fde2e2", "#e2f0fd", "#e5f7e0", "#fdf3d8", "#efe2fd", "#dff5f3"];
  // Tick spacings in seconds that a clock or a stopwatch reads at a glance.
  const STEPS = [0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600,
    900, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800];

  const canvas = document.getElementById("canvas");
  const chart = document.getElementById("chart");
  const tip = document.getElementById("tip");
  const status = document.getElementById("status");
  const context = canvas.getContext("2d");

  const view = {
    record: null,
    start: 0, // the first frame shown (fractional while moving)
    span: 0, // frames shown
    shown: [], // signal numbers, top to bottom
    data: null, // the last window answered, with what it was asked for
    notes: {}, // annotator -> its last answer
    mark: null, // the frame of the annotation last found
    busy: false,
    pending: false,
    drawn: 0,
    firstDrawnAt: null,
    requested: null,
    lanes: [],
    targets: [], // what the pointer can hover: annotations and rhythm spans
    error: null,
  };

  function get(name) {
    return fetch(name, { cache: "no-store" }).then(function (response) {
      if (response.ok) return response;
      return response.json().then(
        function (body) { throw new Error(body.error || response.statusText); },
        function () { throw new Error(response.status + " " + response.statusText); });
    });
  }

  function setStatus(text, isError) {
    status.textContent = text || "";
    status.classList.toggle("error", Boolean(isError));
  }

  // ---- times ----

  function twoDigits(n) { return (n < 10 ? "0" : "") + n; }

  function fraction(seconds, digits) {
    if (digits <= 0) return "";
    const text = (seconds - Math.floor(seconds)).toFixed(digits);
    return text.startsWith("1") ? "." + "9".repeat(digits) : text.slice(1);
  }

  function digitsFor(step) { return step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3; }

  // Seconds from the record's start as the WFDB tools write them: m:ss or h:mm:ss.
  function elapsedText(seconds, digits) {
    const whole = Math.floor(seconds + 1e-9);
    const hours = Math.floor(whole / 3600), minutes = Math.floor(whole / 60) % 60;
    const head = hours ? hours + ":" + twoDigits(minutes) : String(minutes);
    return head + ":" + twoDigits(whole % 60) + fraction(seconds + 1e-9, digits);
  }

  // A time of day (seconds after the base date's midnight; past a day, on a later date).
  function clockText(seconds, digits) {
    const ofDay = ((seconds % 86400) + 86400) % 86400;
    const whole = Math.floor(ofDay + 1e-9);
    return twoDigits(Math.floor(whole / 3600)) + ":" + twoDigits(Math.floor(whole / 60) % 60) + ":" +
      twoDigits(whole % 60) + fraction(ofDay + 1e-9, digits);
  }

  function dateText(seconds) {
    const base = view.record.base;
    if (!base.date) return "";
    const day = new Date(base.date + "T00:00:00Z");
    day.setUTCDate(day.getUTCDate() + Math.floor(seconds / 86400));
    return day.toISOString().slice(0, 10) + " ";
  }

  function hasClock() { return view.record.base.seconds !== null; }

  // The axis's seconds of a frame: the time of day, or seconds from the start.
  function axisSeconds(frame) {
    const seconds = frame / view.record.frequency;
    return hasClock() ? view.record.base.seconds + seconds : seconds;
  }

  function timeText(frame, digits) {
    const seconds = axisSeconds(frame);
    return hasClock() ? clockText(seconds, digits) : elapsedText(seconds, digits);
  }

  function durationText(frames) {
    const seconds = frames / view.record.frequency;
    if (seconds < 60) return (+seconds.toPrecision(3)) + " s";
    if (seconds < 3600) return (+(seconds / 60).toPrecision(3)) + " min";
    return (+(seconds / 3600).toPrecision(3)) + " h";
  }

  // ---- layout ----

  function annotators() { return view.record.annotators; }

  function plotWidth() { return Math.max(canvas.clientWidth - GUTTER - RIGHT, 50); }

  function layout() {
    const shownCount = Math.max(view.shown.length, 1);
    const bands = annotators().length * BAND;
    const available = chart.clientHeight - bands - AXIS - 4;
    const lane = Math.max(MIN_LANE, Math.floor(available / shownCount));
    const height = bands + lane * shownCount + AXIS + 4;
    const width = chart.clientWidth;
    const ratio = window.devicePixelRatio || 1;
    if (canvas.width !== Math.round(width * ratio) || canvas.height !== Math.round(height * ratio)) {
      canvas.style.width = width + "px";
      canvas.style.height = height + "px";
      canvas.width = Math.round(width * ratio);
      canvas.height = Math.round(height * ratio);
    }
    context.setTransform(ratio, 0, 0, ratio, 0, 0);
    view.lanes = view.shown.map(function (signal, i) {
      return { signal: signal, top: bands + i * lane, height: lane };
    });
    view.bandsHeight = bands;
    view.axisTop = bands + lane * view.shown.length;
  }

  function xOf(frame) { return GUTTER + (frame - view.start) / view.span * plotWidth(); }

  function frameAt(x) { return view.start + (x - GUTTER) / plotWidth() * view.span; }

  // ---- the view ----

  function minimumSpan() {
    return Math.min(view.record.frames, Math.max(2, view.record.frequency));
  }

  function setView(start, span) {
    const frames = view.record.frames;
    span = Math.min(Math.max(span, minimumSpan()), frames);
    start = Math.min(Math.max(start, 0), frames - span);
    view.start = start;
    view.span = span;
    const place = "#start=" + Math.round(start) + "&span=" + Math.round(span) + "&signals=" + view.shown.join(",");
    if (location.hash !== place) history.replaceState(null, "", place);
    draw();
    refresh();
  }

  function zoom(factor, anchorFrame) {
    const anchor = anchorFrame === undefined ? view.start + view.span / 2 : anchorFrame;
    const span = Math.min(Math.max(view.span * factor, minimumSpan()), view.record.frames);
    setView(anchor - (anchor - view.start) * span / view.span, span);
  }

  function pan(part) { setView(view.start + part * view.span, view.span); }

  // What to ask the server for: the view and half a view either side, at the view's pixels.
  function wantedWindow() {
    const frames = view.record.frames;
    const pixels = plotWidth() * (window.devicePixelRatio || 1);
    const first = Math.max(0, Math.floor(view.start - view.span / 2));
    const last = Math.min(frames, Math.ceil(view.start + view.span * 1.5));
    const columns = Math.max(1, Math.min(view.record.max_columns, Math.round((last - first) / view.span * pixels)));
    return { start: first, stop: last, columns: columns, signals: view.shown.slice(), density: (last - first) / columns };
  }

  function dataFits(data) {
    if (!data || !data.complete) return false;
    const wanted = wantedWindow();
    const sameSignals = view.shown.every(function (s) { return data.series.has(s); });
    const sameDensity = Math.abs(data.asked.density / wanted.density - 1) < 0.02;
    const end = Math.min(view.record.frames, Math.ceil(view.start + view.span));
    return sameSignals && sameDensity && data.asked.start <= Math.floor(view.start) && data.asked.stop >= end;
  }

  function refresh() {
    if (view.busy) {
      view.pending = true;
      return;
    }
    if (dataFits(view.data)) return;
    const wanted = wantedWindow();
    view.busy = true;
    view.requested = wanted;
    const query = "start=" + wanted.start + "&stop=" + wanted.stop + "&columns=" + wanted.columns;
    const asks = [get("window?" + query + "&signals=" + wanted.signals.join(",")).then(function (r) {
      return r.arrayBuffer();
    })];
    for (const annotator of annotators()) {
      asks.push(get("annotations?annotator=" + encodeURIComponent(annotator.name) + "&" + query).then(function (r) {
        return r.json();
      }));
    }
    Promise.all(asks).then(function (answers) {
      view.data = readWindow(answers[0], wanted);
      view.notes = {};
      annotators().forEach(function (annotator, i) { view.notes[annotator.name] = answers[i + 1]; });
      view.error = null;
      if (view.data.complete) {
        setStatus("");
      } else {
        setStatus("reading the record for its overview: " + Math.round(100 * view.data.progress) + "%");
      }
      view.drawn += 1;
      draw();
      if (view.firstDrawnAt === null) view.firstDrawnAt = performance.now();
    }, function (error) {
      view.error = error.message;
      setStatus(error.message, true);
    }).then(function () {
      view.busy = false;
      const again = view.pending || (view.data && !view.data.complete);
      view.pending = false;
      if (view.data && !view.data.complete && !view.error) {
        setTimeout(refresh, 300);
      } else if (again && !view.error) {
        refresh();
      }
    });
  }

  // A window as the server sends it: a 32-bit length, a JSON header, then 32-bit floats.
  function readWindow(buffer, asked) {
    const length = new DataView(buffer).getUint32(0, true);
    const header = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, length)));
    let offset = 4 + length;
    const series = new Map();
    for (const s of header.signals) {
      const count = header.stretch ? 2 * s.count : s.count;
      series.set(s.signal, new Float32Array(buffer, offset, count));
      offset += 4 * count;
    }
    return {
      start: header.start, stop: header.stop, stretch: header.stretch, complete: header.complete,
      progress: header.progress, series: series, asked: asked,
    };
  }

  // ---- drawing ----

  // Calls visit(frame, low, high) for each sample or bin of a signal that lies in frames [a, b).
  function eachPoint(data, signal, a, b, visit) {
    const values = data.series.get(signal);
    if (!values) return;
    if (data.stretch) {
      const s = data.stretch;
      const first = Math.max(0, Math.floor((a - data.start) / s));
      const last = Math.min(values.length / 2, Math.ceil((b - data.start) / s));
      for (let j = first; j < last; j++) visit(data.start + (j + 0.5) * s, values[2 * j], values[2 * j + 1]);
    } else {
      const spf = view.record.signals[signal].samples_per_frame;
      const first = Math.max(0, Math.floor((a - data.start) * spf));
      const last = Math.min(values.length, Math.ceil((b - data.start) * spf));
      for (let j = first; j < last; j++) visit(data.start + j / spf, values[j], values[j]);
    }
  }

  function laneRange(data, signal) {
    let low = Infinity, high = -Infinity;
    eachPoint(data, signal, view.start, view.start + view.span, function (frame, lo, hi) {
      if (lo < low) low = lo;
      if (hi > high) high = hi;
    });
    if (!(low <= high)) return null;
    if (high - low < 1e-9 * Math.max(1, Math.abs(high))) {
      const pad = Math.abs(high) * 0.05 || 1;
      return { low: low - pad, high: high + pad };
    }
    return { low: low, high: high };
  }

  function numberText(value, range) {
    const digits = Math.max(0, Math.min(6, 2 - Math.floor(Math.log10(Math.max(range, 1e-12)))));
    return value.toFixed(digits);
  }

  function chooseStep(seconds, width) {
    for (const step of STEPS) if (seconds / step <= width / 95) return step;
    return STEPS[STEPS.length - 1];
  }

  function draw() {
    if (!view.record) return;
    layout();
    const width = canvas.clientWidth;
    const plot = plotWidth();
    context.clearRect(0, 0, width, canvas.clientHeight);
    context.fillStyle = "#fff";
    context.fillRect(0, 0, width, canvas.clientHeight);
    view.targets = [];

    // Time ticks and their grid lines, at round times of the axis's clock.
    const firstSeconds = axisSeconds(view.start);
    const spanSeconds = view.span / view.record.frequency;
    const step = chooseStep(spanSeconds, plot);
    const digits = digitsFor(step);
    context.font = "12px system-ui, 'DejaVu Sans', sans-serif";
    context.textAlign = "center";
    context.textBaseline = "top";
    for (let t = Math.ceil(firstSeconds / step - 1e-9) * step; t <= firstSeconds + spanSeconds + 1e-9; t += step) {
      const x = GUTTER + (t - firstSeconds) / spanSeconds * plot;
      context.strokeStyle = "#e4e4e4";
      context.beginPath();
      context.moveTo(Math.round(x) + 0.5, 0);
      context.lineTo(Math.round(x) + 0.5, view.axisTop);
      context.stroke();
      context.strokeStyle = "#888";
      context.beginPath();
      context.moveTo(Math.round(x) + 0.5, view.axisTop);
      context.lineTo(Math.round(x) + 0.5, view.axisTop + 5);
      context.stroke();
      context.fillStyle = "#333";
      const label = hasClock() ? clockText(t, digits) : elapsedText(t, digits);
      const half = context.measureText(label).width / 2;
      context.fillText(label, Math.min(x, width - half - 4), view.axisTop + 7);
    }
    context.textAlign = "left";
    context.fillStyle = "#666";
    context.fillText(hasClock() ? "time of day" : "time", 8, view.axisTop + 7);

    annotators().forEach(function (annotator, i) { drawBand(annotator, i); });
    for (const lane of view.lanes) drawLane(lane);
    annotators().forEach(function (annotator, i) { drawAnnotations(annotator, i); });

    if (view.mark !== null) {
      const x = Math.round(xOf(view.mark)) + 0.5;
      if (x >= GUTTER && x <= GUTTER + plot) {
        context.save();
        context.setLineDash([4, 3]);
        context.strokeStyle = "#ef6c00";
        context.beginPath();
        context.moveTo(x, 0);
        context.lineTo(x, view.axisTop);
        context.stroke();
        context.restore();
      }
    }
    context.strokeStyle = "#bbb";
    context.strokeRect(GUTTER + 0.5, 0.5, plot, view.axisTop);

    const end = view.start + view.span;
    const date = hasClock() ? dateText(axisSeconds(view.start)) : "";
    document.getElementById("window-text").textContent =
      date + timeText(view.start, 3) + " \u2013 " + timeText(end, 3) + " (" + durationText(view.span) + ")";
  }

  function drawLane(lane) {
    const signal = view.record.signals[lane.signal];
    const plot = plotWidth();
    context.strokeStyle = "#d0d0d0";
    context.beginPath();
    context.moveTo(0, lane.top + lane.height + 0.5);
    context.lineTo(GUTTER + plot, lane.top + lane.height + 0.5);
    context.stroke();
    context.textAlign = "left";
    context.textBaseline = "top";
    context.fillStyle = "#222";
    context.font = "bold 13px system-ui, 'DejaVu Sans', sans-serif";
    context.fillText(clip(signal.name || "signal " + lane.signal, 15), 8, lane.top + 6);
    context.font = "12px system-ui, 'DejaVu Sans', sans-serif";
    context.fillStyle = "#666";
    if (signal.units) context.fillText(clip(signal.units, 15), 8, lane.top + 22);

    const data = view.data;
    const range = data ? laneRange(data, lane.signal) : null;
    lane.range = range;
    if (!range) {
      context.fillStyle = "#999";
      context.fillText(data ? "no valid samples here" : "", GUTTER + 8, lane.top + lane.height / 2 - 6);
      return;
    }
    const pad = Math.min(16, lane.height * 0.14);
    lane.yHigh = lane.top + pad;
    lane.yLow = lane.top + lane.height - pad / 2;
    const scale = (lane.yLow - lane.yHigh) / (range.high - range.low);
    function y(v) { return lane.yHigh + (range.high - v) * scale; }
    context.textBaseline = "middle";
    context.textAlign = "right";
    context.fillStyle = "#888";
    context.font = "11px system-ui, 'DejaVu Sans', sans-serif";
    context.fillText(numberText(range.high, range.high - range.low), GUTTER - 5, lane.yHigh);
    context.fillText(numberText(range.low, range.high - range.low), GUTTER - 5, lane.yLow);

    context.save();
    context.beginPath();
    context.rect(GUTTER, lane.top, plot, lane.height);
    context.clip();
    context.strokeStyle = TRACE;
    context.lineWidth = 1.2;
    context.lineJoin = "round";
    context.beginPath();
    let drawing = false;
    const margin = view.span / plot * 2;
    eachPoint(data, lane.signal, view.start - margin, view.start + view.span + margin, function (frame, lo, hi) {
      if (lo !== lo || hi !== hi) {
        drawing = false;
        return;
      }
      const x = xOf(frame);
      if (!drawing) {
        // A stub to the left: a lone sample or bin between gaps still shows.
        context.moveTo(x - 0.75, y(lo));
        context.lineTo(x, y(lo));
        drawing = true;
      } else {
        context.lineTo(x, y(lo));
      }
      if (hi !== lo) context.lineTo(x, y(hi));
    });
    context.stroke();
    context.restore();
  }

  function clip(text, characters) {
    return text.length > characters ? text.slice(0, characters - 1) + "\u2026" : text;
  }

  // The value drawn at a frame: its sample's, or the highest of its bin.
  function valueAt(signal, frame) {
    const data = view.data;
    const values = data && data.series.get(signal);
    if (!values) return NaN;
    if (data.stretch) {
      const j = Math.floor((frame - data.start) / data.stretch);
      return j >= 0 && 2 * j + 1 < values.length ? values[2 * j + 1] : NaN;
    }
    const spf = view.record.signals[signal].samples_per_frame;
    const j = Math.round((frame - data.start) * spf);
    return j >= 0 && j < values.length ? values[j] : NaN;
  }

  function laneOf(chan) {
    return view.lanes.find(function (lane) { return lane.signal === chan; }) || view.lanes[0];
  }

  function drawBand(annotator, index) {
    const top = index * BAND;
    const notes = view.notes[annotator.name];
    const colour = ANNOTATOR_COLOURS[index % ANNOTATOR_COLOURS.length];
    const plot = plotWidth();
    context.textBaseline = "middle";
    context.textAlign = "left";
    context.font = "12px system-ui, 'DejaVu Sans', sans-serif";
    context.fillStyle = colour;
    context.fillText(clip(annotator.name, 16), 8, top + BAND / 2);
    context.strokeStyle = "#e0e0e0";
    context.beginPath();
    context.moveTo(GUTTER, top + BAND + 0.5);
    context.lineTo(GUTTER + plot, top + BAND + 0.5);
    context.stroke();
    if (!notes) return;
    context.save();
    context.beginPath();
    context.rect(GUTTER, top, plot, BAND);
    context.clip();
    for (const [start, stop, label] of notes.rhythms) {
      const x0 = Math.max(GUTTER, xOf(start)), x1 = Math.min(GUTTER + plot, xOf(stop));
      if (x1 <= x0) continue;
      context.fillStyle = RHYTHM_FILLS[hash(label) % RHYTHM_FILLS.length];
      context.fillRect(x0, top + 1, x1 - x0, BAND - 2);
      context.strokeStyle = "#999";
      context.strokeRect(Math.round(x0) + 0.5, top + 1.5, Math.max(1, Math.round(x1 - x0) - 1), BAND - 3);
      if (x1 - x0 > 14) {
        context.fillStyle = "#333";
        context.fillText(clip(label, Math.max(1, Math.floor((x1 - x0 - 6) / 7))), x0 + 3, top + BAND / 2);
      }
      view.targets.push({ x0: x0, x1: x1, y0: top, y1: top + BAND, text: annotator.name + " rhythm " + label +
        "\nfrom " + timeText(start, 3) + " to " + timeText(stop, 3) });
    }
    if (notes.kind === "counts") {
      const most = Math.max.apply(null, notes.counts.concat([1]));
      context.fillStyle = colour;
      notes.counts.forEach(function (n, j) {
        if (!n) return;
        const x = xOf(notes.first + (j + 0.5) * notes.stretch);
        context.globalAlpha = 0.25 + 0.75 * n / most;
        context.fillRect(Math.floor(x), top + BAND - 6, 1, 5);
      });
      context.globalAlpha = 1;
    }
    context.restore();
  }

  function drawAnnotations(annotator, index) {
    const notes = view.notes[annotator.name];
    if (!notes || notes.kind !== "list" || !view.lanes.length) return;
    const colour = ANNOTATOR_COLOURS[index % ANNOTATOR_COLOURS.length];
    const plot = plotWidth();
    const visible = [];
    notes.time.forEach(function (time, i) {
      const x = xOf(time);
      if (x >= GUTTER - 1 && x <= GUTTER + plot + 1) visible.push(i);
    });
    // Symbols while they stand apart; thin marks at their times when they would overlap.
    const asSymbols = visible.length <= plot / 9;
    context.font = "bold 12px system-ui, 'DejaVu Sans', sans-serif";
    context.textAlign = "center";
    context.textBaseline = "bottom";
    context.fillStyle = colour;
    context.strokeStyle = colour;
    const ends = new Map(); // lane -> the right end of the last text written on it
    for (const i of visible) {
      const time = notes.time[i];
      const lane = laneOf(notes.chan[i]);
      const x = xOf(time);
      const aux = notes.aux[String(i)];
      let text = notes.symbol[i];
      if (text === "\"" && aux) text = clip(aux, 14);
      let y;
      const half = context.measureText(text).width / 2;
      // A text that would run into the one before it is a mark instead.
      if (asSymbols && x - half >= (ends.has(lane) ? ends.get(lane) : -Infinity) + 2) {
        ends.set(lane, x + half);
        const value = lane.range ? valueAt(lane.signal, time) : NaN;
        // Above the line at its time; a second annotator's symbols above the first's.
        y = value === value ? lane.yHigh + (lane.range.high - value) * (lane.yLow - lane.yHigh) /
          (lane.range.high - lane.range.low) - 4 - 14 * index : lane.top + 16 + 14 * index;
        y = Math.min(Math.max(y, lane.top + 14), lane.top + lane.height - 2);
        context.fillText(text, x, y);
      } else {
        y = lane.top + 7;
        context.fillRect(Math.round(x), lane.top + 1, 1, 6);
      }
      view.targets.push({ x0: x - 5, x1: x + 5, y0: y - 14, y1: y + 2, text: annotator.name + " " + notes.symbol[i] +
        " at " + timeText(time, 3) + " (sample " + time + ")" + (aux ? "\n" + aux : "") });
    }
  }

  function hash(text) {
    let h = 0;
    for (let i = 0; i < text.length; i++) h = (h * 31 + text.charCodeAt(i)) >>> 0;
    return h;
  }

  // ---- controls ----

  function buildControls() {
    const record = view.record;
    document.title = "record " + record.name + " \u2013 sigtrove view";
    document.getElementById("title").textContent = "record " + record.name;
    const box = document.getElementById("signals");
    record.signals.forEach(function (signal, i) {
      const label = document.createElement("label");
      const check = document.createElement("input");
      check.type = "checkbox";
      check.checked = view.shown.indexOf(i) >= 0;
      check.dataset.signal = String(i);
      check.addEventListener("change", function () {
        view.shown = Array.from(box.querySelectorAll("input:checked")).map(function (c) { return +c.dataset.signal; });
        setView(view.start, view.span);
      });
      label.appendChild(check);
      label.appendChild(document.createTextNode(" " + (signal.name || "signal " + i) +
        (signal.units ? " (" + signal.units + ")" : "")));
      box.appendChild(label);
    });

    const types = document.getElementById("find-type");
    for (const annotator of record.annotators) {
      const symbols = Object.keys(annotator.counts).sort(function (a, b) {
        return annotator.counts[b] - annotator.counts[a];
      });
      for (const symbol of symbols) {
        const option = document.createElement("option");
        option.value = JSON.stringify([annotator.name, symbol]);
        option.textContent = annotator.name + ": " + symbol + " (" + annotator.counts[symbol] + ")";
        types.appendChild(option);
      }
    }
    document.getElementById("find").hidden = types.options.length === 0;

    document.getElementById("whole").addEventListener("click", function () { setView(0, record.frames); });
    document.getElementById("zoom-in").addEventListener("click", function () { zoom(0.5); });
    document.getElementById("zoom-out").addEventListener("click", function () { zoom(2); });
    document.getElementById("back").addEventListener("click", function () { pan(-0.25); });
    document.getElementById("forward").addEventListener("click", function () { pan(0.25); });
    document.getElementById("find-previous").addEventListener("click", function () { find(-1); });
    document.getElementById("find-next").addEventListener("click", function () { find(1); });
    document.getElementById("jump").addEventListener("submit", function (event) {
      event.preventDefault();
      const text = document.getElementById("jump-time").value.trim();
      if (!text) return;
      get("time?text=" + encodeURIComponent(text)).then(function (r) { return r.json(); }).then(function (answer) {
        setStatus("");
        setView(answer.frame, view.span);
      }, function (error) { setStatus(error.message, true); });
    });

    document.addEventListener("keydown", function (event) {
      const target = event.target;
      if (target instanceof HTMLInputElement && target.type === "text" || target instanceof HTMLSelectElement) return;
      const moves = {
        ArrowLeft: function () { pan(event.shiftKey ? -1 : -0.25); },
        ArrowRight: function () { pan(event.shiftKey ? 1 : 0.25); },
        ArrowUp: function () { zoom(0.5); },
        ArrowDown: function () { zoom(2); },
        "+": function () { zoom(0.5); },
        "=": function () { zoom(0.5); },
        "-": function () { zoom(2); },
        Home: function () { setView(0, view.span); },
        End: function () { setView(record.frames, view.span); },
        PageUp: function () { pan(-1); },
        PageDown: function () { pan(1); },
      };
      const move = moves[event.key];
      if (move && !event.altKey && !event.ctrlKey && !event.metaKey) {
        event.preventDefault();
        move();
      }
    });

    let drag = null;
    canvas.addEventListener("pointerdown", function (event) {
      if (event.button !== 0) return;
      drag = { x: event.clientX, start: view.start };
      canvas.setPointerCapture(event.pointerId);
      canvas.classList.add("dragging");
    });
    canvas.addEventListener("pointermove", function (event) {
      if (drag) {
        setView(drag.start - (event.clientX - drag.x) / plotWidth() * view.span, view.span);
        tip.hidden = true;
      } else {
        hover(event);
      }
    });
    function endDrag() {
      drag = null;
      canvas.classList.remove("dragging");
    }
    canvas.addEventListener("pointerup", endDrag);
    canvas.addEventListener("pointercancel", endDrag);
    canvas.addEventListener("pointerleave", function () { tip.hidden = true; });
    canvas.addEventListener("wheel", function (event) {
      event.preventDefault();
      const rect = canvas.getBoundingClientRect();
      const lines = event.deltaMode === 1 ? 16 : event.deltaMode === 2 ? 400 : 1;
      zoom(Math.exp(event.deltaY * lines * 0.002), frameAt(event.clientX - rect.left));
    }, { passive: false });
    window.addEventListener("resize", function () { setView(view.start, view.span); });
  }

  function hover(event) {
    const rect = canvas.getBoundingClientRect();
    const x = event.clientX - rect.left, y = event.clientY - rect.top;
    const target = view.targets.find(function (t) { return x >= t.x0 && x <= t.x1 && y >= t.y0 && y <= t.y1; });
    if (!target) {
      tip.hidden = true;
      return;
    }
    tip.textContent = target.text;
    tip.hidden = false;
    tip.style.left = Math.min(x + 12, chart.clientWidth - 260) + "px";
    tip.style.top = (y + chart.scrollTop + 14) + "px";
  }

  function find(direction) {
    const choice = document.getElementById("find-type").value;
    if (!choice) return;
    const [annotator, symbol] = JSON.parse(choice);
    const centre = Math.round(view.mark !== null && Math.abs(view.mark - (view.start + view.span / 2)) < 1 ?
      view.mark : view.start + view.span / 2);
    const where = (direction > 0 ? "&after=" : "&before=") + centre;
    get("find?annotator=" + encodeURIComponent(annotator) + "&symbol=" + encodeURIComponent(symbol) + where)
      .then(function (r) { return r.json(); }).then(function (answer) {
        if (answer.time === null) {
          setStatus("no " + (direction > 0 ? "later " : "earlier ") + symbol + " of " + annotator);
          return;
        }
        setStatus("");
        view.mark = answer.time;
        setView(answer.time - view.span / 2, view.span);
      }, function (error) { setStatus(error.message, true); });
  }

  function readPlace(record) {
    const place = new URLSearchParams(location.hash.slice(1));
    const span = Number(place.get("span"));
    const start = Number(place.get("start"));
    const shown = (place.get("signals") || "").split(",").filter(function (w) { return w !== ""; }).map(Number)
      .filter(function (s) { return Number.isInteger(s) && s >= 0 && s < record.signals.length; });
    return {
      span: span > 0 ? span : Math.min(record.frames, Math.max(10 * record.frequency, 50)),
      start: start >= 0 ? start : 0,
      shown: place.has("signals") ? shown : record.signals.map(function (_, i) { return i; }),
    };
  }

  // What the page shows, for the tests that drive it and for a look from the browser's console.
  window.sigtroveViewer = {
    state: function () {
      return {
        start: view.start,
        span: view.span,
        frames: view.record ? view.record.frames : null,
        plot: { left: GUTTER, width: plotWidth(), axisTop: view.axisTop },
        lanes: view.lanes.map(function (lane) {
          return {
            signal: lane.signal, top: lane.top, height: lane.height, yHigh: lane.yHigh, yLow: lane.yLow,
            high: lane.range ? lane.range.high : null, low: lane.range ? lane.range.low : null,
          };
        }),
        drawn: view.drawn,
        settled: Boolean(view.record) && !view.busy && dataFits(view.data),
        requested: view.requested,
        firstDrawnAt: view.firstDrawnAt,
        mark: view.mark,
        error: view.error,
      };
    },
  };

  get("record").then(function (r) { return r.json(); }).then(function (record) {
    view.record = record;
    if (record.frames === 0) {
      setStatus("record " + record.name + " has no frames", true);
      return;
    }
    const place = readPlace(record);
    view.shown = place.shown;
    buildControls();
    setView(place.start, place.span);
  }, function (error) { setStatus(error.message, true); });
})();
