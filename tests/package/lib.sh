# Sourced by the package tests: DEB, the package as `make deb` left it (built now when missing),
# and SCRATCH, a folder of the script's own that it removes.
DEB=$(bash "$NIMBREL_SOURCE/packaging/package-path.sh")
if [ ! -f "$DEB" ]; then
  echo "no $DEB yet: building it" >&2
  bash "$NIMBREL_SOURCE/packaging/dpkg-build.sh" 2 >/dev/null
fi
echo "package: $DEB"
SCRATCH=$(mktemp -d /tmp/nimbrel-package-XXXXXX)
