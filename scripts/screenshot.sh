#!/usr/bin/env bash
# Runs quorvel under Xvfb and saves a screenshot of the screen, to look at the window as a
# user would. With --traffic (as root) the program runs inside a network namespace joined
# to another by a veth pair; Start is pressed and a few TCP exchanges cross the veth first.
# With --find TEXT, Ctrl+F is pressed and TEXT typed before the screenshot.
# Usage: scripts/screenshot.sh [--traffic] [--find TEXT] [output.png]
set -euo pipefail
cd "$(dirname "$0")/.."
traffic=false
find=""
if [[ ${1:-} == --traffic ]]; then traffic=true; shift; fi
if [[ ${1:-} == --find ]]; then find=$2; shift 2; fi
output=${1:-screenshot.png}
if [[ ! -x build/bin/quorvel ]]; then
  echo "build first: scripts/run.sh or scripts/test.sh" >&2
  exit 1
fi

a=quorvel-shot-a-$$
b=quorvel-shot-b-$$
pids=()
work=$(mktemp -d)
cleanup() {
  kill "${pids[@]}" 2>/dev/null || true
  rm -rf "$work"
  if $traffic; then
    ip netns del "$a" 2>/dev/null || true
    ip netns del "$b" 2>/dev/null || true
  fi
}
trap cleanup EXIT
# A display number no other server holds, as the server itself tells it.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [[ -s $work/display ]] && break; sleep 0.1; done
display=:$(<"$work/display")

run=()
if $traffic; then
  ip netns add "$a"
  ip netns add "$b"
  ip -n "$a" link add qv-a type veth peer name qv-b netns "$b"
  ip -n "$a" addr add 10.199.0.1/24 dev qv-a
  ip -n "$b" addr add 10.199.0.2/24 dev qv-b
  for ns in "$a" "$b"; do ip -n "$ns" link set lo up; done
  ip -n "$a" link set qv-a up
  ip -n "$b" link set qv-b up
  run=(ip netns exec "$a")
fi
DISPLAY=$display "${run[@]}" build/bin/quorvel 2>/dev/null &
pids+=($!)
sleep 2

if $traffic; then
  # The button has the focus when the window opens: Space presses it.
  window=$(DISPLAY=$display xdotool search --name "Quorvel v2.0" | head -n 1)
  DISPLAY=$display xdotool windowfocus --sync "$window" key space
  sleep 0.5
  # A web server where python3 is at hand; otherwise the requests meet resets.
  if command -v python3 >/dev/null; then
    ip netns exec "$a" python3 -m http.server --bind 10.199.0.1 8080 >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
  fi
  for path in /index.html /missing; do
    ip netns exec "$b" bash -c "exec 3<>/dev/tcp/10.199.0.1/8080 &&
      printf 'GET $path HTTP/1.0\r\nHost: 10.199.0.1\r\n\r\n' >&3 && cat <&3 >/dev/null" \
      2>/dev/null || true
  done
  ip netns exec "$a" bash -c 'exec 3<>/dev/tcp/10.199.0.2/25' 2>/dev/null || true
  sleep 1.5
fi
if [[ -n $find ]]; then
  window=$(DISPLAY=$display xdotool search --name "Quorvel v2.0" | head -n 1)
  DISPLAY=$display xdotool windowfocus --sync "$window" key ctrl+f
  sleep 0.3
  DISPLAY=$display xdotool type --delay 50 "$find"
  sleep 0.5
fi
DISPLAY=$display import -window root "$output"
echo "saved $output"
