#!/usr/bin/env bash
# Re-takes the README's screenshots under Xvfb: the scanning screen, the
# welcome screen and a result, each in the light and the dark palette, into
# docs/screenshots/<screen>-<light|dark>.png. Builds the program first when
# build/ is configured (SPACEMOLE_BINARY_DIR for another build folder).
# Usage: scripts/screenshots.sh
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export SPACEMOLE_SOURCE_DIR=$root SPACEMOLE_BINARY_DIR=${SPACEMOLE_BINARY_DIR:-$root/build}
if [ -z "${SPACEMOLE_E2E_INNER:-}" ] && [ -f "$SPACEMOLE_BINARY_DIR/build.ninja" ]; then
    cmake --build "$SPACEMOLE_BINARY_DIR" --target spacemole >/dev/null || exit 1
fi
. "$root/tests/e2e/lib/window.sh"

out=$root/docs/screenshots
mkdir -p "$out"
# A fixed, readable path for the breadcrumbs and the scanning screen.
demo=/tmp/spacemole-demo
rm -rf "$demo"
python3 "$root/bench/make_tree.py" "$demo/Projects" 4000 screenshots >/dev/null

take() { # take NAME: screenshot of the window into $out/NAME.png
    shot "$out/$1.png" && echo "wrote $out/$1.png"
}

for theme in light dark; do
    if [ $theme = light ]; then bg=$WINDOW_BG accent=$ACCENT; else bg=$WINDOW_BG_DARK accent=$ACCENT_DARK; fi
    write_settings $theme

    start_app -v || exit 1
    wait_pixel $BG_X $BG_Y "$bg" && take "empty-$theme"
    press ctrl+q
    wait_exit

    echo 30 >"$slow" # about 7 s of scanning, so the counters are caught mid-way
    start_app "$demo/Projects" || exit 1
    sleep 2.5
    take "scanning-$theme"
    press ctrl+q
    wait_exit
    rm -f "$slow"

    start_app "$demo/Projects" || exit 1
    wait_pixel $DOWN_X $DOWN_Y "$accent" && take "result-$theme"
    press ctrl+q
    wait_exit
done
rm -rf "$demo"
stderr_clean
