#!/usr/bin/env bash
# Fails when a core source, or a project header it includes (directly or
# through other headers), includes a GTK, GDK, GLib/GIO, cairo or pango header:
# the core layer must build and run without the desktop libraries.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# The core list from CMakeLists.txt: the lines between set(CORE_SOURCES and ).
mapfile -t core < <(awk '/^set\(CORE_SOURCES/ {on = 1; next} on && /\)/ {exit}
                         on {gsub(/[[:space:]]/, ""); if ($0 != "") print}' CMakeLists.txt)
if [ "${#core[@]}" -eq 0 ]; then
  echo "check_layers: no core sources found in CMakeLists.txt" >&2
  exit 1
fi
forbidden='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"](gtk|gdk|glib|gio|gobject|cairo|pango|harfbuzz)[^>"]*[>"]'
declare -A seen=()
queue=("${core[@]}")
bad=0
while [ "${#queue[@]}" -gt 0 ]; do
  f=${queue[0]}
  queue=("${queue[@]:1}")
  [ -n "${seen[$f]:-}" ] && continue
  seen[$f]=1
  if [ ! -f "$f" ]; then
    echo "check_layers: $f is listed but missing" >&2
    bad=1
    continue
  fi
  if grep -nE "$forbidden" "$f" | sed "s|^|$f:|" | grep .; then bad=1; fi
  # Follow the project's own headers ("name.h" next to the file).
  while read -r inc; do
    dir=$(dirname "$f")
    [ -f "$dir/$inc" ] && queue+=("$dir/$inc")
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/p' "$f")
done
if [ "$bad" -ne 0 ]; then
  echo "check_layers: the core layer includes desktop headers (see above)" >&2
  exit 1
fi
echo "layers: ${#seen[@]} core files free of GTK, GLib, cairo and pango"
