#!/usr/bin/env bash
# The real window under Xvfb: starts VorelServer in an empty folder, checks that it writes its
# settings file with the defaults, opens the setup dialog and the about box from the keyboard,
# takes a screenshot of each, and ends the program. The pictures stay in BUILD/screenshots/.
# Usage: tests/desktop/screenshots.sh [BUILD]   (needs Xvfb and xdotool: scripts/install-deps.sh)
set -euo pipefail
cd "$(dirname "$0")/../.."

build=$(cd "${1:-build}" && pwd)
program="$build/desktop/VorelServer"
grab="$build/tests/desktop/desktop_screengrab"
shots="$build/screenshots"
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done
[[ -x "$program" && -x "$grab" ]] || { echo "screenshots: build $build first" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  [[ -n "$program_pid" ]] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
  [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "screenshots: $*" >&2; exit 1; }

# Xvfb picks a free display itself and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s "$work/display" ]] && break; sleep 0.1; done
[[ -s "$work/display" ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb

mkdir -p "$work/run" "$shots"
rm -f "$shots"/*.png
(cd "$work/run" && exec "$program") >"$work/program.log" 2>&1 &
program_pid=$!

# Waits for a window whose title matches; prints its id.
window() { timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n1; }
gone() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
shot() {
  sleep 0.5   # let the window finish painting
  "$grab" "$shots/$1" || fail "no screenshot $1"
  [[ $(stat -c %s "$shots/$1") -gt 5000 ]] || fail "$1 is empty"
}

main=$(window '^VorelServer version 2\.04') || fail "the main window did not appear: $(cat "$work/program.log")"
settings="$work/run/VorelServer_settings.xml"
[[ -f "$settings" ]] || fail "no settings file was written"
grep -q '<VorelServer version="2.04">' "$settings" || fail "the settings file lacks the version: $(cat "$settings")"
grep -q 'networkPort="2000"' "$settings" || fail "the settings file lacks the defaults: $(cat "$settings")"
shot main-window.png

# Focus starts in the session table; Tab reaches Start, skips the disabled Stop, then Settings.
xdotool windowfocus --sync "$main"
xdotool key --clearmodifiers Tab Tab space
window '^VorelServer setup$' >/dev/null || fail "the setup dialog did not open"
shot setup-dialog.png
xdotool key --clearmodifiers Escape
gone '^VorelServer setup$' || fail "the setup dialog did not close"

# Focus is back on Settings; About is next.
xdotool windowfocus --sync "$main"
xdotool key --clearmodifiers Tab space
window '^About\.\.\.$' >/dev/null || fail "the about box did not open"
shot about-box.png
xdotool key --clearmodifiers Escape
gone '^About\.\.\.$' || fail "the about box did not close"

kill -0 "$program_pid" 2>/dev/null || fail "the program ended by itself: $(cat "$work/program.log")"
kill "$program_pid"
wait "$program_pid" 2>/dev/null || true
program_pid=""
echo "screenshots: pictures in $shots"
echo "screenshots: 3 passed, 0 failed"
