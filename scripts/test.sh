#!/usr/bin/env bash
# Sets up what is missing, checks the sources' form (scripts/lint.sh) and that
# includes point down the engine's layers (scripts/check_includes.py), builds, and
# runs both test suites: the engine's GoogleTest suite (through CTest) and the
# module's pytest suite; then the fuzz
# harnesses (tests/fuzz/): their regression inputs replayed, and 30 seconds of
# fuzzing each (scripts/fuzz.sh). Prints each suite's summary and every failure in
# full; a build's log only when it fails.
#   SIGTROVE_SANITIZE=1  run both suites under AddressSanitizer and UBSan (the fuzz
#                        harnesses always are); the fuzzers only replay their regressions
#   SIGTROVE_NOFLAC=1    also build and run the engine suite without libFLAC (CI does)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

sanitize=${SIGTROVE_SANITIZE:-0}
build=build/engine-tests
cmake_options=(-DSIGTROVE_ENGINE_TESTS=ON -DSIGTROVE_MODULE=OFF -DSIGTROVE_WERROR=ON)
if [ "$sanitize" = 1 ]; then
  build=build/engine-tests-asan
  cmake_options+=(-DSIGTROVE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug)
fi
failed=0

echo "== lint"
scripts/lint.sh || failed=1
.venv/bin/python scripts/check_includes.py || failed=1

# Runs a command with its output in the log file $1, shown only when the command fails.
quietly() {
  local log=$1
  shift
  "$@" >"$log" 2>&1 || { cat "$log"; return 1; }
}

# Builds the engine suite in folder $1 with the CMake options that follow, and runs it:
# each test in a process of its own (CTest), then the whole suite as one process.
engine_suite() {
  local dir=$1 status=0
  shift
  mkdir -p "$dir"
  quietly "$dir/configure.log" cmake -S . -B "$dir" -G Ninja "$@" || return 1
  quietly "$dir/build.log" cmake --build "$dir" -j "$(nproc)" || return 1
  if ctest --test-dir "$dir" -j "$(nproc)" --output-on-failure -Q --output-log "$dir/ctest.log"; then
    echo "a process per test: $(grep -E 'tests passed' "$dir/ctest.log"), $(grep -c '\*\*\*Skipped' "$dir/ctest.log") skipped"
  else
    # The failed tests with their output, without the lines of the others or the padding.
    grep -v -E '^ +Start +[0-9]+: |(Passed|\*\*\*Skipped) +[0-9.]+ sec$|\(Skipped\)$|did not run:$' "$dir/ctest.log" |
      sed -E 's/ \.{3,}/ .../'
    status=1
  fi
  # Each test starts from a fresh process state, so the suite also passes as one process.
  if "$dir/tests/engine/engine_tests" --gtest_brief=1 >"$dir/one-process.log" 2>&1; then
    echo "one process: $(grep -E '^\[ +PASSED +\]' "$dir/one-process.log")"
  else
    cat "$dir/one-process.log"
    status=1
  fi
  return $status
}

echo "== engine tests"
engine_suite "$build" "${cmake_options[@]}" || failed=1

if [ "${SIGTROVE_NOFLAC:-0}" = 1 ] && [ "$sanitize" != 1 ]; then
  # The engine must also build and behave without libFLAC and without libcurl.
  echo "== engine tests, built without FLAC and HTTP support"
  engine_suite build/engine-tests-noflac "${cmake_options[@]}" -DSIGTROVE_FLAC=OFF -DSIGTROVE_CURL=OFF || failed=1
fi

echo "== module tests"
env_vars=()
if [ "$sanitize" = 1 ]; then
  # PYTHONMALLOC=malloc: buffers from PyMem_Malloc (the sample vector the engine writes into) come
  # from the system allocator, where AddressSanitizer sees their bounds, not from Python's arenas.
  env_vars=(LD_PRELOAD="$(g++ -print-file-name=libasan.so):$(g++ -print-file-name=libubsan.so)"
            PYTHONMALLOC=malloc ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)
fi
# Run from the tests folder so the installed package, not the source tree, is imported.
(cd tests/python && env "${env_vars[@]}" ../../.venv/bin/python -m pytest -q -p no:cacheprovider .) || failed=1

echo "== fuzz harnesses"
if [ "$sanitize" = 1 ]; then
  scripts/fuzz.sh 0 || failed=1
else
  scripts/fuzz.sh "${SIGTROVE_FUZZ_SECONDS:-30}" || failed=1
fi
exit $failed
