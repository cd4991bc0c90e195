#!/usr/bin/env bash
# The real window under Xvfb: started on a folder it shows its icon and the
# result; the menu bar's accelerators zoom one level per key press, rescan,
# choose another folder through the folder chooser and quit; nothing is
# written on stderr.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

# The largest folder of each level is a folder again, so "into the largest
# subfolder" can go two levels down.
# The folder to choose sits in the home, where the chooser opens; it has two
# subfolders so the chooser's completion cannot extend the typed path.
mkdir -p "$work/tree/big/deeper" "$work/tree/small" "$HOME/other/inside" "$HOME/other/second"
head -c 3000000 /dev/urandom >"$work/tree/big/deeper/blob"
head -c 200000 /dev/urandom >"$work/tree/big/side"
head -c 50000 /dev/urandom >"$work/tree/small/note"
head -c 400000 /dev/urandom >"$HOME/other/inside/data"

check "window appears" start_app "$work/tree"
check "it shows the compiled-in 128 px icon" grep -q 'Icon (128 x 128)' <(xprop -id "$WID" _NET_WM_ICON)
wm_class=$(sed -n 's/^StartupWMClass=//p' "$src"/data/*.desktop)
check "its class is the one the launcher names ($wm_class)" \
    grep -q "\"$wm_class\"" <(xprop -id "$WID" WM_CLASS)
check "the result is shown" wait_pixel $DOWN_X $DOWN_Y $ACCENT
check "the root cannot go up" wait_pixel $UP_X $UP_Y FFFFFF 1

press alt+Down
check "Alt+Down enters the largest subfolder" wait_pixel $UP_X $UP_Y $ACCENT
press alt+Down
check "a second Alt+Down reaches a folder without subfolders" wait_pixel $DOWN_X $DOWN_Y FFFFFF
press alt+Up
check "Alt+Up climbs one level, not two" wait_pixel $DOWN_X $DOWN_Y $ACCENT
sleep 0.3 # a second climb would arrive now
check "... and stays there" wait_pixel $UP_X $UP_Y $ACCENT 1
press alt+Up
check "a second Alt+Up reaches the root" wait_pixel $UP_X $UP_Y FFFFFF

echo 400 >"$slow"
press F5
check "F5 rescans: the scanning screen replaces the result" wait_pixel $DOWN_X $DOWN_Y FFFFFF
rm -f "$slow"
check "... and the new result arrives" wait_pixel $DOWN_X $DOWN_Y $ACCENT

press ctrl+o
chooser=
for ((i = 0; i < 100; i++)); do
    chooser=$(xdotool search --onlyvisible --name '^Choose folder$' 2>/dev/null | head -n 1)
    [ -n "$chooser" ] && break
    sleep 0.05
done
check "Ctrl+O opens the folder chooser" test -n "$chooser"
if [ -n "$chooser" ]; then
    eval "$(xdotool getwindowgeometry --shell "$chooser" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
    # GTK 3.24's chooser reports critical errors for keys typed while it is
    # still loading the folder: give it the moment a person would take.
    sleep 1
    press ctrl+l
    sleep 0.3
    xdotool type --delay 60 "other/" # the chooser opens in the home
    press Return
    xdotool mousemove $((WX + WW / 2)) $((WY + WH / 2))
    # A new result, one level above a folder without subfolders.
    check "the chosen folder is scanned and shown" wait_pixel $DOWN_X $DOWN_Y $ACCENT
    press alt+Down
    check "... it is the chosen folder" wait_pixel $DOWN_X $DOWN_Y FFFFFF
fi

press ctrl+q
wait_exit
check "Ctrl+Q quits with status 0" test "$app_status" -eq 0
check "settings saved on quitting" test -s "$config/settings.json"
check "nothing on stderr" stderr_clean
finish
