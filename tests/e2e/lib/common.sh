# Shared by the end-to-end scripts (sourced, never run): paths, a temp folder
# removed on exit, tool checks that skip outside CI, and the pass/fail tally.

src=${SPACEMOLE_SOURCE_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd)}
build=${SPACEMOLE_BINARY_DIR:-$src/build}
work=$(mktemp -d "${TMPDIR:-/tmp}/spacemole-e2e-XXXXXX")
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
passed=0
failed=0

check() { # check NAME COMMAND...
    if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

finish() {
    echo "$passed passed, $failed failed"
    test "$failed" -eq 0
    exit
}

# skip_or_fail REASON: exit 77 (skipped), or 1 under CI, where a lost install
# step must not pass silently.
skip_or_fail() {
    if [ "${CI:-}" = true ]; then
        echo "FAILED: $1"
        exit 1
    fi
    echo "skipped: $1"
    exit 77
}

require_tools() { # require_tools TOOL...
    local missing=() t
    for t in "$@"; do
        command -v "$t" >/dev/null 2>&1 || [ -x "$t" ] || missing+=("$t")
    done
    [ ${#missing[@]} -eq 0 ] || skip_or_fail "missing ${missing[*]}"
}
