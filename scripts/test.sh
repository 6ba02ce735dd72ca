#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, and runs every test: once in a
# plain build (with the desktop window checked under Xvfb) and once under AddressSanitizer and UndefinedBehaviorSanitizer; then the session,
# settings and fault tests under ThreadSanitizer, and every fuzz target for a bounded time
# (VOREL_FUZZ_SECONDS, 60 by default; 0 leaves the fuzzing out).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=${VOREL_JOBS:-$(nproc)}

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300
# The desktop program's real window under Xvfb; its screenshots stay in build/screenshots/.
tests/desktop/screenshots.sh build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVOREL_WERROR=ON -DVOREL_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600

# Qt is not instrumented: tests/support/TsanQtAnnotations.cpp shows ThreadSanitizer the order that
# Qt's locks and thread ends give, and the suppressions file lists what is left, with reasons.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_WERROR=ON -DVOREL_SANITIZE=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target core_tests transport_tests link_tests fault_tests
export TSAN_OPTIONS="halt_on_error=1 ignore_noninstrumented_modules=1 suppressions=$PWD/scripts/tsan-suppressions.txt"
ctest --test-dir build-tsan/tests/core -R Settings --output-on-failure -j"$jobs" --timeout 300
ctest --test-dir build-tsan/tests/transport --output-on-failure -j"$jobs" --timeout 300
ctest --test-dir build-tsan/tests/fault --output-on-failure -j"$jobs" --timeout 300
unset TSAN_OPTIONS

fuzz_seconds=${VOREL_FUZZ_SECONDS:-60}
if (( fuzz_seconds > 0 )); then
  # Half the processors, at most one per target.
  fuzz_parallel=$(( jobs / 2 > 5 ? 5 : (jobs / 2 < 1 ? 1 : jobs / 2) ))
  VOREL_JOBS=$jobs scripts/fuzz.sh "$fuzz_seconds" "$fuzz_parallel"
fi
