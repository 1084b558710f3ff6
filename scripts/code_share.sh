#!/usr/bin/env bash
# How much of the code is tests: the C++ and shell lines under tests/ against every C++ and
# shell line of the repository, blank lines and comments included, tracked files only. A file
# counts as C++ by its extension (.cpp, .h, .c), as shell by its extension (.sh) or, without
# one, by a shell on its first line (.ci/run, the bash completion).
# Usage: scripts/code_share.sh [--max SHARE]; with --max the status is 1 above that share.
set -euo pipefail
cd "$(dirname "$0")/.."
max=
case "${1:-}" in
  --max) max=${2:?--max takes a share such as 0.33} ;;
  "") ;;
  *) echo "usage: $0 [--max SHARE]" >&2; exit 2 ;;
esac

is_code() {
  case "$1" in
    *.cpp | *.h | *.c | *.sh) return 0 ;;
    */*.* | *.*) return 1 ;;
  esac
  head -c 200 "$1" | head -n 1 | grep -qE '^#!.*\b(ba|da|z)?sh\b|shell-script'
}

tests=0 all=0
while IFS= read -r -d '' f; do
  [ -f "$f" ] && is_code "$f" || continue
  n=$(wc -l <"$f")
  all=$((all + n))
  case "$f" in tests/*) tests=$((tests + n)) ;; esac
done < <(git ls-files -z)

awk -v t="$tests" -v a="$all" -v max="$max" 'BEGIN {
  share = a ? t / a : 0
  printf "C++ and shell lines: %d, of which tests/: %d; tests share: %.3f\n", a, t, share
  if (max != "" && share > max + 0) { printf "above %s\n", max; exit 1 }
}'
