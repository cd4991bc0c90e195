#!/usr/bin/env bash
# The delete list and Undo in the real window: start on a temp tree, mark the
# largest folder from its tile menu, move the delete list to the Trash (the
# folder and its trash record are in the temp home's Trash, the freed banner
# is on screen), press Control+Z: the folder is back on disk, the Trash is
# empty again and the folder's tile is drawn where it was, in its colour.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

tree=$home/stuff
mkdir -p "$tree/big/inner" "$tree/mid" "$tree/small"
head -c 6000000 /dev/zero >"$tree/big/inner/a.bin" # most of the tree: the left tile
head -c 1500000 /dev/zero >"$tree/mid/c.bin"
head -c 400000 /dev/zero >"$tree/small/d.bin"
# Old, so that its tile has a colour of its own on the age map.
touch -d '2 years ago' "$tree/big/inner/a.bin" "$tree/big/inner" "$tree/big"

write_settings light
start_app "$tree" || exit 1

inside_x=$((WW * 2 / 10)) inside_y=$((WH * 6 / 10))
check "the map shows the folder's tile" steady_map $inside_x $inside_y "$work/before.png"
tile=$(pixel "$work/before.png" $inside_x $inside_y)

# Tile menu, "Mark for deletion" (its last entry), then the delete-list bar's
# "Move to Trash" and Enter on the confirmation.
xdotool mousemove $((WX + inside_x)) $((WY + inside_y))
sleep 0.2
xdotool click 3
sleep 0.3
press Up Return
bar_y=$((WH - 30 - 28 - 17))
check "the delete-list bar appears" wait_pixel 4 $bar_y FDECEB
xdotool mousemove $((WX + WW - 40)) $((WY + bar_y))
sleep 0.2
xdotool click 1
sleep 0.3
press Return
freed_y=$((WH - 30 - 28 - 14))
check "the freed banner is shown" wait_pixel 4 $freed_y E4F6E8
check "the folder is in the Trash" test -f "$XDG_DATA_HOME/Trash/files/big/inner/a.bin"
check "the folder has its trash record" \
    grep -q "^Path=$tree/big\$" "$XDG_DATA_HOME/Trash/info/big.trashinfo"
check "the folder left its place" test ! -e "$tree/big"
shot "$work/trashed.png"
check "its tile is gone" test "$(pixel "$work/trashed.png" $inside_x $inside_y)" != "$tile"

# Control+Z with the pointer over the window, away from the tiles.
xdotool mousemove $((WX + WW / 2)) $((WY + 40))
sleep 0.2
press ctrl+z
check "the restored tile is drawn again" wait_pixel $inside_x $inside_y "$tile"
shot "$work/restored.png"
check "the folder is back" cmp -s <(head -c 6000000 /dev/zero) "$tree/big/inner/a.bin"
check "the Trash holds nothing" \
    test -z "$(ls -A "$XDG_DATA_HOME/Trash/files")$(ls -A "$XDG_DATA_HOME/Trash/info")"

press ctrl+q
wait_exit
check "the program ends cleanly" test "$app_status" -eq 0
check "nothing on stderr" stderr_clean
finish
