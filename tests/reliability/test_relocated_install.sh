#!/usr/bin/env bash
# An installation moved to another prefix finds its resources beside itself, and no installed
# program carries a path of the source or build tree to look in.
source "$(dirname "$0")/lib.sh"

PROBE="$NIMBREL_BUILD/tests/reliability/nimbrel_resource_probe"
for program in "$PROBE" "$NIMBREL_BUILD/programs/nimbrel-settings/nimbrel-settings"; do
  [ -x "$program" ] || { echo "skipped: $program is not built here" >&2; exit 77; }
done
unset NIMBREL_RESOURCES

# Every file is in the one default component; installing it by name writes its list beside the
# build's own install_manifest.txt, which `make uninstall` goes by, instead of over it.
cmake --install "$NIMBREL_BUILD" --component Unspecified --prefix "$SCRATCH/first" >"$SCRATCH/install.log" ||
  fail "install: $(cat "$SCRATCH/install.log")"
MOVED="$SCRATCH/moved"
mv "$SCRATCH/first" "$MOVED"
# The lookup as a program in the moved bin/ runs it.
cp "$PROBE" "$MOVED/bin/"
found=$("$MOVED/bin/nimbrel_resource_probe" Prefs.ui 2>&1) || fail "moved install: $found"
[ "$found" = "$MOVED/share/nimbrel/Prefs.ui" ] || fail "moved install found '$found'"
# and its translations.
LC_ALL= LANG=de_DE.UTF-8 "$MOVED/bin/nimbrel" --help | grep -q '^Aufruf: ' || fail "moved install speaks no German"

# NIMBREL_RESOURCES still names the only place to look.
mkdir -p "$SCRATCH/elsewhere" && touch "$SCRATCH/elsewhere/Prefs.ui"
found=$(NIMBREL_RESOURCES="$SCRATCH/elsewhere" "$MOVED/bin/nimbrel_resource_probe" Prefs.ui) ||
  fail "override: $found"
[ "$found" = "$SCRATCH/elsewhere/Prefs.ui" ] || fail "override found '$found'"

# The installed programs carry no place to look for resources: neither the source tree's nor
# the configured prefix's. (Debug information may still name the build directories.)
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$NIMBREL_BUILD/CMakeCache.txt")
for program in "$MOVED/bin/nimbrel" "$MOVED/bin/nimbrel-settings"; do
  for place in "$NIMBREL_SOURCE/resources" "$prefix/share/nimbrel"; do
    [ -x "$program" ] && ! grep -qaF "$place" "$program" || fail "$program names $place"
  done
done
finish
