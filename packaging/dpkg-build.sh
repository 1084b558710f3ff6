#!/usr/bin/env bash
# `make deb`: dpkg-buildpackage -b in a copy of the tree's files (tracked, and new ones git does
# not ignore) in a folder of its own, since dpkg-buildpackage builds inside the tree it is given
# and writes its results next to it; the packages (nimbrel and nimbrel-dbgsym) with their
# .changes and .buildinfo are then moved to OUT. Nothing is written outside the repository.
# Usage: packaging/dpkg-build.sh [jobs] [work folder, build-deb] [OUT, dist]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-2}
work=${2:-build-deb}
out=${3:-dist}
git rev-parse --git-dir >/dev/null 2>&1 ||
  { echo "dpkg-build: not a git checkout; in an unpacked source run dpkg-buildpackage -b" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/nimbrel" "$out"
# A file deleted but not yet committed is still listed: tar passes over it.
git ls-files -z --cached --others --exclude-standard |
  tar -c --null --no-recursion --ignore-failed-read -T - 2>/dev/null | tar -x -C "$work/nimbrel"
(cd "$work/nimbrel" && dpkg-buildpackage -b -us -uc -J"$jobs") >"$work/build.log" 2>&1 ||
  { tail -n 40 "$work/build.log" >&2; echo "dpkg-build: see $work/build.log" >&2; exit 1; }
version=$(dpkg-parsechangelog -l debian/changelog -SVersion)
arch=$(dpkg --print-architecture)
results=("$work"/nimbrel{,-dbgsym}_"${version}_$arch".deb "$work/nimbrel_${version}_$arch".{changes,buildinfo})
mv "${results[@]}" "$out/"
rm -rf "$work"
ls "$out"/nimbrel*_"${version}_$arch".deb
