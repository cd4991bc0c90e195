#!/usr/bin/env bash
# Figures of the window (Release build):
#   1. start to first painted frame, under Xvfb, median of 10 starts;
#   2. draw_all of the shell at 1200 x 800 (Google Benchmark);
#   3. on a generated tree of COUNT entries, the App's scan with the main loop
#      running (longest stall, scan time) against spacemole-scan on the same
#      tree, interleaved, median of RUNS.
#
#   bench/app_bench.sh [COUNT] [RUNS]     (default: 1000000 5)
#
# The tree is made in $TMPDIR (default /tmp) and removed afterwards unless
# KEEP_TREE=1; set TREE=/path to use an existing one.
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-1000000}
runs=${2:-5}
build=build-bench

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target spacemole-scan app_scan_bench app_frame_bench \
    app_first_frame_bench >/dev/null

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

echo "== start to first painted frame (ms), $((runs * 2)) starts under Xvfb"
tmp=$(mktemp -d)
mkdir -m 700 "$tmp/rt"
first=$(HOME=$tmp XDG_RUNTIME_DIR=$tmp/rt NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory GDK_BACKEND=x11 \
    xvfb-run -a -s '-screen 0 1280x800x24' dbus-run-session -- bash -c \
    "for i in \$(seq $((runs * 2))); do $build/bench/app_first_frame_bench; done" 2>/dev/null)
echo "$first" | head -3
echo "$first" | awk '{ print $3 }' | median | xargs printf 'median from process start: %s ms\n'
echo "$first" | awk '{ print $8 }' | median | xargs printf 'median from main():        %s ms\n'
echo "$first" | awk '{ print $(NF - 1) }' | median | xargs printf 'median processor time:    %s ms\n'

echo "== draw_all of the shell, 1200 x 800"
"$build/bench/app_frame_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    2>/dev/null | grep -E 'median|Benchmark'

tree=${TREE:-}
made=0
if [ -z "$tree" ]; then
    tree="${TMPDIR:-/tmp}/spacemole-app-bench-$count"
    if [ ! -d "$tree" ]; then
        echo "making $tree ..."
        python3 bench/make_tree.py "$tree" "$count" 1 >/dev/null
        made=1
    fi
fi
cleanup() {
    rm -rf "$tmp"
    if [ "$made" = 1 ] && [ "${KEEP_TREE:-0}" != 1 ]; then rm -rf "$tree"; fi
}
trap cleanup EXIT

echo "== scan of $tree with the main loop running, against spacemole-scan"
du -sx "$tree" >/dev/null # warm the cache
cli=()
app=()
stall=()
for ((i = 0; i < runs; i++)); do
    t=$( { /usr/bin/time -f '%e' "$build/spacemole-scan" --top 10 "$tree" >/dev/null; } 2>&1 | tail -1)
    cli+=("$t")
    read -r s st own <<<"$("$build/bench/app_scan_bench" "$tree" | awk 'NR == 3 { print $2, $3, $4 }')"
    app+=("$s")
    stall+=("$st")
    echo "run $((i + 1)): spacemole-scan $t s, App scan $s s, longest main-loop stall $st ms" \
        "(of it not waiting for a processor: $own ms), load $(cut -d' ' -f1 /proc/loadavg)"
done
c=$(printf '%s\n' "${cli[@]}" | median)
a=$(printf '%s\n' "${app[@]}" | median)
s=$(printf '%s\n' "${stall[@]}" | median)
m=$(printf '%s\n' "${stall[@]}" | sort -n | tail -1)
awk -v c="$c" -v a="$a" -v s="$s" -v m="$m" 'BEGIN {
    printf "median: spacemole-scan %.3f s, App scan %.3f s (%+.1f %%), longest stall median %.2f ms, worst %.2f ms\n",
        c, a, (a / c - 1) * 100, s, m }'
