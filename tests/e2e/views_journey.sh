#!/usr/bin/env bash
# The map in the real window: start on a temp tree, double-click the largest
# folder's tile, see the breadcrumbs and the map change, leave with the
# zoom-out key, then switch to the tree table and back through the View menu.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

tree=$work/tree
start_journey "$tree" || exit 1

# The canvas sits below the menu bar: its top is the first row, from the
# top, whose pixel at the right edge is the toolbar's white.
canvas_top() {
    local y
    for ((y = 0; y < 80; y++)); do
        [ "$(pixel "$1" $((WW - 3)) $y)" = FFFFFF ] && echo $y && return
    done
    echo 0
}

inside_x=$((WW * 3 / 10)) inside_y=$((WH * 6 / 10))
check "the map shows tiles" steady_map $inside_x $inside_y "$work/before.png"
top=$(canvas_top "$work/before.png")
crumbs=$((top + 38)) # the path bar, 26 rows high
map_top=$((top + 70)) map_h=$((WH - top - 70 - 60))

xdotool mousemove $((WX + inside_x)) $((WY + inside_y))
sleep 0.2
xdotool click --repeat 2 --delay 60 1
sleep 0.5
xdotool mousemove $((WX + 5)) $((WY + WH - 10)) # the tooltip out of the way
sleep 0.3
shot "$work/zoomed.png"
check "double-click adds a breadcrumb" diff_band "$work/before.png" "$work/zoomed.png" $crumbs 26
check "double-click redraws the map" diff_band "$work/before.png" "$work/zoomed.png" $map_top $map_h

press BackSpace
sleep 0.5
shot "$work/out.png"
check "zoom-out restores the breadcrumbs" same_band "$work/before.png" "$work/out.png" $crumbs 26

# View > Tree: the legend gives way to table rows; View > Map brings it back.
press alt+v Down Return
sleep 0.5
shot "$work/tree.png"
check "the tree table replaces the map" diff_band "$work/out.png" "$work/tree.png" $map_top $map_h
press alt+v Return
sleep 0.5
shot "$work/back.png"
check "back to the map" same_band "$work/out.png" "$work/back.png" $map_top $map_h

press ctrl+q
wait_exit
check "the program ends cleanly" test "$app_status" -eq 0
check "nothing on stderr" stderr_clean
finish
