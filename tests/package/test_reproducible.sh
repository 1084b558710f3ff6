#!/usr/bin/env bash
# Two builds give the same bytes: the packages built again, from a copy of the tree in another
# folder (a second Release build: minutes), are byte for byte those that `make deb` made.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
trap 'rm -rf "$SCRATCH"' EXIT
bash "$NIMBREL_SOURCE/packaging/dpkg-build.sh" 2 "$SCRATCH/elsewhere/build" "$SCRATCH/out" >/dev/null
status=0
for deb in "$DEB" "${DEB/nimbrel_/nimbrel-dbgsym_}"; do
  cmp "$deb" "$SCRATCH/out/${deb##*/}" || status=1
done
exit $status
