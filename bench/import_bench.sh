#!/usr/bin/env bash
# Opening a saved scan against scanning the same tree: spacemole-scan
# (Release) scans a generated tree of 1,000,000 entries, exports it, then
# opens the export with --import. Warm cache, median of 5 interleaved runs:
# wall and CPU seconds and peak RSS of each process, and the reader's own
# wall time (parse + tree, without process start and report). The reader is
# single-threaded, so on a busy machine its CPU time is the steadier figure. Exports of the same tree
# by ncdu and gdu are opened too when those programs are installed.
#
#   bench/import_bench.sh [COUNT]     (default: 1000000)
#
# Trees are kept in bench/trees/ (git-ignored), shared with scan_bench.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-1000000}
runs=5
build=build-bench

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target spacemole-scan >/dev/null
bin="$build/spacemole-scan"

tree="bench/trees/t$n"
mkdir -p bench/trees
if [ ! -d "$tree" ]; then
    echo "making $tree ..."
    python3 bench/make_tree.py "$tree" "$n" 1 | tail -1 >"bench/trees/t$n.json"
fi
exports=$(mktemp -d "${TMPDIR:-/tmp}/spacemole-import-bench-XXXXXX")
trap 'rm -rf "$exports"' EXIT
du -sx "$tree" >/dev/null # warm the cache
"$bin" --export "$exports/ours.json" "$tree" >/dev/null
sources=(ours)
if command -v ncdu >/dev/null; then
    ncdu -0 -o "$exports/ncdu.json" "$tree" </dev/null >/dev/null 2>&1
    sources+=(ncdu)
fi
if command -v gdu >/dev/null; then
    gdu -n -p -o "$exports/gdu.json" "$tree" </dev/null >/dev/null 2>&1
    sources+=(gdu)
fi

# run_one CMD... -> "wall maxrss_kib cpu own_seconds"
run_one() {
    local t out
    t=$(mktemp)
    out=$(/usr/bin/time -o "$t" -f '%e %M %U %S' "$@" 2>/dev/null)
    local secs
    secs=$(printf '%s' "$out" | python3 -c 'import json,sys; print(json.load(sys.stdin)["seconds"])')
    awk -v s="$secs" '{ printf "%s %s %.2f %s\n", $1, $2, $3 + $4, s }' "$t"
    rm -f "$t"
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

declare -A wall=() rss=() own=() cpu=()
for ((i = 0; i < runs; i++)); do
    read -r w r c s < <(run_one "$bin" --json "$tree")
    wall[scan]+="$w "; rss[scan]+="$r "; cpu[scan]+="$c "; own[scan]+="$s "
    for src in "${sources[@]}"; do
        read -r w r c s < <(run_one "$bin" --json --import "$exports/$src.json")
        wall[$src]+="$w "; rss[$src]+="$r "; cpu[$src]+="$c "; own[$src]+="$s "
    done
done

entries=$(find "$tree" | wc -l)
printf 'load average %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
printf 'tree: %s entries; exports: ours %s MiB' "$entries" \
    "$(($(stat -c %s "$exports/ours.json") / 1048576))"
for src in "${sources[@]:1}"; do
    printf ', %s %s MiB' "$src" "$(($(stat -c %s "$exports/$src.json") / 1048576))"
done
printf '\n%-16s %9s %9s %10s %9s\n' run wall_s cpu_s own_wall_s peak_MiB
for what in scan "${sources[@]}"; do
    label=$what
    [ "$what" != scan ] && label="import $what"
    w=$(tr ' ' '\n' <<<"${wall[$what]}" | grep . | median)
    s=$(tr ' ' '\n' <<<"${own[$what]}" | grep . | median)
    c=$(tr ' ' '\n' <<<"${cpu[$what]}" | grep . | median)
    r=$(tr ' ' '\n' <<<"${rss[$what]}" | grep . | median)
    printf '%-16s %9s %9s %10s %9s\n' "$label" "$w" "$c" "$s" "$(awk -v r="$r" 'BEGIN { printf "%.1f", r / 1024 }')"
done
