#!/usr/bin/env bash
# Runs the Windows program, build-mingw/bin/quorvel.exe, under wine on a virtual display and
# saves a screenshot of the screen. With --start it presses Start first: under wine, which has
# no raw IP socket, that ends in the failure box.
# Usage: scripts/screenshot-windows.sh [--start] [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
start=false
if [[ ${1:-} == --start ]]; then start=true; shift; fi
output=${1:-screenshot-windows.png}
program=build-mingw/bin/quorvel.exe
if [[ ! -f $program ]]; then
  echo "build first: scripts/test.sh (or cmake --build build-mingw)" >&2
  exit 1
fi

display=:$((90 + RANDOM % 100))
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; }
trap cleanup EXIT
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 1
export DISPLAY=$display WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=$PWD/build-mingw/wineprefix
/usr/lib/wine/wine64 "$program" >/dev/null 2>&1 &
pids+=($!)
window=""
for _ in $(seq 1 60); do
  window=$(xdotool search --name "Quorvel v2.0" 2>/dev/null | head -n 1) && [[ -n $window ]] && break
  sleep 0.5
done
sleep 1
if $start && [[ -n $window ]]; then
  # The button has the focus when the window opens: Space presses it.
  xdotool windowfocus --sync "$window" key space
  sleep 2
fi
import -window root "$output"
echo "saved $output"
