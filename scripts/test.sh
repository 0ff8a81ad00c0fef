#!/usr/bin/env bash
# Installs what the build and the tests need, then builds and runs every test twice: once
# optimised with warnings as errors, once under AddressSanitizer and UndefinedBehaviorSanitizer;
# then the tests that start threads (CTest label "threads", see tests/CMakeLists.txt) a third
# time under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local dir=$1 select=$2; shift 2
  cmake -S . -B "$dir" -G Ninja -DPOSTVANE_WERROR=ON "$@"
  cmake --build "$dir" -j"$jobs"
  # shellcheck disable=SC2086
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600 $select
}

echo "== optimised build, every test"
run_suite build/test "" -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== sanitizer build (ASan + UBSan), every test"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build/sanitize "" -DCMAKE_BUILD_TYPE=Debug -DPOSTVANE_SANITIZE=ON
unset ASAN_OPTIONS UBSAN_OPTIONS

# The programs carry their options (halt_on_error, exit code 86, which no program uses itself,
# the suppressions for Qt's own libraries: cmake/tsan/); an end-to-end test fails when the
# spooler it ran ended with 86.
echo "== ThreadSanitizer build, the tests that start threads"
run_suite build/tsan "-L threads" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPOSTVANE_TSAN=ON
