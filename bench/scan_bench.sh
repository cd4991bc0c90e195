#!/usr/bin/env bash
# Times spacemole-scan (Release) against gdu (`gdu -n -p`), ncdu
# (`ncdu -0 -o /dev/null`), `du -sx` and bench/bare_walk (a bare two-thread
# walk that keeps no tree) on generated trees of 200,000 and 1,000,000
# entries: warm cache, median of 5 rounds, wall and CPU seconds and peak RSS,
# with ratios. Every round runs each program once, in an order that rotates
# from round to round, so a burst of load from elsewhere on a shared machine
# hits all of them alike: compare ratios from one run of this script, not
# seconds across runs. Then a cold-cache run at 2, 4 and 8 threads (needs
# permission to drop the kernel's caches; skipped with a note otherwise), the
# check that the totals equal `du -sB1`, and cancellation on the largest tree.
#
#   bench/scan_bench.sh [COUNT...]     (default: 200000 1000000)
#
# Environment: BEFORE=path/to/an/older/spacemole-scan adds it as "before" to
# the same rounds; RUNS (default 5); COLD_TREE (default: the largest tree).
#
# Trees are kept in bench/trees/ (git-ignored) for the next run; delete that
# folder to free the space.
set -euo pipefail
cd "$(dirname "$0")/.."
counts=("${@:-200000 1000000}")
read -r -a counts <<<"${counts[*]}"
runs=${RUNS:-5}
build=build-bench

for tool in gdu ncdu; do
    command -v "$tool" >/dev/null || {
        echo "missing $tool: run scripts/install-deps.sh --bench" >&2
        exit 1
    }
done
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

# time_one CMD... -> prints "wall user+sys maxrss_kib"
time_one() {
    local out
    out=$(mktemp)
    /usr/bin/time -o "$out" -f '%e %U %S %M' "$@" >/dev/null 2>&1 || true
    awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$out"
    rm -f "$out"
}
median() { tr ' ' '\n' | grep . | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

programs=(spacemole)
[ -n "${BEFORE:-}" ] && programs+=(before)
programs+=(gdu ncdu du bare)

run_prog() { # run_prog PROGRAM TREE
    case $1 in
    spacemole) time_one "$scan_bin" --top 10 "$2" ;;
    before) time_one "$BEFORE" --top 10 "$2" ;;
    gdu) time_one gdu -n -p "$2" ;;
    ncdu) time_one ncdu -0 -o /dev/null "$2" ;;
    du) time_one du -sx "$2" ;;
    bare) time_one "$build/bare_walk" "$2" ;;
    esac
}

echo "load before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-9s %-10s %7s %7s %9s %6s %6s %6s %6s %7s\n' tree program wall_s cpu_s peak_MiB \
    '/bare' '/gdu' '/ncdu' 'cpu/b' 'B/entry'
for n in "${counts[@]}"; do
    tree="bench/trees/t$n"
    entries=$(find "$tree" | wc -l)
    du -sx "$tree" >/dev/null # warm the cache
    declare -A wall=() cpu=() rss=()
    k=${#programs[@]}
    for ((i = 0; i < runs; i++)); do
        for ((j = 0; j < k; j++)); do
            prog=${programs[$(((i + j) % k))]}
            read -r w c m <<<"$(run_prog "$prog" "$tree")"
            wall[$prog]+="$w "
            cpu[$prog]+="$c "
            rss[$prog]+="$m "
        done
    done
    bare_w=$(median <<<"${wall[bare]}")
    bare_c=$(median <<<"${cpu[bare]}")
    gdu_w=$(median <<<"${wall[gdu]}")
    ncdu_w=$(median <<<"${wall[ncdu]}")
    for prog in "${programs[@]}"; do
        w=$(median <<<"${wall[$prog]}")
        c=$(median <<<"${cpu[$prog]}")
        m=$(median <<<"${rss[$prog]}")
        awk -v t="$n" -v p="$prog" -v w="$w" -v c="$c" -v m="$m" -v bw="$bare_w" -v bc="$bare_c" \
            -v gw="$gdu_w" -v nw="$ncdu_w" -v e="$entries" 'BEGIN {
                printf "%-9s %-10s %7.2f %7.2f %9.1f %6.2f %6.2f %6.2f %6.2f %7.0f\n",
                t, p, w, c, m / 1024, w / bw, w / gw, w / nw, (bc > 0 ? c / bc : 0), m * 1024 / e }'
    done
    unset wall cpu rss
    ours=$("$scan_bin" --json "$tree" | python3 -c 'import json,sys; print(json.load(sys.stdin)["total_bytes"])')
    theirs=$(du -sB1 "$tree" | cut -f1)
    if [ "$ours" = "$theirs" ]; then
        echo "t$n: total $ours bytes, equal to du -sB1"
    else
        echo "t$n: total $ours bytes, du -sB1 says $theirs: MISMATCH"
    fi
done
echo "load after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
cold_tree=${COLD_TREE:-bench/trees/t${counts[-1]}}
if sync && echo 3 2>/dev/null >/proc/sys/vm/drop_caches; then
    echo "cold cache, $cold_tree (caches dropped before each run):"
    for threads in 2 4 8; do
        sync
        echo 3 >/proc/sys/vm/drop_caches
        read -r w c m <<<"$(time_one "$scan_bin" --threads "$threads" "$cold_tree")"
        printf '  %d threads: %6.2f s wall, %6.2f s cpu\n' "$threads" "$w" "$c"
    done
else
    echo "cold cache: skipped, this user may not write /proc/sys/vm/drop_caches" \
        "(run as root outside a container to see what more threads buy on a cold disk)"
fi

largest="bench/trees/t${counts[-1]}"
echo
echo "cancellation on $largest:"
"$build/bench/scan_cancel_bench" "$largest"
