#!/usr/bin/env bash
# The real window follows the desktop's colour scheme, read from a stand-in
# for the desktop portal on the session bus: with the theme "auto" it opens in
# the desktop's scheme and re-colours at once when the desktop switches; with
# the theme "light" it stays light. Nothing is written on stderr.
set -uo pipefail
. "$(dirname "$0")/lib/window.sh"

check "the fake portal is on the bus" start_portal 2
write_settings auto
check "window appears" start_app -v
check "light while the desktop prefers light" wait_pixel $BG_X $BG_Y $WINDOW_BG 2
shot "$work/light.png"
set_scheme 1
check "the desktop turns dark: so does the window" wait_pixel $BG_X $BG_Y $WINDOW_BG_DARK 2
shot "$work/dark.png"
menu_light=$(pixel "$work/light.png" 300 5)
menu_dark=$(pixel "$work/dark.png" 300 5)
check "... its GTK menu bar too ($menu_light, then $menu_dark)" test "$menu_light" != "$menu_dark"
set_scheme 2
check "the desktop turns light again: so does the window" wait_pixel $BG_X $BG_Y $WINDOW_BG 2
press ctrl+q
wait_exit

set_scheme 1
check "window appears" start_app -v
check "opens dark while the desktop prefers dark" wait_pixel $BG_X $BG_Y $WINDOW_BG_DARK 2
press ctrl+q
wait_exit

write_settings light
check "window appears" start_app -v
check "the light theme ignores the dark desktop" wait_pixel $BG_X $BG_Y $WINDOW_BG 2
set_scheme 2
set_scheme 1
sleep 0.5 # a re-colouring would be on screen by now
check "... and its switches" wait_pixel $BG_X $BG_Y $WINDOW_BG 1
press ctrl+q
wait_exit
check "quits with status 0" test "$app_status" -eq 0

check "nothing on stderr" stderr_clean
finish
