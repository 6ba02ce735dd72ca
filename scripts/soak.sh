#!/usr/bin/env bash
# The soak run, outside CI: the service program serves many terminals doing mixed commands for
# minutes on end; every reply is checked. Prints the failed requests and the server's memory,
# threads and descriptors as it goes, and at the start and the end.
#
#   scripts/soak.sh [minutes (10)] [terminals (64)]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVOREL_WERROR=ON >/dev/null
cmake --build build -j"${VOREL_JOBS:-$(nproc)}" --target VorelService vorel_soak
build/tests/fault/vorel_soak --server build/service/VorelService --minutes "${1:-10}" --terminals "${2:-64}"
