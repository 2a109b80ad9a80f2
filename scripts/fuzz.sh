#!/usr/bin/env bash
# Builds the libFuzzer harnesses (tests/fuzz/) with clang into build/fuzz,
# replays every regression input, then fuzzes each harness for a fixed time.
#   scripts/fuzz.sh [SECONDS [HARNESS...]]
# SECONDS per harness (default 30; 0 only replays the regression corpora).
# Harnesses: header signals annotations flac edf writers python (default: all).
# Extra libFuzzer flags can be given in FUZZ_FLAGS (e.g. "-jobs=1 -workers=1").
# New findings are written to build/fuzz/artifacts/; copy each one into
# tests/fuzz/regressions/HARNESS/ with a unit test, so CI replays it for good.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
harnesses=("$@")
((${#harnesses[@]})) || harnesses=(header signals annotations flac edf writers python)

build=build/fuzz
mkdir -p "$build"
native=()
for h in "${harnesses[@]}"; do [ "$h" = python ] || native+=("fuzz_$h"); done
# The build speaks only when it fails.
if ! { CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DSIGTROVE_FUZZ=ON -DSIGTROVE_MODULE=OFF \
         -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       { ((${#native[@]} == 0)) || cmake --build "$build" -j 2 --target "${native[@]}"; }; } >"$build/build.log" 2>&1; then
  tail -n 60 "$build/build.log"
  exit 1
fi

records=tests/fixtures/records
# A seed is a choice byte (which fixed header or format the harness uses) followed by a file.
seed() {  # seed CORPUS NAME CHOICE-BYTE FILE
  local out="$1/$2"
  printf "\\x$(printf %02x "$3")" >"$out"
  head -c 16384 "$4" >>"$out"
}
make_seeds() {  # make_seeds HARNESS CORPUS
  local corpus=$2
  mkdir -p "$corpus"
  case $1 in
    header)
      for f in "$records"/*.hea "$records"/*/*.hea; do cp "$f" "$corpus/$(basename "$f")"; done ;;
    signals)
      # Choice bytes: see the header table in tests/fuzz/fuzz_signals.cpp.
      seed "$corpus" 212 0 "$records/100.dat"
      seed "$corpus" 212skew 1 "$records/100.dat"
      seed "$corpus" 16 2 "$records/test01_00s.dat"
      seed "$corpus" 16skew 3 "$records/test01_00s.dat"
      local i=4
      for d in 0 1 2 3 4 5 6 7 8 9; do seed "$corpus" "bin$d" $((i + d)) "$records/binformats.d$d"; done
      seed "$corpus" 310 14 "$records/310derive.dat"
      seed "$corpus" 311 15 "$records/311derive.dat"
      seed "$corpus" shared 16 "$records/100.dat" ;;
    annotations)
      for f in 100.atr 100.qrs 1003.atr 12726.wabp 12726.wqrs xform.wabp xform.all huge.qrs; do
        seed "$corpus" "$f" 2 "$records/$f"
      done
      for f in 100.aha 1003.aha; do seed "$corpus" "$f" 3 "$records/$f"; done ;;
    flac)
      for d in 0 1 2; do seed "$corpus" "flac$d" "$d" "$records/flacformats.d$d"; done ;;
    edf)
      # Choice byte 0 names the input r.edf, 1 r.BDF.
      for f in "$records"/edf/*; do
        case $f in *.bdf|*.BDF) choice=1 ;; *) choice=0 ;; esac
        seed "$corpus" "$(basename "$f")" "$choice" "$f"
      done ;;
    writers)
      # Choice bytes: the format (see tests/fuzz/fuzz_writers.cpp); the file's bytes are the values.
      for f in 0 1 7 8 9 12; do seed "$corpus" "values$f" "$f" "$records/100.dat"; done ;;
  esac
}

mkdir -p "$build/artifacts"
for h in "${harnesses[@]}"; do
  regressions=tests/fuzz/regressions/$h
  if [ "$h" = python ]; then
    # The module as scripts/setup.sh installed it; an AddressSanitizer build needs its runtime preloaded.
    env_vars=(SIGTROVE_FUZZ_SECONDS="$seconds")
    if [ "${SIGTROVE_SANITIZE:-0}" = 1 ]; then
      env_vars+=(LD_PRELOAD="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
                 ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
    fi
    echo "== fuzz python: regressions replayed, ${seconds}s of generated records"
    (cd tests/python && env "${env_vars[@]}" ../../.venv/bin/python -m pytest -q -s -p no:cacheprovider \
      test_hostile_bytes.py -k "once_failed or time_budget")
    continue
  fi
  binary=$build/tests/fuzz/fuzz_$h
  flags=(-rss_limit_mb=1024 -timeout=10 "-artifact_prefix=$build/artifacts/$h-")
  if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions")" ]; then
    echo "== fuzz $h: replaying $(ls "$regressions" | wc -l) regression inputs"
    if ! "$binary" "${flags[@]}" "$regressions"/* >"$build/artifacts/$h-replay.log" 2>&1; then
      tail -n 60 "$build/artifacts/$h-replay.log"
      exit 1
    fi
  fi
  if ((seconds > 0)); then
    corpus=$build/corpus/$h
    make_seeds "$h" "$corpus"
    log=$build/artifacts/$h.log
    echo "== fuzz $h: ${seconds}s"
    status=0
    # shellcheck disable=SC2086
    "$binary" "${flags[@]}" -max_total_time="$seconds" -print_final_stats=1 ${FUZZ_FLAGS:-} "$corpus" \
      >"$log" 2>&1 || status=$?
    grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|ERROR|SUMMARY" "$log" || true
    if ((status != 0)); then
      tail -n 60 "$log"
      exit "$status"
    fi
  fi
done
