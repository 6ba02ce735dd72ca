#!/usr/bin/env bash
# Installs what is missing, builds the server and starts VorelService in the foreground.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

if [[ ! -x build/service/VorelService ]]; then
  echo "run: the engine libraries are built; the service program VorelService is not part of the build yet." >&2
  exit 1
fi
exec build/service/VorelService -e
