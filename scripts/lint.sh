#!/usr/bin/env bash
# Style and static checks: every tracked C++ file as clang-format would leave it, the layout's
# rules on includes, and clang-tidy (the checks in .clang-tidy) over the programs' own sources.
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

# The layout: a private header (_p.h) only inside its library and that library's own unit tests;
# no using declarations or directives in the headers of the module, the platform, the hosts and
# the programs; the module and the platform include no host or program; a host includes the core
# and itself, never a sibling host, a program or the module (hosts know only the view base).
layout=()
while IFS= read -r -d '' f; do
  includes=$(grep -E '^#include "' "$f" | sed -E 's/^#include "([^"]*)".*/\1/')
  for inc in $includes; do
    case $inc in
      *_p.h)
        lib=${inc%%/*}
        case $f in platform/$lib/* | tests/unit/*) ;; *) layout+=("$f: includes $inc, private to $lib") ;; esac
        ;;
      sources/*)
        case $f in hosts/* | platform/*) layout+=("$f: includes $inc") ;; esac
        ;;
      hosts/* | programs/*)
        case $f in
          sources/* | platform/*) layout+=("$f: includes $inc") ;;
          hosts/core/*) [[ $inc == hosts/core/* ]] || layout+=("$f: includes $inc") ;;
          hosts/*)
            own=${f#hosts/}
            own=hosts/${own%%/*}/
            [[ $inc == hosts/core/* || $inc == "$own"* ]] || layout+=("$f: includes $inc") ;;
        esac
        ;;
    esac
  done
  if [[ $f == *.h && $f != tests/* ]] && grep -qE '^\s*using (namespace )?[A-Za-z_:]+::[A-Za-z_]*;|^\s*using namespace ' "$f"; then
    layout+=("$f: a using declaration in a header")
  fi
done < <(git ls-files -z '*.h' '*.cpp')
if [ ${#layout[@]} -gt 0 ]; then
  echo "lint: the layout's rules are broken:"
  printf '  %s\n' "${layout[@]}"
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
if ! "$tidy" -p "$build" -j "$jobs" -quiet "$PWD/(sources|platform|hosts|programs)/" >"$log" 2>&1; then
  grep -E '(warning|error):' "$log" | sort -u
  echo "lint: clang-tidy found problems (see above)"
  status=1
fi
[ $status -eq 0 ] && echo "lint: clang-format and clang-tidy clean"
exit $status
