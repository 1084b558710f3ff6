#!/usr/bin/env bash
# The package's own tests (debian/tests) as a Debian test bed runs them: autopkgtest's null runner
# installs the package on this machine (as root) and runs them against it. The package is removed
# again afterwards unless it was installed before.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "skipped: the null runner installs the package: needs root" >&2 && exit 77; }
command -v autopkgtest >/dev/null || { echo "skipped: no autopkgtest (make test-deps)" >&2 && exit 77; }
source "$(dirname "$0")/lib.sh"

installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' nimbrel 2>/dev/null || true)" = installed ]; }
was_installed=no
installed && was_installed=yes
remove_package() {
  [ $was_installed = no ] && installed || return 0
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -q purge nimbrel >/dev/null
}
trap 'remove_package; rm -rf "$SCRATCH"' EXIT
# autopkgtest copies the source tree it is given: debian/ is all that the tests need of it.
mkdir "$SCRATCH/tree"
cp -r "$NIMBREL_SOURCE/debian" "$SCRATCH/tree/"
autopkgtest "$DEB" "$SCRATCH/tree" --output-dir "$SCRATCH/out" -- null >"$SCRATCH/log" 2>&1 ||
  { cat "$SCRATCH/log" >&2 && exit 1; }
sed -n '/@@@ summary/,$p' "$SCRATCH/log"
