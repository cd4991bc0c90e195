#!/usr/bin/env bash
# spacemole-scan against coreutils du on a generated 20,000-entry tree: exact
# totals with and without hard-link de-duplication, a strictly parsed export
# that lists every entry and adds up to the report, and the error exits.
set -euo pipefail

src=${SPACEMOLE_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
bin=${SPACEMOLE_BINARY_DIR:-$src/build}/spacemole-scan
work=$(mktemp -d "${TMPDIR:-/tmp}/spacemole-e2e-XXXXXX")
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
passed=0
failed=0
check() { # check NAME COMMAND...
    if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

python3 "$src/bench/make_tree.py" "$work/tree" 20000 e2e >/dev/null
# Settle block allocation first: writeback can add an extent block to a
# large file, so sizes taken before and after it would differ.
sync -f "$work/tree"

"$bin" --json "$work/tree" >"$work/report.json"
"$bin" --json --count-links "$work/tree" >"$work/report_links.json"
"$bin" --export "$work/export.json" --json "$work/tree" >"$work/report_export.json"
"$bin" --export - --count-links "$work/tree" >"$work/export_links.json" 2>"$work/text_report.txt"
"$bin" --json --threads 5 "$work/tree" >"$work/report_threads.json"

du_once=$(du -sB1 "$work/tree" | cut -f1)
du_links=$(du -sB1 --count-links "$work/tree" | cut -f1)
field() { python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))[sys.argv[2]])' "$@"; }

check "total equals du -sB1" test "$(field "$work/report.json" total_bytes)" = "$du_once"
check "total with --count-links equals du --count-links" \
    test "$(field "$work/report_links.json" total_bytes)" = "$du_links"
check "hard links make a difference in this tree" test "$du_once" != "$du_links"
check "total on five threads equals du -sB1" \
    test "$(field "$work/report_threads.json" total_bytes)" = "$du_once"
check "the report names the threads asked for" test "$(field "$work/report_threads.json" threads)" = 5
check "text report names the occupied bytes" grep -q "($du_links bytes)" "$work/text_report.txt"
# Junk is offered only inside the home (or on removable media).
HOME="$work" "$bin" --json "$work/tree" >"$work/report_home.json"
check "junk outside the home is not reclaimable" \
    test "$(field "$work/report.json" reclaimable_bytes)" = 0
check "junk inside the home is reclaimable" \
    test "$(field "$work/report_home.json" reclaimable_bytes)" -gt 0

entries=$(find "$work/tree" | wc -l)
# The check runs the parser itself: a failed assertion counts as a failed check
# (set -e would otherwise end the script before the check could say which).
check "export parses strictly and adds up" python3 - "$work" "$entries" <<'PY'
import json, sys
work = sys.argv[1]
entries = int(sys.argv[2])
def strict(path):
    def no_constants(name):
        raise ValueError("not JSON: " + name)
    with open(path, encoding="utf-8") as f:
        return json.load(f, parse_constant=no_constants)

report = strict(work + "/report_export.json")
for key in ("path", "total_bytes", "files", "folders", "denied_folders", "skipped_folders",
            "reclaimable_bytes", "seconds", "threads", "largest"):
    assert key in report, key
assert report["path"] == work + "/tree"
assert report["threads"] >= 2
assert 0 < len(report["largest"]) <= 10
for item in report["largest"]:
    assert set(item) == {"path", "bytes", "is_directory"}, item
sizes = [i["bytes"] for i in report["largest"]]
assert sizes == sorted(sizes, reverse=True), sizes

def walk(doc, count_links_once):
    assert isinstance(doc, list) and doc[0] == 1 and doc[1] == 2, doc[:2]
    header = doc[2]
    assert header["progname"] == "spacemole" and isinstance(header["timestamp"], int)
    assert len(doc) == 4
    seen = set()
    totals = {"bytes": 0, "items": 0, "folders": 0}
    stack = [(doc[3], True, None)]
    while stack:
        item, is_root, dev = stack.pop()
        totals["items"] += 1
        if isinstance(item, list):
            info = item[0]
            totals["folders"] += 1
            for c in item[1:]:
                stack.append((c, False, item[0].get("dev", dev)))
        else:
            info = item
        assert isinstance(info, dict), info
        assert info["asize"] >= 0 and info["dsize"] >= 0 and info["dsize"] % 512 == 0
        assert isinstance(info["mtime"], int) and isinstance(info["name"], str)
        if is_root:
            assert info["name"] == work + "/tree", info["name"]
        else:
            assert "/" not in info["name"], info["name"]
        if info.get("hlnkc"):
            key = (info.get("dev", dev), info["ino"])  # "dev" is inherited
            if count_links_once and key in seen:
                continue
            seen.add(key)
        totals["bytes"] += info["dsize"]
    return totals

once = walk(strict(work + "/export.json"), True)
assert once["bytes"] == report["total_bytes"], (once, report["total_bytes"])
assert once["items"] == entries, (once, entries)
assert once["folders"] == report["folders"] - report["skipped_folders"]

links_report_total = strict(work + "/report_links.json")["total_bytes"]
every = walk(strict(work + "/export_links.json"), False)
assert every["bytes"] == links_report_total, (every, links_report_total)
PY

# Control characters in names never reach the terminal, the scanned path's included.
odd="$work/odd"$'\n'"name"$'\033'"[31m"
mkdir -p "$odd/sub"$'\033'"[2J"
head -c 5000 /dev/urandom >"$odd/sub"$'\033'"[2J/big"$'\r'"file"
"$bin" --top 3 "$odd" >"$work/odd_report.txt"
check "scanned path with control characters is shown on one line" \
    test "$(head -n 1 "$work/odd_report.txt")" = "Scan of $work/odd\\nname\\x1b[31m"
check "no control characters in the text report" \
    test "$(tr -d '\n' <"$work/odd_report.txt" | LC_ALL=C tr -d '\040-\176\200-\377' | wc -c)" -eq 0

set +e
"$bin" "$work/missing" >"$work/out" 2>"$work/err"
check "missing path exits 1" test $? -eq 1
check "missing path says one line" test "$(wc -l <"$work/err")" -eq 1
check "nothing on stdout for an error" test ! -s "$work/out"
"$bin" --export /nonexistent-dir/x.json "$work/tree" >/dev/null 2>"$work/err"
check "unwritable export exits 1" test $? -eq 1
"$bin" --bogus "$work/tree" >/dev/null 2>&1
check "unknown option exits 2" test $? -eq 2
"$bin" --threads 0 "$work/tree" >/dev/null 2>&1
check "--threads 0 exits 2" test $? -eq 2
mkdir -p "$work/locked/inside"
chmod 000 "$work/locked"
chmod 755 "$work"
if [ "$(id -u)" = 0 ]; then
    setpriv --reuid=65534 --regid=65534 --clear-groups "$bin" "$work/locked" >/dev/null 2>"$work/err"
else
    "$bin" "$work/locked" >/dev/null 2>"$work/err"
fi
check "unreadable root exits 1" test $? -eq 1
check "unreadable root says one line" test "$(wc -l <"$work/err")" -eq 1
set -e

echo "$passed passed, $failed failed"
test "$failed" -eq 0
