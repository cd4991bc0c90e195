#!/usr/bin/env bash
# The map in the real window: start on a temp tree, double-click the largest
# folder's tile, see the breadcrumbs and the map change, leave with the
# zoom-out key, then switch to the tree table and back through the View menu.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

tree=$work/tree
mkdir -p "$tree/big/inner" "$tree/mid" "$tree/small"
head -c 6000000 /dev/zero >"$tree/big/inner/a.bin" # most of the tree: the left tile
head -c 2000000 /dev/zero >"$tree/big/b.bin"
head -c 1500000 /dev/zero >"$tree/mid/c.bin"
head -c 400000 /dev/zero >"$tree/small/d.bin"

write_settings light
start_app "$tree" || exit 1

# pixels_apart A B Y H: how many pixels of rows Y..Y+H differ between two shots.
pixels_apart() {
    /usr/bin/convert "$1" -crop "${WW}x$4+0+$3" +repage "$work/band-a.png"
    /usr/bin/convert "$2" -crop "${WW}x$4+0+$3" +repage "$work/band-b.png"
    /usr/bin/compare -metric AE "$work/band-a.png" "$work/band-b.png" null: 2>&1
}
diff_band() { local n; n=$(pixels_apart "$@"); [ "${n%% *}" -gt 0 ] 2>/dev/null; }
same_band() { local n; n=$(pixels_apart "$@"); [ "${n%% *}" = 0 ]; }

# The canvas sits below the menu bar: its top is the first row, from the
# top, whose pixel at the right edge is the toolbar's white.
canvas_top() {
    local y
    for ((y = 0; y < 80; y++)); do
        [ "$(pixel "$1" $((WW - 3)) $y)" = FFFFFF ] && echo $y && return
    done
    echo 0
}

# Scanning a tiny tree is quick; wait until the map is steady.
inside_x=$((WW * 3 / 10)) inside_y=$((WH * 6 / 10))
prev= ok=1
for ((i = 0; i < 100; i++)); do
    shot "$work/before.png"
    got=$(pixel "$work/before.png" $inside_x $inside_y)
    if [ "$got" != ECECEC ] && [ "$got" = "$prev" ]; then ok=0 && break; fi
    prev=$got
    sleep 0.1
done
check "the map shows tiles" test $ok -eq 0
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
