#!/usr/bin/env bash
# The Debian package as `make deb` builds it: lintian finds no error; it holds the layout a
# Debian desktop looks for, the same as `cmake --install` gives; its programs are stripped and
# its dependencies worked out; and, unpacked, the saver started from XScreenSaver's directory
# runs with every addition its XScreenSaver controls can make, finds its files from there, and
# its manual pages, desktop entries, metainfo, icon and completions pass their own checks.
set -euo pipefail
SCRATCH=$(mktemp -d /tmp/nimbrel-package-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
source "$NIMBREL_SOURCE/tests/support/run_additions.sh"

for tool in lintian dpkg-deb man python3 desktop-file-validate appstreamcli xmllint readelf; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool (make test-deps)" >&2; exit 77; }
done
DEB=$(bash "$NIMBREL_SOURCE/packaging/package-path.sh")
if [ ! -f "$DEB" ]; then
  echo "no $DEB yet: building it" >&2
  bash "$NIMBREL_SOURCE/packaging/build-deb.sh" 2 >/dev/null
fi
echo "package: $DEB"

# --- lintian ---------------------------------------------------------------------------------
status=0
lintian --fail-on error --display-info "$DEB" >"$SCRATCH/lintian" 2>&1 || status=$?
cat "$SCRATCH/lintian"
[ "$status" -eq 0 ] || fail "lintian failed with status $status"
grep -q '^E:' "$SCRATCH/lintian" && fail "lintian reports errors"

# --- control fields --------------------------------------------------------------------------
dpkg-deb -e "$DEB" "$SCRATCH/DEBIAN"
control="$SCRATCH/DEBIAN/control"
field() { sed -n "s/^$1: //p" "$control"; }
[ "$(field Package)" = nimbrel ] || fail "Package: $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
project_version=$(sed -n 's/^project(Nimbrel VERSION \([0-9.]*\).*/\1/p' "$NIMBREL_SOURCE/CMakeLists.txt")
[ "$(field Version | sed 's/-[^-]*$//')" = "$project_version" ] || fail "Version: $(field Version)"
depends=$(field Depends)
# dpkg-shlibdeps found the libraries the programs link (not a list written by hand).
for library in libc6 libcairo2 libpango-1.0-0 libsdl2-2.0-0 libgtk-4-1 libx11-6 libxext6 libwayland-client0 \
  libglib2.0-0 libstdc++6; do
  tr ',|' '\n' <<<"$depends" | awk '{ print $1 }' | grep -qxF "$library" ||
    fail "Depends lacks $library: $depends"
done
[ "$(field Installed-Size)" -gt 0 ] || fail "no Installed-Size"

# --- layout ----------------------------------------------------------------------------------
ROOT="$SCRATCH/root"
dpkg-deb -x "$DEB" "$ROOT"
dpkg-deb -c "$DEB" >"$SCRATCH/contents"
expected=(
  usr/bin/nimbrel usr/bin/nimbrel-settings
  usr/libexec/xscreensaver/nimbrel
  usr/share/xscreensaver/config/nimbrel.xml
  usr/share/nimbrel/Prefs.ui usr/share/nimbrel/SettingsWindow.ui
  usr/share/man/man6/nimbrel.6.gz usr/share/man/man6/nimbrel-settings.6.gz
  usr/share/icons/hicolor/scalable/apps/org.nimbrel.Nimbrel.Settings.svg
  usr/share/applications/org.nimbrel.Nimbrel.Settings.desktop
  usr/share/applications/screensavers/nimbrel.desktop
  usr/share/metainfo/org.nimbrel.Nimbrel.Settings.metainfo.xml
  usr/share/bash-completion/completions/nimbrel
  usr/share/bash-completion/completions/nimbrel-settings
  usr/share/doc/nimbrel/copyright usr/share/doc/nimbrel/changelog.Debian.gz
)
for path in "${expected[@]}"; do
  [ -e "$ROOT/$path" ] || fail "no /$path in the package"
done
(cd "$ROOT" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort) >"$SCRATCH/files"
printf '%s\n' "${expected[@]}" | LC_ALL=C sort >"$SCRATCH/expected"
extra=$(comm -23 "$SCRATCH/files" "$SCRATCH/expected")
[ -z "$extra" ] || fail "files nobody asked for: $extra"
# root:root throughout, nothing writable by others, programs executable.
awk '$2 != "root/root" { print "owner " $2 ": " $6 } $1 ~ /^[^l].*w.$/ { print "mode " $1 ": " $6 }' \
  "$SCRATCH/contents" | grep . && fail "owners or modes above"
for program in nimbrel nimbrel-settings; do
  [ -x "$ROOT/usr/bin/$program" ] || fail "/usr/bin/$program is not executable"
  readelf -S "$ROOT/usr/bin/$program" | grep -qE '\.symtab|\.debug_' &&
    fail "/usr/bin/$program is not stripped"
done

# The saver in XScreenSaver's directory is a relative link to the one in /usr/bin: a process
# started through it has /usr/bin/nimbrel as /proc/self/exe, and looks for its files in
# /usr/share/nimbrel, not in /usr/libexec/share/nimbrel.
link="$ROOT/usr/libexec/xscreensaver/nimbrel"
[ -L "$link" ] || fail "/usr/libexec/xscreensaver/nimbrel is not a link"
[[ $(readlink "$link") != /* ]] || fail "the link is absolute: $(readlink "$link")"
[ "$(readlink -f "$link")" = "$ROOT/usr/bin/nimbrel" ] || fail "the link leads to $(readlink -f "$link")"
probe="$NIMBREL_BUILD/tests/reliability/nimbrel_resource_probe"
if [ -x "$probe" ]; then
  cp "$probe" "$ROOT/usr/bin/"
  ln -s ../../bin/nimbrel_resource_probe "$ROOT/usr/libexec/xscreensaver/probe"
  found=$(env -u NIMBREL_RESOURCES "$ROOT/usr/libexec/xscreensaver/probe" Prefs.ui 2>&1) ||
    fail "lookup through the link: $found"
  [ "$found" = "$ROOT/usr/share/nimbrel/Prefs.ui" ] || fail "through the link found '$found'"
  rm "$ROOT/usr/bin/nimbrel_resource_probe" "$ROOT/usr/libexec/xscreensaver/probe"
fi

# `cmake --install` gives the same files at the same places (the package adds only its doc),
# and the uninstall target removes them all again. The build's own install_manifest.txt is
# what `make uninstall` goes by: it is put back as it was.
manifest="$NIMBREL_BUILD/install_manifest.txt"
[ -f "$manifest" ] && cp "$manifest" "$SCRATCH/manifest.saved"
restore_manifest() {
  if [ -f "$SCRATCH/manifest.saved" ]; then cp "$SCRATCH/manifest.saved" "$manifest"; else rm -f "$manifest"; fi
}
trap 'restore_manifest; rm -rf "$SCRATCH"' EXIT
DESTDIR="$SCRATCH/installed" cmake --install "$NIMBREL_BUILD" --prefix /usr >/dev/null
(cd "$SCRATCH/installed" && find . \( -type f -o -type l \) | sed 's|^\./||' | LC_ALL=C sort) \
  >"$SCRATCH/installed.files"
grep -v '^usr/share/doc/' "$SCRATCH/files" | diff - "$SCRATCH/installed.files" >"$SCRATCH/diff" ||
  fail "the package and cmake --install differ: $(cat "$SCRATCH/diff")"
cmp -s "$ROOT/usr/share/man/man6/nimbrel.6.gz" "$SCRATCH/installed/usr/share/man/man6/nimbrel.6.gz" ||
  fail "the manual pages differ between the package and cmake --install"
DESTDIR="$SCRATCH/installed" cmake --build "$NIMBREL_BUILD" --target uninstall >/dev/null ||
  fail "the uninstall target failed"
left=$(cd "$SCRATCH/installed" && find . ! -type d)
[ -z "$left" ] || fail "left after uninstall: $left"
restore_manifest

# The checksums list every file, and match.
(cd "$ROOT" && md5sum --quiet -c "$SCRATCH/DEBIAN/md5sums") || fail "md5sums do not match"
[ "$(wc -l <"$SCRATCH/DEBIAN/md5sums")" -eq "$(grep -c . <(cd "$ROOT" && find . -type f))" ] ||
  fail "md5sums does not list every file"

# --- the unpacked programs -------------------------------------------------------------------
SAVER="$ROOT/usr/libexec/xscreensaver/nimbrel"
export XDG_CONFIG_HOME="$SCRATCH/config"
unset DISPLAY WAYLAND_DISPLAY XSCREENSAVER_WINDOW NIMBREL_RESOURCES
version=$("$SAVER" --version 2>&1) || fail "nimbrel --version: $version"
[[ $version == *"$project_version"* ]] || fail "nimbrel --version says '$version'"
version=$("$ROOT/usr/bin/nimbrel-settings" --version 2>&1) || fail "nimbrel-settings --version: $version"
[[ $version == *"$project_version"* ]] || fail "nimbrel-settings --version says '$version'"

python3 "$NIMBREL_SOURCE/tests/support/xscreensaver_controls.py" \
  "$ROOT/usr/share/xscreensaver/config/nimbrel.xml" --sheet "$ROOT/usr/share/nimbrel/Prefs.ui" \
  --all-changed >"$SCRATCH/additions" || fail "the installed description does not hold together"
run_additions "$SAVER" "$SCRATCH/additions"
echo "the unpacked saver ran with $runs additions"

# --- manual pages, desktop entries, metainfo, icon, completion --------------------------------
for page in nimbrel nimbrel-settings; do
  file="$ROOT/usr/share/man/man6/$page.6.gz"
  zcat "$file" | grep -q '^\.TH ' || fail "$page.6: no title"
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$file" >"$SCRATCH/man.txt" 2>"$SCRATCH/man.err" ||
    fail "$page.6 does not format"
  [ ! -s "$SCRATCH/man.err" ] || fail "$page.6 warnings: $(cat "$SCRATCH/man.err")"
  grep -q "^NAME" "$SCRATCH/man.txt" || fail "$page.6 formats without a NAME section"
done
for entry in org.nimbrel.Nimbrel.Settings.desktop screensavers/nimbrel.desktop; do
  out=$(desktop-file-validate "$ROOT/usr/share/applications/$entry" 2>&1 | grep -v ': hint: ' || true)
  [ -z "$out" ] || fail "$entry: $out"
  grep -q '^Icon=org.nimbrel.Nimbrel.Settings$' "$ROOT/usr/share/applications/$entry" ||
    fail "$entry does not name the installed icon"
done
appstreamcli validate --no-net "$ROOT/usr/share/metainfo/org.nimbrel.Nimbrel.Settings.metainfo.xml" \
  >"$SCRATCH/appstream" 2>&1 || fail "appstreamcli: $(cat "$SCRATCH/appstream")"
xmllint --noout "$ROOT/usr/share/icons/hicolor/scalable/apps/org.nimbrel.Nimbrel.Settings.svg" ||
  fail "the icon is not well-formed XML"
for program in nimbrel nimbrel-settings; do
  out=$(bash -c "_init_completion() { return 0; }; source '$ROOT/usr/share/bash-completion/completions/$program' && complete -p $program" 2>&1) ||
    fail "completion for $program: $out"
done
# Completing `nimbrel --th` offers --theme, and `nimbrel render --de` --default-settings.
complete_words() {
  bash -c '_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]};
    words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
    source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _nimbrel; echo "${COMPREPLY[*]}"' \
    _ "$ROOT/usr/share/bash-completion/completions/nimbrel" "$@"
}
[ "$(complete_words nimbrel --th)" = --theme ] || fail "completion of --th: $(complete_words nimbrel --th)"
[ "$(complete_words nimbrel render --de)" = --default-settings ] ||
  fail "completion of render --de: $(complete_words nimbrel render --de)"

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
