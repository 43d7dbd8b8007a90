#!/bin/sh
# The Windows window opens within its monitor's work area at 96, 120 and 144 DPI. Wine's DPI is
# the registry's LogPixels, set here in a wine prefix of the test's own so that no other test
# sees it. Without a display it runs on a virtual screen of 1280 x 1024, which the wine server
# keeps for the whole run.
# Usage: test_win32_dpi.sh WINE TEST_PROGRAM PREFIX
set -eu
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null 2>&1; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$0" "$@"
fi
wine=$1
program=$2
export WINEPREFIX="$3" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for dpi in 96 120 144; do
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
    >/dev/null 2>&1
  echo "=== $dpi DPI"
  QUORVEL_EXPECTED_DPI=$dpi "$wine" "$program" \
    --gtest_filter=Win32MainForm.OpensWithinItsMonitorsWorkArea
done
