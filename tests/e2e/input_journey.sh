#!/usr/bin/env bash
# Input in the real window: right-click a tile, choose "Open in file manager"
# from its menu and see the request reach a stand-in file manager on the
# private session bus; then Control+F, type a name, Enter: the hit becomes
# the selection, which the status bar names.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

record=$work/file_manager.log
start_file_manager "$record" || exit 1
tree=$work/tree
start_journey "$tree" || exit 1
inside_x=$((WW * 3 / 10)) inside_y=$((WH * 4 / 10))
check "the map shows tiles" steady_map $inside_x $inside_y "$work/before.png"

# The tile menu hangs 4 pixels below the click; its first row, "Open in
# file manager", starts 4 pixels further down and is 26 high.
xdotool mousemove $((WX + inside_x)) $((WY + inside_y))
sleep 0.2
xdotool click 3
sleep 0.5
shot "$work/menu.png"
check "a right click opens a menu" diff_band "$work/before.png" "$work/menu.png" $inside_y 40
xdotool mousemove $((WX + inside_x + 40)) $((WY + inside_y + 21))
sleep 0.2
xdotool click 1
for ((i = 0; i < 100; i++)); do
    [ -s "$record" ] && break
    sleep 0.1
done
check "the file manager was asked to show the folder" \
    grep -qx "ShowFolders	file://$tree/big" "$record"

# Search: Control+F, a name, Enter.
xdotool mousemove $((WX + 5)) $((WY + WH - 10)) # no tooltip over the bars
sleep 0.2
press ctrl+f
xdotool type --delay 80 mid
sleep 0.5
shot "$work/typed.png"
press Return
sleep 0.5
shot "$work/chosen.png"
check "Enter selects the hit: the status bar names it" \
    diff_band "$work/typed.png" "$work/chosen.png" $((WH - 30)) 30

press Escape
press ctrl+q
wait_exit
check "the program ends cleanly" test "$app_status" -eq 0
check "nothing on stderr" stderr_clean
finish
