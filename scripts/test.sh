#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, and runs every test: once in a
# plain build (with the desktop window checked under Xvfb) and once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_WERROR=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs" --timeout 300
# The desktop program's real window under Xvfb; its screenshots stay in build/screenshots/.
tests/desktop/screenshots.sh build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVOREL_WERROR=ON -DVOREL_SANITIZE=address,undefined >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 600
