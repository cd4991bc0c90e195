# Shared by the window journeys (sourced, never run). Sourcing it re-runs the
# calling script under Xvfb and a private session bus, with a temp home, and
# gives the journey a few verbs: start_app, press, shot, pixel, wait_pixel,
# wait_exit, stderr_clean, and for the map journeys start_journey,
# steady_map, diff_band and same_band. Xvfb has no window manager: keys go to the window
# under the pointer, so start_app leaves the pointer inside the window.

. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
prog=$build/spacemole
lib=$(dirname "${BASH_SOURCE[0]}")

if [ -z "${SPACEMOLE_E2E_INNER:-}" ]; then
    require_tools xvfb-run dbus-run-session xdotool xprop gdbus cc /usr/bin/python3 \
        /usr/bin/import /usr/bin/convert /usr/bin/compare
    if [ ! -x "$prog" ]; then
        # Before the window exists in the sources there is nothing to drive.
        [ -f "$src/src/main.cpp" ] || skip_or_fail "the window program is not in the sources yet"
        echo "FAILED: $prog is not built"
        exit 1
    fi
    # -a alone starts at :99, where two runs started together can end up
    # sharing one server; a random first number keeps parallel runs apart.
    # -noreset: the server otherwise resets when the program quits, and the
    # next program started at that moment finds no display.
    SPACEMOLE_E2E_INNER=1 xvfb-run -a -n $((100 + RANDOM % 800)) -s '-screen 0 1280x800x24 -noreset' \
        dbus-run-session -- bash "$0" "$@"
    exit
fi

home=$work/home
mkdir -p "$home/.config" "$home/.local/share" "$home/.cache"
mkdir -m 0700 "$work/run"
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share \
    XDG_CACHE_HOME=$home/.cache XDG_RUNTIME_DIR=$work/run
export NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11 LC_ALL=C.UTF-8 LANGUAGE=
unset WAYLAND_DISPLAY SNAP
config=$XDG_CONFIG_HOME/Spacemole

# The program runs with a disk that is as slow as $slow says (milliseconds per
# folder opened by the scan; empty: full speed). See slow_dirs.c.
cc -shared -fPIC -O2 -o "$work/slow_dirs.so" "$lib/slow_dirs.c" -ldl
slow=$work/slow_ms

# Window coordinates of two toolbar buttons (below GTK's 25 px menu bar): "up"
# and "into the largest subfolder". Either is filled with the accent colour
# exactly when it can be used, which tells a shown result from the scanning
# and welcome screens and the zoom depth from the root.
UP_X=177 UP_Y=40 DOWN_X=214 DOWN_Y=40
ACCENT=3578F7 ACCENT_DARK=0A84FF
# A pixel of the content area's background, away from any text.
BG_X=5 BG_Y=200 WINDOW_BG=ECECEC WINDOW_BG_DARK=1C1C1E

app=         # pid of the running program
runs=0       # programs started so far; run N writes $work/err.N
portal=      # pid of the fake portal
fm=          # pid of the fake file manager
trap 'for p in $app $portal $fm; do kill -9 $p 2>/dev/null; done
      chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# start_app [ARG...]: starts the program, waits up to 10 s for its window,
# sets WID, WX, WY, WW, WH and moves the pointer into the window's middle.
start_app() {
    runs=$((runs + 1))
    LD_PRELOAD=$work/slow_dirs.so SPACEMOLE_SLOW_DIR_FILE=$slow \
        "$prog" "$@" >"$work/out.$runs" 2>"$work/err.$runs" &
    app=$!
    WID=
    local i
    for ((i = 0; i < 200; i++)); do
        WID=$(xdotool search --onlyvisible --name '^Spacemole$' 2>/dev/null | head -n 1)
        [ -n "$WID" ] && break
        kill -0 "$app" 2>/dev/null || break
        sleep 0.05
    done
    if [ -z "$WID" ]; then
        echo "no window appeared; program stderr:"
        cat "$work/err.$runs"
        return 1
    fi
    window_geometry
    xdotool mousemove $((WX + WW / 2)) $((WY + WH / 2))
}

window_geometry() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$WID")"
    WX=$X WY=$Y WW=$WIDTH WH=$HEIGHT
}

# press KEY...: key strokes to the window under the pointer.
press() { xdotool key --clearmodifiers "$@"; }

# shot FILE: the window's pixels as a PNG, window coordinates.
shot() {
    /usr/bin/import -silent -window root -crop "${WW}x${WH}+${WX}+${WY}" +repage "$1"
}

# pixel FILE X Y: the colour at (X, Y) as RRGGBB.
pixel() { /usr/bin/convert "$1" -depth 8 -format "%[hex:p{$2,$3}]" info:; }

# wait_pixel X Y RRGGBB [SECONDS]: polls screenshots until the window shows
# the colour at (X, Y); redraws are asynchronous.
wait_pixel() {
    local deadline=$(($(now_ms) + ${4:-10} * 1000)) got
    while :; do
        shot "$work/poll.png"
        got=$(pixel "$work/poll.png" "$1" "$2")
        [ "$got" = "$3" ] && return 0
        if [ "$(now_ms)" -gt "$deadline" ]; then
            echo "pixel ($1, $2) is $got, not $3"
            return 1
        fi
        sleep 0.1
    done
}

# wait_exit: waits up to 10 s for the program to end; sets app_status and
# exit_ms (milliseconds from the call to the end), kills it when it hangs.
wait_exit() {
    local start
    start=$(now_ms)
    while kill -0 "$app" 2>/dev/null && [ $(($(now_ms) - start)) -lt 10000 ]; do
        sleep 0.02
    done
    exit_ms=$(($(now_ms) - start))
    if kill -0 "$app" 2>/dev/null; then
        kill -9 "$app"
        echo "the program did not end within 10 s"
    fi
    wait "$app"
    app_status=$?
    app=
}

# stderr_clean: nothing on stderr in any run so far.
stderr_clean() {
    local n ok=0
    for ((n = 1; n <= runs; n++)); do
        if [ -s "$work/err.$n" ]; then
            echo "run $n wrote on stderr:"
            sed 's/^/  /' "$work/err.$n"
            ok=1
        fi
    done
    return $ok
}

# wait_for_name NAME: waits up to 10 s until NAME has an owner on the session bus.
wait_for_name() {
    local i
    for ((i = 0; i < 200; i++)); do
        gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
            --method org.freedesktop.DBus.NameHasOwner "$1" | grep -q true && return 0
        sleep 0.05
    done
    echo "nobody claimed $1"
    return 1
}

# start_portal SCHEME: the fake desktop portal (0 none, 1 dark, 2 light),
# owning its name before this returns; set_scheme SCHEME switches it.
start_portal() {
    /usr/bin/python3 "$lib/fake_portal.py" "$1" &
    portal=$!
    disown "$portal" # no "Killed" line when the exit trap ends it
    wait_for_name org.freedesktop.portal.Desktop
}

# start_file_manager LOG: a stand-in file manager that writes each request
# it gets to LOG, owning its name before this returns.
start_file_manager() {
    /usr/bin/python3 "$lib/fake_file_manager.py" "$1" &
    fm=$!
    disown "$fm"
    wait_for_name org.freedesktop.FileManager1
}

set_scheme() {
    gdbus call --session --dest org.freedesktop.portal.Desktop \
        --object-path /org/freedesktop/portal/desktop \
        --method io.github.spacemole.FakePortal.SetColorScheme "$1" >/dev/null
}

# write_settings THEME: a settings.json as the program writes it.
write_settings() {
    mkdir -p "$config"
    printf '{\n  "language": "en",\n  "theme": "%s",\n  "color_mode": "heat",\n  "view_mode": "map",\n  "sort_field": "size",\n  "sort_ascending": "no",\n  "dedupe_hard_links": "yes",\n  "one_filesystem": "no"\n}\n' \
        "$1" >"$config/settings.json"
}

# start_journey DIR: the map journeys' tree in DIR (big, most of it and the
# left tile, with a folder inside; mid; small), shown in the light theme.
start_journey() {
    mkdir -p "$1/big/inner" "$1/mid" "$1/small"
    head -c 6000000 /dev/zero >"$1/big/inner/a.bin"
    head -c 2000000 /dev/zero >"$1/big/b.bin"
    head -c 1500000 /dev/zero >"$1/mid/c.bin"
    head -c 400000 /dev/zero >"$1/small/d.bin"
    write_settings light
    start_app "$1"
}

# steady_map X Y FILE: waits up to 10 s until the pixel at (X, Y) is a
# tile's, not the background, and the same in two shots running; FILE keeps
# the last shot. Scanning a tiny tree is quick, drawing it asynchronous.
steady_map() {
    local prev= got i
    for ((i = 0; i < 100; i++)); do
        shot "$3"
        got=$(pixel "$3" "$1" "$2")
        [ "$got" != "$WINDOW_BG" ] && [ "$got" = "$prev" ] && return 0
        prev=$got
        sleep 0.1
    done
    echo "the map at ($1, $2) did not settle (last $got)"
    return 1
}

# pixels_apart A B Y H: how many pixels of rows Y..Y+H differ between two
# shots; diff_band and same_band: whether any do.
pixels_apart() {
    /usr/bin/convert "$1" -crop "${WW}x$4+0+$3" +repage "$work/band-a.png"
    /usr/bin/convert "$2" -crop "${WW}x$4+0+$3" +repage "$work/band-b.png"
    /usr/bin/compare -metric AE "$work/band-a.png" "$work/band-b.png" null: 2>&1
}
diff_band() { local n; n=$(pixels_apart "$@"); [ "${n%% *}" -gt 0 ] 2>/dev/null; }
same_band() { local n; n=$(pixels_apart "$@"); [ "${n%% *}" = 0 ]; }
