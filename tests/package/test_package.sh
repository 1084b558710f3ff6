#!/usr/bin/env bash
# The Debian packages as `make deb` builds them: lintian, pedantic, finds nothing; the -dbgsym
# package holds the symbols of both programs; the package depends on the libraries its programs
# link and holds exactly the layout a Debian desktop looks for; the saver in XScreenSaver's
# directory is a relative link that finds its files from there and runs with every addition its
# XScreenSaver controls can make; its manual pages, desktop entries, metainfo, icon and
# completions pass their own checks; and the uninstall target removes what `cmake --install` put.
set -euo pipefail
for tool in lintian dpkg-deb readelf man python3 desktop-file-validate appstreamcli appstream-util \
  xmllint; do
  command -v "$tool" >/dev/null || { echo "skipped: no $tool (make test-deps)" >&2 && exit 77; }
done
source "$(dirname "$0")/lib.sh"
# The build's install_manifest.txt, which `make uninstall` goes by, is put back as it was.
manifest=$NIMBREL_BUILD/install_manifest.txt
[ ! -f "$manifest" ] || cp "$manifest" "$SCRATCH/manifest"
trap 'if [ -f "$SCRATCH/manifest" ]; then cp "$SCRATCH/manifest" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$SCRATCH"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
source "$NIMBREL_SOURCE/tests/support/run_additions.sh"

# A first upload that closes no bug report is as it should be for us.
lintian --pedantic -I "${DEB%.deb}.changes" 2>/dev/null | grep -v ' initial-upload-closes-no-bugs' \
  >"$SCRATCH/out" || true
[ ! -s "$SCRATCH/out" ] || fail "lintian: $(<"$SCRATCH/out")"
depends=$(dpkg-deb -f "$DEB" Depends)
for library in libcairo2 libpango-1.0-0 libsdl2-2.0-0 libgtk-4-1 libx11-6 libxext6 libwayland-client0 \
  libglib2.0-0 libstdc++6; do
  tr ',|' '\n' <<<"$depends" | awk '{ print $1 }' | grep -qxF "$library" || fail "no $library in: $depends"
done

ROOT=$SCRATCH/root
dpkg-deb -x "$DEB" "$ROOT"
# dh_strip moved the symbols of both programs, by their build ids, into the -dbgsym package.
ids=$(readelf -n "$ROOT"/usr/bin/nimbrel{,-settings} | sed -n 's/.*Build ID: //p' | sort | xargs)
[ "$(dpkg-deb -f "${DEB/nimbrel_/nimbrel-dbgsym_}" Build-Ids | xargs -n1 | sort | xargs)" = "$ids" ] &&
  [ "$(wc -w <<<"$ids")" -eq 2 ] || fail "the -dbgsym package is not the programs' ($ids)"
expected=(
  usr/bin/nimbrel{,-settings} usr/libexec/xscreensaver/nimbrel usr/share/xscreensaver/config/nimbrel.xml
  usr/share/nimbrel/{Prefs,SettingsWindow}.ui usr/share/man/man6/nimbrel{,-settings}.6.gz
  usr/share/icons/hicolor/scalable/apps/org.nimbrel.Nimbrel{,.Settings}.svg
  usr/share/applications/{org.nimbrel.Nimbrel.Settings,screensavers/nimbrel}.desktop
  usr/share/metainfo/org.nimbrel.Nimbrel.Settings.metainfo.xml usr/share/locale/{de,fr}/LC_MESSAGES/nimbrel.mo
  usr/share/bash-completion/completions/nimbrel{,-settings}
  usr/share/doc/nimbrel/{copyright,changelog.gz}
)
diff <(printf '%s\n' "${expected[@]}" | LC_ALL=C sort) \
  <(cd "$ROOT" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort) >"$SCRATCH/diff" ||
  fail "the package's files, less (<) and more (>) than expected: $(cat "$SCRATCH/diff")"

# The saver in XScreenSaver's directory is a relative link to the one in /usr/bin: a process
# started through it has /usr/bin/nimbrel as /proc/self/exe and finds its files in
# /usr/share/nimbrel, not in /usr/libexec/share/nimbrel.
link=$ROOT/usr/libexec/xscreensaver/nimbrel
[ -L "$link" ] && [[ $(readlink "$link") != /* ]] && [ "$(readlink -f "$link")" = "$ROOT"/usr/bin/nimbrel ] ||
  fail "/usr/libexec/xscreensaver/nimbrel is not a relative link to /usr/bin/nimbrel"
cp "$NIMBREL_BUILD/tests/reliability/nimbrel_resource_probe" "$ROOT/usr/bin/"
ln -s ../../bin/nimbrel_resource_probe "$ROOT/usr/libexec/xscreensaver/probe"
found=$(env -u NIMBREL_RESOURCES "$ROOT/usr/libexec/xscreensaver/probe" Prefs.ui 2>&1) || true
[ "$found" = "$ROOT/usr/share/nimbrel/Prefs.ui" ] || fail "through the link found '$found'"
rm "$ROOT/usr/bin/nimbrel_resource_probe" "$ROOT/usr/libexec/xscreensaver/probe"

export XDG_CONFIG_HOME=$SCRATCH/config
unset DISPLAY WAYLAND_DISPLAY XSCREENSAVER_WINDOW NIMBREL_RESOURCES
project_version=$(sed -n 's/^project(Nimbrel VERSION \([0-9.]*\).*/\1/p' "$NIMBREL_SOURCE"/CMakeLists.txt)
for program in usr/libexec/xscreensaver/nimbrel usr/bin/nimbrel-settings; do
  version=$("$ROOT/$program" --version 2>&1) || true
  [[ $version == *" $project_version" ]] || fail "/$program --version says '$version'"
done
python3 "$NIMBREL_SOURCE/tests/support/xscreensaver_controls.py" \
  "$ROOT/usr/share/xscreensaver/config/nimbrel.xml" --sheet "$ROOT/usr/share/nimbrel/Prefs.ui" \
  --all-changed >"$SCRATCH/additions" || fail "the installed description does not hold together"
run_additions "$link" "$SCRATCH/additions"
echo "the unpacked saver ran with $runs additions"

share=$ROOT/usr/share
for page in nimbrel nimbrel-settings; do
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$share/man/man6/$page.6.gz" >"$SCRATCH/man" \
    2>"$SCRATCH/err" && [ ! -s "$SCRATCH/err" ] && grep -q "^NAME" "$SCRATCH/man" ||
    fail "$page.6: $(<"$SCRATCH/err")"
done
# Each desktop entry names its own installed icon: the settings program's, and the saver's.
for entry in org.nimbrel.Nimbrel.Settings:org.nimbrel.Nimbrel.Settings \
  screensavers/nimbrel:org.nimbrel.Nimbrel; do
  icon=${entry#*:} entry=${entry%:*}.desktop
  out=$(desktop-file-validate "$share/applications/$entry" 2>&1 | grep -v ': hint: ' || true)
  [ -z "$out" ] && grep -q "^Icon=$icon\$" "$share/applications/$entry" &&
    xmllint --noout "$share/icons/hicolor/scalable/apps/$icon.svg" ||
    fail "$entry: $out, or it does not name its installed icon $icon"
done
metainfo=$share/metainfo/org.nimbrel.Nimbrel.Settings.metainfo.xml
{ appstreamcli validate --no-net "$metainfo" && appstream-util validate --nonet "$metainfo"; } \
  >"$SCRATCH/out" 2>&1 || fail "appstream: $(<"$SCRATCH/out")"
# Completing `nimbrel --th` offers --theme, `nimbrel render --de` --default-settings, and
# nimbrel-settings has a completion.
complete_words() {
  bash -c '_init_completion() { cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]};
    words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD; }
    source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _nimbrel; echo "${COMPREPLY[*]}"' \
    _ "$ROOT/usr/share/bash-completion/completions/nimbrel" "$@"
}
[ "$(complete_words nimbrel --th)" = --theme ] || fail "--th completes as $(complete_words nimbrel --th)"
[ "$(complete_words nimbrel render --de)" = --default-settings ] ||
  fail "completion of render --de: $(complete_words nimbrel render --de)"
bash -c "_init_completion() { return 0; }; source '$share/bash-completion/completions/nimbrel-settings' &&
  complete -p nimbrel-settings" >/dev/null 2>&1 || fail "no completion for nimbrel-settings"

# The uninstall target removes everything `cmake --install` put.
DESTDIR=$SCRATCH/installed cmake --install "$NIMBREL_BUILD" --prefix /usr >/dev/null
DESTDIR=$SCRATCH/installed cmake --build "$NIMBREL_BUILD" --target uninstall >/dev/null ||
  fail "uninstall failed"
left=$(cd "$SCRATCH/installed" && find . ! -type d)
[ -z "$left" ] || fail "left after uninstall: $left"

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2 && exit 1; }
echo "all checks passed"
