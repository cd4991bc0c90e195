#!/usr/bin/env bash
# The delete list in the real window: start on a temp tree, right-click the
# largest folder's tile, "Mark for deletion" from the tile menu, open the
# confirmation from the delete-list bar's "Move to Trash", press Enter: the
# folder is in the temp home's Trash and the freed banner is on screen.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

tree=$home/stuff
start_journey "$tree" || exit 1
inside_x=$((WW * 2 / 10)) inside_y=$((WH * 6 / 10))
check "the map shows tiles" steady_map $inside_x $inside_y "$work/before.png"

# The tile menu's last entry is "Mark for deletion": Up from no entry reaches it.
xdotool mousemove $((WX + inside_x)) $((WY + inside_y))
sleep 0.2
xdotool click 3
sleep 0.3
press Up Return
# The delete-list bar (34 rows) sits on the legend (28) and the status bar (30).
bar_y=$((WH - 30 - 28 - 17))
check "the delete-list bar appears" wait_pixel 4 $bar_y FDECEB

# Its "Move to Trash" button ends 12 pixels from the right edge.
xdotool mousemove $((WX + WW - 40)) $((WY + bar_y))
sleep 0.2
xdotool click 1
sleep 0.3
press Return
# The list is gone; the freed banner (28 rows) takes the place above the legend.
freed_y=$((WH - 30 - 28 - 14))
check "the freed banner is shown" wait_pixel 4 $freed_y E4F6E8
shot "$work/freed.png"
check "the folder is in the Trash" test -f "$XDG_DATA_HOME/Trash/files/big/inner/a.bin"
check "the folder has its trash record" \
    grep -q "^Path=$tree/big\$" "$XDG_DATA_HOME/Trash/info/big.trashinfo"
check "the folder left its place" test ! -e "$tree/big"

press ctrl+q
wait_exit
check "the program ends cleanly" test "$app_status" -eq 0
check "nothing on stderr" stderr_clean
finish
