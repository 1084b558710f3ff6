#!/usr/bin/env bash
# Builds dist/nimbrel_<version>_<arch>.deb: a Release build of its own (BUILD_RELEASE, by default
# build-release) with Debian's compiler and hardening flags, installed with stripped programs
# into a staging tree, with the dependencies that dpkg-shlibdeps works out from the programs.
# Usage: packaging/build-deb.sh [jobs]
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${BUILD_RELEASE:-build-release}
jobs=${1:-2}

for tool in dpkg-buildflags dpkg-shlibdeps dpkg-gencontrol dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "build-deb: no $tool (package dpkg-dev)" >&2; exit 1; }
done

version=$(dpkg-parsechangelog -l packaging/debian/changelog -SVersion)
project_version=$(sed -n 's/^project(Nimbrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [ "${version%-*}" != "$project_version" ]; then
  echo "build-deb: packaging/debian/changelog says $version, CMakeLists.txt $project_version" >&2
  exit 1
fi
arch=$(dpkg --print-architecture)
# Every file in the package carries the changelog's date, so a rebuild gives the same bytes.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l packaging/debian/changelog -STimestamp)
export SOURCE_DATE_EPOCH

# Debian's flags: -O2 (the release type's own -O3 is replaced), fortified functions, stack
# protection, full RELRO with immediate binding, and build paths mapped out of the programs.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
# The tests are not part of the package: leaving GoogleTest unseen keeps them out of this build.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_C_FLAGS="$cflags" \
  -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG \
  -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build "$build" -j "$jobs" --target nimbrel nimbrel-settings settings_files man_pages translations

work=$(mktemp -d /tmp/nimbrel-deb-XXXXXX)
trap 'rm -rf "$work"' EXIT
# Where dpkg-shlibdeps expects a package's files: debian/<package>/.
stage="$work/debian/nimbrel"
umask 022
DESTDIR="$stage" cmake --install "$build" >/dev/null
# As Debian's own packages are stripped: no symbols, no compiler notes.
for program in "$stage"/usr/bin/*; do
  strip --remove-section=.comment --remove-section=.note --strip-unneeded "$program"
done

doc="$stage/usr/share/doc/nimbrel"
install -d "$doc"
install -m 644 packaging/debian/copyright "$doc/copyright"
gzip -9n <packaging/debian/changelog >"$doc/changelog.Debian.gz"
chmod 644 "$doc/changelog.Debian.gz"

# dpkg-shlibdeps and dpkg-gencontrol read debian/ in the directory they run in.
cp packaging/debian/control packaging/debian/changelog "$work/debian/"
(
  cd "$work"
  # DEBIAN/ marks the package's root for dpkg-shlibdeps.
  install -d debian/nimbrel/DEBIAN
  dpkg-shlibdeps -Tdebian/substvars debian/nimbrel/usr/bin/nimbrel \
    debian/nimbrel/usr/bin/nimbrel-settings
  dpkg-gencontrol -pnimbrel -Pdebian/nimbrel -Tdebian/substvars -fdebian/files
)
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs -d '\n' md5sum >DEBIAN/md5sums)
chmod 644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

mkdir -p dist
out="dist/nimbrel_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$out.tmp" >/dev/null
mv "$out.tmp" "$out"
echo "$source_dir/$out"
