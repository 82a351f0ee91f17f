#!/usr/bin/env bash
# Sets up the machine, builds everything and runs every test:
#   1. the normal build (build/), all tests;
#   2. the AddressSanitizer + UndefinedBehaviorSanitizer build (build-asan/),
#      all tests again;
#   3. the ThreadSanitizer build (build-tsan/) of the setup engine's test
#      program only, running the tests that drive the worker thread and the
#      spawn service.
# Options: --quick runs only step 1.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

quick=0
[[ ${1:-} == --quick ]] && quick=1

scripts/bootstrap.sh
jobs=$(nproc)

build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

run_tests() {
  ctest --test-dir "$1" --output-on-failure -j "$jobs" --timeout 600
}

# Line tables (-g1) instead of full debug information: the builds link much
# faster and reports still name file and line.
start=$SECONDS
build build "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
run_tests build
echo "test: normal build passed ($((SECONDS - start)) s)"

if ((quick == 0)); then
  build build-asan -DORVI_SANITIZE=address,undefined -DORVI_BUILD_BENCHMARKS=OFF \
    -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" run_tests build-asan
  echo "test: sanitizer build passed ($((SECONDS - start)) s)"

  # The sanitizer builds use -O1: about half the compile time of -O2.
  cmake -S . -B build-tsan -G Ninja -DORVI_SANITIZE=thread -DORVI_BUILD_BENCHMARKS=OFF \
    -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O1 -g1" >/dev/null
  cmake --build build-tsan -j "$jobs" --target setup_core_tests
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build-tsan --output-on-failure --no-tests=error -j "$jobs" --timeout 600 \
    -R '^(WorkerTest|Session[A-Za-z]*|ExtractTest|SpawnService)\.'
  echo "test: thread sanitizer build passed ($((SECONDS - start)) s)"
fi
