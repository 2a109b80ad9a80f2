#!/usr/bin/env bash
# Sets up what is missing, builds, and runs both test suites: the engine's
# GoogleTest suite (through CTest) and the module's pytest suite.
#   SIGTROVE_SANITIZE=1  run both suites under AddressSanitizer and UBSan
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

echo "== engine tests"
cmake -S . -B "$build" -G Ninja "${cmake_options[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" -j "$(nproc)" --output-on-failure
# Each test starts from a fresh process state, so the suite also passes as one process.
"$build/tests/engine/engine_tests" --gtest_brief=1

if [ "$sanitize" != 1 ]; then
  # The engine must also build and behave without libFLAC and without libcurl.
  echo "== engine tests, built without FLAC and HTTP support"
  cmake -S . -B build/engine-tests-noflac -G Ninja "${cmake_options[@]}" -DSIGTROVE_FLAC=OFF -DSIGTROVE_CURL=OFF >/dev/null
  cmake --build build/engine-tests-noflac -j "$(nproc)"
  ctest --test-dir build/engine-tests-noflac -j "$(nproc)" --output-on-failure
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
(cd tests/python && env "${env_vars[@]}" ../../.venv/bin/python -m pytest -q -p no:cacheprovider .)
