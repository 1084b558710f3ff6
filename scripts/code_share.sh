#!/usr/bin/env bash
# How much of the tree is tests. Test lines: tests/ (C++ and shell). Code lines: the programs'
# C++ in sources/, platform/ and hosts/. Blank and comment lines count; only tracked files.
# Prints both counts, tests against code, and tests as a share of every tracked line.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { git ls-files -z "$@" | xargs -0 -r cat | wc -l; }
tests=$(count 'tests/*.cpp' 'tests/*.h' 'tests/*.sh')
code=$(count 'sources/*.cpp' 'sources/*.h' 'platform/*.cpp' 'platform/*.h' 'hosts/*.cpp' 'hosts/*.h')
all=$(count)
all_tests=$(count tests)
echo "test lines: $tests"
echo "code lines: $code"
awk -v t="$tests" -v c="$code" -v a="$all" -v at="$all_tests" 'BEGIN {
  printf "tests against code: %.0f%%\n", 100 * t / c
  printf "tests/ in all tracked lines: %.0f%% (%d of %d)\n", 100 * at / a, at, a
}'
