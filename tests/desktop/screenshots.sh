#!/usr/bin/env bash
# The real window under Xvfb: starts VorelServer in an empty folder, checks that it writes its
# settings file with the defaults, opens the setup dialog and the about box from the keyboard,
# takes a screenshot of each (of every tab of the dialog), and ends the program; then the same in
# German, with the program's translation beside it and a German system locale. The pictures stay
# in BUILD/screenshots/.
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
german="$build/desktop/vorelserver_de.qm"
[[ -x "$program" && -x "$grab" && -f "$german" ]] || { echo "screenshots: build $build first" >&2; exit 1; }

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

mkdir -p "$shots"
rm -f "$shots"/*.png
passed=0

# Waits for a window whose title matches; prints its id.
window() { timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n1; }
gone() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
# shot FILE [WINDOW]: the whole screen, or that window alone.
shot() {
  sleep 0.5   # let the window finish painting
  "$grab" "$shots/$1" ${2:+"$2"} || fail "no screenshot $1"
  [[ $(stat -c %s "$shots/$1") -gt 5000 ]] || fail "$1 is empty"
  passed=$((passed + 1))
}

# One run of the program in a fresh folder: the language code, the system locale for the program,
# then the titles of the main window, the setup dialog and the about box as patterns.
walk() {
  local code=$1 locale=$2 main_title=$3 setup_title=$4 about_title=$5
  local run="$work/run-$code"
  mkdir -p "$run"
  [[ $code == en ]] || cp "$german" "$run/"
  (cd "$run" && LC_ALL=$locale LANG=$locale exec "$program") >"$work/program-$code.log" 2>&1 &
  program_pid=$!

  local main setup
  main=$(window "$main_title") || fail "$code: the main window did not appear: $(cat "$work/program-$code.log")"
  local settings="$run/VorelServer_settings.xml"
  [[ -f "$settings" ]] || fail "$code: no settings file was written"
  grep -q '<VorelServer version="2.04">' "$settings" || fail "the settings file lacks the version: $(cat "$settings")"
  grep -q 'networkPort="2000"' "$settings" || fail "the settings file lacks the defaults: $(cat "$settings")"
  shot "main-window-$code.png"

  # Focus starts in the session table; Tab reaches Start, skips the disabled Stop, then Settings.
  xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers Tab Tab space
  setup=$(window "$setup_title") || fail "$code: the setup dialog did not open"
  echo "screenshots: $code setup dialog $(xdotool getwindowgeometry "$setup" | sed -n 's/.*Geometry: //p')"
  # The dialog opens on its first tab; Ctrl+Tab shows the next one.
  for tab in 1 2 3 4 5 6; do
    shot "setup-dialog-$code-tab$tab.png" "$setup"
    xdotool key --clearmodifiers ctrl+Tab
  done
  xdotool key --clearmodifiers Escape
  gone "$setup_title" || fail "$code: the setup dialog did not close"

  # Focus is back on Settings; About is next.
  xdotool windowfocus --sync "$main"
  xdotool key --clearmodifiers Tab space
  window "$about_title" >/dev/null || fail "$code: the about box did not open"
  shot "about-box-$code.png"
  xdotool key --clearmodifiers Escape
  gone "$about_title" || fail "$code: the about box did not close"

  kill -0 "$program_pid" 2>/dev/null || fail "$code: the program ended by itself: $(cat "$work/program-$code.log")"
  kill "$program_pid"
  wait "$program_pid" 2>/dev/null || true
  program_pid=""
}

walk en C '^VorelServer version 2\.04' '^VorelServer setup$' '^About\.\.\.$'
# The settings' default language is the system's when a translation lists it; the pattern leaves
# out the umlaut, which xdotool's matching may see as two bytes.
walk de de_DE.UTF-8 '^VorelServer Version 2\.04' '^VorelServer-Einstellungen$' '^.+ber\.\.\.$'

echo "screenshots: pictures in $shots"
echo "screenshots: $passed passed, 0 failed"
