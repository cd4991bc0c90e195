#!/usr/bin/env bash
# Closing the real window: during a scan whose walkers hang on a slow disk it
# still exits 0 within a second and writes geometry.json and settings.json; the
# next start opens at the saved size, and a window closed maximized reopens
# maximized. Nothing is written on stderr.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

mkdir -p "$work"/tree/{a..z}/{a..z}
echo 3000 >"$slow" # every folder takes 3 s to open, like a dead network mount

check "window appears" start_app "$work/tree"
check "a scan runs, no result yet" wait_pixel $DOWN_X $DOWN_Y FFFFFF 1
xdotool windowsize "$WID" 900 600
sleep 0.3 # let GTK take the new size
press ctrl+q
wait_exit
echo "closed during the scan in $exit_ms ms"
check "exits with status 0" test "$app_status" -eq 0
check "exits within 1 s of Ctrl+Q (took ${exit_ms} ms)" test "$exit_ms" -lt 1000
check "geometry.json holds the size" \
    test "$(cat "$config/geometry.json" 2>/dev/null)" = "$(printf '{\n  "width": 900,\n  "height": 600,\n  "maximized": false\n}')"
check "settings.json holds all eight settings" \
    test "$(grep -c '^  "[a-z_]*": "[a-z]*",\?$' "$config/settings.json" 2>/dev/null)" -eq 8
rm -f "$slow"

check "window appears again" start_app -v
check "... at the saved size, centred" test "$WW $WH $WX $WY" = "900 600 190 100"
press ctrl+q
wait_exit

# Closed maximized under a window manager; Xvfb has none to act on the
# request, so the window's own state property is what a manager would read.
printf '{\n  "width": 1000,\n  "height": 700,\n  "maximized": true\n}\n' >"$config/geometry.json"
check "window appears maximized" start_app -v
state=$(xprop -id "$WID" _NET_WM_STATE)
check "... asking for both maximized states ($state)" \
    grep -q '_NET_WM_STATE_MAXIMIZED_VERT.*_NET_WM_STATE_MAXIMIZED_HORZ\|_NET_WM_STATE_MAXIMIZED_HORZ.*_NET_WM_STATE_MAXIMIZED_VERT' <<<"$state"
press ctrl+q
wait_exit
check "closed maximized, it stays maximized" grep -q '"maximized": true' "$config/geometry.json"

check "nothing on stderr" stderr_clean
finish
