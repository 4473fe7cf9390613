#!/usr/bin/env bash
# The GUI answer-time figures: runs the x86_64 launcher three times in a fresh prefix on a private
# X display, with gui_responsiveness.exe probing its dialog thread every 10 ms, and prints each
# run's figures. A 3-second dwSleepTime keeps the dialog up long enough to see the bar creep.
# usage: bench/run_gui_probe.sh [BUILD_ROOT]   (default: build; the x86_64 build must exist)
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
root="$(cd "${1:-$QARV_ROOT/build}" && pwd)"
bin="$root/x86_64/bin"
[ -x "$bin/gui_responsiveness.exe" ] || { echo "build the x86_64 tree first ($bin)" >&2; exit 1; }

trap qarv_cleanup EXIT
qarv_start_display
qarv_wine_prefix "$root/x86_64/gui-probe-wineprefix"
"$QARV_WINE" reg add 'HKLM\SOFTWARE\QarvSetup' /v dwSleepTime /t REG_DWORD /d 3000 /f >/dev/null 2>&1
for run in 1 2 3; do
    "$QARV_WINE" reg delete 'HKLM\SOFTWARE\Qarv' /f >/dev/null 2>&1 || true
    echo "run $run:"
    "$QARV_WINE" "$bin/gui_responsiveness.exe" "$bin/QarvPro 2009 Setup.exe" </dev/null | tr -d '\r'
done
