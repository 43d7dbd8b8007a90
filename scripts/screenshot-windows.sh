#!/usr/bin/env bash
# Runs the Windows program, build-mingw/bin/quorvel.exe, under wine on a virtual 1280 x 1024
# screen and saves a screenshot of the screen. --dpi N runs it at N DPI (wine's LogPixels, 96
# unless given), in a wine prefix of the script's own. --list opens the address list first.
# --start presses Start first: under wine, which has no raw IP socket, that ends in the
# failure box.
# Usage: scripts/screenshot-windows.sh [--dpi N] [--list] [--start] [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
dpi=96
list=false
start=false
while [[ ${1:-} == --* ]]; do
  case $1 in
    --dpi) dpi=$2; shift 2 ;;
    --list) list=true; shift ;;
    --start) start=true; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[[ $dpi =~ ^[0-9]+$ ]] || { echo "--dpi takes a number" >&2; exit 2; }
output=${1:-screenshot-windows.png}
program=build-mingw/bin/quorvel.exe
if [[ ! -f $program ]]; then
  echo "build first: scripts/test.sh (or cmake --build build-mingw)" >&2
  exit 1
fi

pids=()
work=$(mktemp -d)
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# A display number no other server holds, as the server itself tells it.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [[ -s $work/display ]] && break; sleep 0.1; done
display=:$(<"$work/display")
export DISPLAY=$display WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The DPI is the prefix's: not the tests' prefix, which must stay at 96.
export WINEPREFIX=$PWD/build-mingw/wineprefix-screenshot
wine=/usr/lib/wine/wine64
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
  >/dev/null 2>&1
"$wine" "$program" >/dev/null 2>&1 &
pids+=($!)
window=""
for _ in $(seq 1 60); do
  window=$(xdotool search --name "Quorvel v2.0" 2>/dev/null | head -n 1) && [[ -n $window ]] && break
  sleep 0.5
done
sleep 1
if $list && [[ -n $window ]]; then
  # The address field, 64 pixels at 96 DPI above the client area's bottom (the window has no
  # frame on a display without a window manager), then F4.
  read -r height < <(xdotool getwindowgeometry "$window" | sed -n 's/.*Geometry: [0-9]*x//p')
  xdotool mousemove --window "$window" $((206 * dpi / 96)) $((height - 64 * dpi / 96)) click 1
  sleep 0.3
  xdotool key F4
  sleep 1
fi
if $start && [[ -n $window ]]; then
  # The button has the focus when the window opens: Space presses it.
  xdotool windowfocus --sync "$window" key space
  sleep 2
fi
import -window root "$output"
echo "saved $output ($dpi DPI)"
