#!/usr/bin/env bash
# Style and static checks: every tracked C++ file as clang-format would leave it, and clang-tidy
# (the checks in .clang-tidy) over the programs' own sources.
# Usage: scripts/lint.sh [build-dir] [jobs]; the build dir must hold compile_commands.json.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
jobs=${2:-2}
status=0

command -v clang-format >/dev/null || { echo "lint: clang-format not found"; exit 1; }
mapfile -t files < <(git ls-files '*.h' '*.cpp')
unformatted=()
for f in "${files[@]}"; do
  [ -f "$f" ] || continue
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "lint: clang-format would change these files (run clang-format -i on them):"
  printf '  %s\n' "${unformatted[@]}"
  status=1
fi

tidy=$(command -v run-clang-tidy-14 || command -v run-clang-tidy || true)
if [ -z "$tidy" ]; then
  echo "lint: run-clang-tidy not found (install clang-tidy)"
  exit 1
fi
if [ ! -f "$build/compile_commands.json" ]; then
  echo "lint: $build/compile_commands.json missing (configure the build first)"
  exit 1
fi
# Only the programs' sources; the tests and the benchmark are left to the compiler's warnings.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! "$tidy" -p "$build" -j "$jobs" -quiet "$PWD/(sources|platform|hosts)/" >"$log" 2>&1; then
  grep -E '(warning|error):' "$log" | sort -u
  echo "lint: clang-tidy found problems (see above)"
  status=1
fi
[ $status -eq 0 ] && echo "lint: clang-format and clang-tidy clean"
exit $status
