#!/usr/bin/env bash
# Test code against program code, in lines that carry code: non-blank lines of
# .cpp/.h files that are not only a // comment. Generated headers (catalogue, icon) are left out
# of the program side. Prints the ratio; never fails a build.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
count() {
  local n=0 f
  for f in "$@"; do
    [ -f "$f" ] || continue
    n=$((n + $(grep -Ev '^[[:space:]]*(//.*)?$' "$f" | wc -l)))
  done
  echo "$n"
}
cd "$root" || exit 0
mapfile -t test_files < <(find tests -type f \( -name '*.cpp' -o -name '*.h' \) | sort)
mapfile -t code_files < <(find src tools -type f \( -name '*.cpp' -o -name '*.h' \) \
  ! -name 'i18n_data.h' ! -name 'icon_data.h' ! -name '*.gen.h' | sort)
tests=$(count "${test_files[@]}")
code=$(count "${code_files[@]}")
if [ "${1:-}" = "-v" ]; then
  for f in "${test_files[@]}" "${code_files[@]}"; do printf '%6d %s\n' "$(count "$f")" "$f"; done
fi
awk -v t="$tests" -v c="$code" 'BEGIN {
  printf "test ratio: %d test lines / %d code lines = %.2f\n", t, c, (c ? t / c : 0) }'
