#!/usr/bin/env bash
# Input in the real window: right-click a tile, choose "Open in file manager"
# from its menu and see the request reach a stand-in file manager on the
# private session bus; then Control+F, type a name, Enter: the hit becomes
# the selection, which the status bar names.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

tree=$work/tree
mkdir -p "$tree/big/inner" "$tree/mid" "$tree/small"
head -c 6000000 /dev/zero >"$tree/big/inner/a.bin" # most of the tree: the left tile
head -c 2000000 /dev/zero >"$tree/big/b.bin"
head -c 1500000 /dev/zero >"$tree/mid/c.bin"
head -c 400000 /dev/zero >"$tree/small/d.bin"

record=$work/file_manager.log
/usr/bin/python3 "$lib/fake_file_manager.py" "$record" &
fm=$!
disown "$fm"
trap 'kill -9 $fm $app 2>/dev/null; chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
for ((i = 0; i < 200; i++)); do
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner org.freedesktop.FileManager1 |
        grep -q true && break
    sleep 0.05
done

write_settings light
start_app "$tree" || exit 1

# diff_band A B Y H: true when rows Y..Y+H of the two shots differ.
diff_band() {
    local n
    n=$(/usr/bin/compare -metric AE <(/usr/bin/convert "$1" -crop "${WW}x$4+0+$3" +repage png:-) \
        <(/usr/bin/convert "$2" -crop "${WW}x$4+0+$3" +repage png:-) null: 2>&1)
    [ "${n%% *}" != 0 ]
}

# Wait for a steady map.
inside_x=$((WW * 3 / 10)) inside_y=$((WH * 4 / 10))
prev= ok=1
for ((i = 0; i < 100; i++)); do
    shot "$work/before.png"
    got=$(pixel "$work/before.png" $inside_x $inside_y)
    if [ "$got" != ECECEC ] && [ "$got" = "$prev" ]; then ok=0 && break; fi
    prev=$got
    sleep 0.1
done
check "the map shows tiles" test $ok -eq 0

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
