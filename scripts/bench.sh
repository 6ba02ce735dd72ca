#!/usr/bin/env bash
# Installs what is missing, builds the server and the bench driver with optimisation, and runs
# every benchmark: each figure beside its reference in the same run, with the ratio and its goal.
# Not part of scripts/test.sh. Options go to the driver (--quick, --only=GROUP,..., --help).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_WERROR=ON >/dev/null
# Other work may share this machine: at most four compilers at once.
cmake --build build -j4 --target vorel_bench
exec build/bench/vorel_bench "$@"
