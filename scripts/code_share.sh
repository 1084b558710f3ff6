#!/usr/bin/env bash
# Lines of test code (tests/: C++ and shell) against lines of program code (sources/, platform/,
# hosts/: C++), blank and comment lines included, as tracked by git.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { git ls-files -z "$@" | xargs -0 -r cat | wc -l; }
tests=$(count 'tests/*.cpp' 'tests/*.h' 'tests/*.sh')
code=$(count 'sources/*.cpp' 'sources/*.h' 'platform/*.cpp' 'platform/*.h' 'hosts/*.cpp' 'hosts/*.h')
echo "test lines: $tests"
echo "code lines: $code"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests/code: %.0f%%\n", 100 * t / c }'
