#!/usr/bin/env bash
# Times spacemole-scan (Release) against `du -sx` and bench/bare_walk (a bare
# two-thread walk that keeps no tree) on generated trees of 200,000 and
# 1,000,000 entries: warm cache, median of 5 interleaved runs each, wall and
# CPU seconds and peak RSS, with ratios. Then times cancellation on the
# largest tree.
#
#   bench/scan_bench.sh [COUNT...]     (default: 200000 1000000)
#
# Trees are kept in bench/trees/ (git-ignored) for the next run; delete that
# folder to free the space.
set -euo pipefail
cd "$(dirname "$0")/.."
counts=("${@:-200000 1000000}")
read -r -a counts <<<"${counts[*]}"
runs=5
build=build-bench

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target spacemole-scan scan_cancel_bench >/dev/null
g++ -O2 -std=c++20 -pthread bench/bare_walk.cpp -o "$build/bare_walk"
scan_bin="$build/spacemole-scan"

mkdir -p bench/trees
for n in "${counts[@]}"; do
    tree="bench/trees/t$n"
    if [ ! -d "$tree" ]; then
        echo "making $tree ..."
        python3 bench/make_tree.py "$tree" "$n" 1 | tail -1 >"bench/trees/t$n.json"
    fi
done

# time_one LABEL CMD... -> prints "wall user+sys maxrss_kib"
time_one() {
    local out
    out=$(mktemp)
    /usr/bin/time -o "$out" -f '%e %U %S %M' "$@" >/dev/null 2>&1 || true
    awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$out"
    rm -f "$out"
}
median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

printf '%-10s %-12s %9s %9s %11s %9s %9s %9s\n' tree program wall_s cpu_s peak_MiB \
    'wall/bare' 'cpu/bare' 'B/entry'
for n in "${counts[@]}"; do
    tree="bench/trees/t$n"
    entries=$(find "$tree" | wc -l)
    du -sx "$tree" >/dev/null # warm the cache
    declare -A wall=() cpu=() rss=()
    for ((i = 0; i < runs; i++)); do
        for prog in spacemole du bare; do
            case $prog in
            spacemole) r=$(time_one "$scan_bin" --top 10 "$tree") ;;
            du) r=$(time_one du -sx "$tree") ;;
            bare) r=$(time_one "$build/bare_walk" "$tree") ;;
            esac
            read -r w c m <<<"$r"
            wall[$prog]+="$w "
            cpu[$prog]+="$c "
            rss[$prog]+="$m "
        done
    done
    bare_w=$(tr ' ' '\n' <<<"${wall[bare]}" | grep . | median)
    bare_c=$(tr ' ' '\n' <<<"${cpu[bare]}" | grep . | median)
    for prog in spacemole du bare; do
        w=$(tr ' ' '\n' <<<"${wall[$prog]}" | grep . | median)
        c=$(tr ' ' '\n' <<<"${cpu[$prog]}" | grep . | median)
        m=$(tr ' ' '\n' <<<"${rss[$prog]}" | grep . | median)
        awk -v t="$n" -v p="$prog" -v w="$w" -v c="$c" -v m="$m" -v bw="$bare_w" -v bc="$bare_c" \
            -v e="$entries" 'BEGIN { printf "%-10s %-12s %9.3f %9.3f %11.1f %9.2f %9.2f %9.0f\n",
                t, p, w, c, m / 1024, w / bw, (bc > 0 ? c / bc : 0), m * 1024 / e }'
    done
    unset wall cpu rss
done

largest="bench/trees/t${counts[-1]}"
echo
echo "cancellation on $largest:"
"$build/bench/scan_cancel_bench" "$largest"
