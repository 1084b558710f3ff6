#!/usr/bin/env bash
# debian/control's Build-Depends names every package that CMake needs for the package's build
# (configured as debian/rules configures it, traced): the package of every pkg-config module our
# CMake files require, of every program and CMake package file they found, and of every file
# under /usr they name (the Wayland protocols, wayland-scanner) is named there (or provides a
# name there), or comes with build-essential, or is Essential. dpkg-checkbuilddeps passes here.
set -euo pipefail
for tool in cmake dpkg-checkbuilddeps pkg-config jq apt-cache; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool (make test-deps)" >&2 && exit 77; }
done
SCRATCH=$(mktemp -d /tmp/nimbrel-build-depends-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT
cd "$NIMBREL_SOURCE"
dpkg-checkbuilddeps || exit 1

cmake -S . -B "$SCRATCH/build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_INSTALL_PREFIX=/usr --trace-expand --trace-format=json-v1 \
  --trace-redirect="$SCRATCH/trace" >/dev/null
# Calls made by our own CMake files, not by CMake's modules.
jq -c --arg src "$PWD/" 'select((.file // "") | startswith($src))' "$SCRATCH/trace" >"$SCRATCH/ours"
{
  jq -r '.args[] | sub("^//"; "/") | select(startswith("/usr/"))' "$SCRATCH/ours"
  sed -n '/^\(pkgcfg_lib_\|CMAKE_INSTALL_\)/d; s/^[^:]*:\(FILE\)\?PATH=\(\/usr\/.*\)/\2/p' \
    "$SCRATCH/build/CMakeCache.txt"
  # A QUIET module is optional (a benchmark's): the build goes on without it.
  for module in $(jq -r 'select(.cmd == "pkg_check_modules" and (.args | index("QUIET") | not))
    | .args[1:][]' "$SCRATCH/ours" |
    grep -vxE 'REQUIRED|QUIET|IMPORTED_TARGET|GLOBAL|NO_CMAKE_(ENVIRONMENT_)?PATH') \
    $(jq -r 'select(.cmd == "pkg_get_variable") | .args[1]' "$SCRATCH/ours"); do
    pkg-config --path "$module"
  done
} | sort -u >"$SCRATCH/files"

named=$(sed -n '/^Build-Depends:/,/^[^ ]/{/^[^ ]/{/^Build-Depends:/!d}; s/^Build-Depends://; p}' \
  debian/control | tr ',|' '\n' | awk 'NF { print $1 }' | sed 's/:.*//')
given=$(apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
  --no-breaks --no-replaces --no-enhances build-essential | grep '^[a-z0-9]'
  dpkg-query -W -f='${Essential} ${Package}\n' | sed -n 's/^yes //p')
failures=0
while read -r file; do
  [ -e "$file" ] || continue
  # Alternatives (cc, c++) are owned where they lead, programs in /bin since /usr was merged.
  owners=$(for path in "$file" "$(realpath "$file")" "/${file#/usr/}"; do dpkg -S "$path" && break
    done 2>/dev/null | sed 's/: .*//; s/:[a-z0-9]*//g; s/,/ /g') || true
  [ -n "$owners" ] || { echo "FAIL: no package holds $file" >&2 && failures=$((failures + 1)); }
  for package in $owners; do
    provides=$(dpkg-query -W -f='${Provides}' "$package" | tr ',' '\n' | awk 'NF { print $1 }')
    grep -qxF -f <(echo "$package"; echo "$provides") <(echo "$named"; echo "$given") ||
      { echo "FAIL: CMake needs $file, of $package, which Build-Depends does not name" >&2 &&
        failures=$((failures + 1)); }
  done
done <"$SCRATCH/files"
[ "$failures" -eq 0 ] || exit 1
echo "each of the $(wc -l <"$SCRATCH/files") files CMake needs is from a named package"
