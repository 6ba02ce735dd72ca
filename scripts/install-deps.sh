#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need.
# Idempotent and quiet when everything is already there; runs apt-get as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config locales
  qtbase5-dev qtbase5-dev-tools
  libqt5serialport5-dev qtconnectivity5-dev
  qttools5-dev qttools5-dev-tools
  libsqlite3-dev sqlite3
  libicu-dev
  dbus-daemon
  googletest libgmock-dev libgtest-dev
  xvfb xdotool
  libtsan2
  clang libclang-rt-14-dev llvm-14
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi

echo "install-deps: installing ${missing[*]}"
# A fresh machine has no package lists yet; without this the install finds nothing.
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
