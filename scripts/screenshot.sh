#!/usr/bin/env bash
# Runs quorvel under Xvfb and saves a screenshot of the whole screen, to look at the window as
# a user would. Usage: scripts/screenshot.sh [output.png] [seconds before the shot]
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-screenshot.png}
wait_seconds=${2:-3}
[[ -x build/app/quorvel ]] || { echo "build first: scripts/run.sh or scripts/test.sh" >&2; exit 1; }
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$app" "$xvfb" 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$display build/app/quorvel &
app=$!
sleep "$wait_seconds"
DISPLAY=$display import -window root "$output"
echo "saved $output"
