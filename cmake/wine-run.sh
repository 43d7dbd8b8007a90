#!/bin/sh
# Runs a Windows program under wine: quietly, without the prompts a new prefix would show,
# and on a virtual display when there is none, since windows need one.
# Usage: wine-run.sh WINE PROGRAM [ARGUMENTS...]
wine=$1
shift
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$wine" "$@"
fi
exec "$wine" "$@"
