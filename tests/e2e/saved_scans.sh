#!/usr/bin/env bash
# Saved scans against the yardsticks on a generated 20,000-entry tree: our
# export read back by ncdu keeps its total and item count; exports written by
# ncdu and gdu open in spacemole-scan --import with the totals the files
# record; our own export opens with the scan's report; bad files and failed
# writes exit 1 with one line. Missing ncdu or gdu fail the test under CI.
set -euo pipefail

src=${SPACEMOLE_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
bin=${SPACEMOLE_BINARY_DIR:-$src/build}/spacemole-scan
work=$(mktemp -d "${TMPDIR:-/tmp}/spacemole-saved-XXXXXX")
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
check() { # check NAME COMMAND...
    if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}
have() { # have PROGRAM: present, or a failure under CI and a notice elsewhere
    if command -v "$1" >/dev/null; then return 0; fi
    if [ "${CI:-}" = true ]; then
        failed=$((failed + 1))
        echo "FAILED: $1 is not installed (scripts/install-deps.sh installs it)"
    else
        echo "NOTICE: $1 is not installed; its interoperability checks did not run"
    fi
    return 1
}

python3 "$src/bench/make_tree.py" "$work/tree" 20000 e2e >/dev/null
# Settle block allocation first: writeback can add an extent block to a
# large file, so sizes taken before and after it would differ.
sync -f "$work/tree"

# "TOTAL ITEMS" a file records: dsize summed with each (dev, ino) of a hard
# link once ("dev" is inherited from the folder), and every entry counted.
# Names may be raw bytes, as ncdu writes them.
cat >"$work/sum.py" <<'PY'
import json, sys
with open(sys.argv[1], "rb") as f:
    doc = json.loads(f.read().decode("utf-8", "surrogateescape"))
assert doc[0] == 1 and isinstance(doc[2], dict), doc[:2]
seen, total, items = set(), 0, 0
stack = [(doc[3], 0)]
while stack:
    item, dev = stack.pop()
    info = item[0] if isinstance(item, list) else item
    dev = info.get("dev", dev)
    items += 1
    if isinstance(item, list):
        stack.extend((c, dev) for c in item[1:])
    if info.get("hlnkc") and "ino" in info:
        if (dev, info["ino"]) in seen:
            continue
        seen.add((dev, info["ino"]))
    total += info.get("dsize", 0)
print(total, items)
PY
recorded() { python3 "$work/sum.py" "$1"; }
imported() { # imported FILE: "TOTAL" from spacemole-scan --import --json
    "$bin" --import "$1" --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["total_bytes"])'
}

du_total=$(du -sB1 "$work/tree" | cut -f1)
entries=$(find "$work/tree" | wc -l)
"$bin" --json --export "$work/ours.json" "$work/tree" >"$work/scan.json"
scan_total=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["total_bytes"])' "$work/scan.json")

check "our export records the du total and every entry" test "$(recorded "$work/ours.json")" = "$du_total $entries"
check "our export opens with the scan's total" test "$(imported "$work/ours.json")" = "$scan_total"
"$bin" --import "$work/ours.json" --json >"$work/import.json"
python3 - "$work/scan.json" "$work/import.json" <<'PY'
import json, sys
scan, saved = (json.load(open(p)) for p in sys.argv[1:3])
for key in ("path", "total_bytes", "files", "folders", "items", "reclaimable_bytes"):
    assert scan[key] == saved[key], (key, scan[key], saved[key])
for key in ("largest", "largest_folders", "largest_files", "junk"):
    assert sorted(i["bytes"] for i in scan[key]) == sorted(i["bytes"] for i in saved[key]), key
assert saved["saved_at"] > 0
PY
check "the report of our saved scan equals the scan's" test $? -eq 0
"$bin" --import "$work/ours.json" >"$work/import.txt"
check "the text report says it is a saved scan" grep -q "^Saved scan of $work/tree" "$work/import.txt"
check "a saved scan reads from standard input too" \
    test "$("$bin" --import - --json <"$work/ours.json" | python3 -c 'import json,sys; print(json.load(sys.stdin)["total_bytes"])')" = "$scan_total"

if have ncdu; then
    ncdu -0 -f "$work/ours.json" -o "$work/again.json" </dev/null >/dev/null 2>&1
    check "ncdu reads our export back with the same total and item count" \
        test "$(recorded "$work/again.json")" = "$(recorded "$work/ours.json")"
    ncdu -0 -o "$work/ncdu.json" "$work/tree" </dev/null >/dev/null 2>&1
    ncdu_recorded=$(recorded "$work/ncdu.json")
    check "ncdu's export records the du total" test "${ncdu_recorded% *}" = "$du_total"
    check "ncdu's export opens with the total it records" \
        test "$(imported "$work/ncdu.json")" = "${ncdu_recorded% *}"
    echo "ncdu: records $ncdu_recorded, opens with $(imported "$work/ncdu.json")"
fi
if have gdu; then
    gdu -n -p -o "$work/gdu.json" "$work/tree" </dev/null >/dev/null 2>&1
    gdu_recorded=$(recorded "$work/gdu.json")
    check "gdu's export opens with the total it records" \
        test "$(imported "$work/gdu.json")" = "${gdu_recorded% *}"
    echo "gdu: records $gdu_recorded, opens with $(imported "$work/gdu.json")"
fi

# Bad files: exit 1, one line on stderr, nothing on stdout.
printf '[1,2,{},[{"name":"/x"},{"name":"a","dsize":' >"$work/cut.json"
printf '[2,0,{},{"name":"x"}]' >"$work/v2.json"
set +e
for bad in cut v2 missing; do
    "$bin" --import "$work/$bad.json" >"$work/out" 2>"$work/err"
    check "$bad: exit 1" test $? -eq 1
    check "$bad: one line" test "$(wc -l <"$work/err")" -eq 1
    check "$bad: nothing on stdout" test ! -s "$work/out"
done
"$bin" --import "$work/cut.json" 2>"$work/err"
check "a cut file says so and names the offset" \
    grep -q "ends too early (cut off while it was written?) (at byte $(wc -c <"$work/cut.json"))" "$work/err"
"$bin" --import "$work/ours.json" "$work/tree" >/dev/null 2>&1
check "--import with a PATH is a usage error" test $? -eq 2
"$bin" --top >/dev/null 2>"$work/err"
check "a missing value is a usage error" test $? -eq 2
check "and says which option" grep -q "^spacemole-scan: --top needs a value" "$work/err"
if [ -w /dev/full ]; then
    "$bin" --export - "$work/tree" >/dev/full 2>"$work/err"
    check "a failed export to standard output exits 1" test $? -eq 1
    check "and says why" grep -q "No space left on device" "$work/err"
fi
cp "$work/ours.json" "$work/keep.json"
chmod 555 "$work"
"$bin" --export "$work/keep.json" "$work/tree" >/dev/null 2>&1
status=$?
chmod 755 "$work"
if [ "$(id -u)" != 0 ]; then
    check "an export that cannot be written exits 1" test $status -eq 1
    check "and leaves the old file" cmp -s "$work/ours.json" "$work/keep.json"
fi
set -e

echo "$passed passed, $failed failed"
test "$failed" -eq 0
