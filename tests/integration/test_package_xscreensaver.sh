#!/usr/bin/env bash
# The package installed on this machine (apt-get, as root) and the real XScreenSaver daemon
# with a `programs:` entry that names just `nimbrel --root --petals 5`, as a user would write
# it: the daemon finds the installed saver, which fills the screen, and ends it on
# deactivation. The package is removed again afterwards unless it was installed before.
source "$(dirname "$0")/lib.sh"

[ "$(id -u)" -eq 0 ] || { echo "skipped: installing a package needs root" >&2; exit 77; }
command -v xscreensaver >/dev/null || fail "xscreensaver is not installed"
DEB=$(bash "$NIMBREL_SOURCE/packaging/package-path.sh")
[ -f "$DEB" ] || { echo "skipped: no $DEB (make deb)" >&2; exit 77; }

was_installed=$(dpkg-query -W -f='${db:Status-Status}' nimbrel 2>/dev/null || true)
apt_get() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -q "$@"
}
remove_package() {
  [ "$was_installed" = installed ] && return 0
  [ "$(dpkg-query -W -f='${db:Status-Status}' nimbrel 2>/dev/null || true)" = installed ] || return 0
  apt_get purge nimbrel >"$WORK/remove.log" 2>&1 || { cat "$WORK/remove.log" >&2; return 1; }
}
trap 'remove_package || true; cleanup' EXIT
apt_get install --no-install-recommends "$DEB" >"$WORK/install.log" 2>&1 ||
  fail "apt-get install: $(tail -5 "$WORK/install.log")"
[ -L /usr/libexec/xscreensaver/nimbrel ] || fail "no /usr/libexec/xscreensaver/nimbrel"
[ -f /usr/share/xscreensaver/config/nimbrel.xml ] || fail "no description for XScreenSaver"

start_xvfb 1024x768x24 -ac
start_xscreensaver "$WORK/home" "nimbrel --root --petals 5"

as_nobody xscreensaver-command -activate >/dev/null
started() { grep -o 'nimbrel --root --petals 5" in pid [0-9]*' "$WORK/daemon.log"; }
wait_for started || fail "the daemon did not start Nimbrel: $(tail -5 "$WORK/daemon.log")"
saver=$(started | head -n 1 | sed 's/.* //')
# The daemon may start it through a shell that then execs it: wait for the program itself.
wait_for "[ \"\$(readlink /proc/$saver/exe)\" = /usr/bin/nimbrel ]" ||
  fail "pid $saver runs $(readlink "/proc/$saver/exe"), not the installed saver"
tr '\0' ' ' <"/proc/$saver/cmdline" | grep -q -- '--root --petals 5' ||
  fail "the saver's command line: $(tr '\0' ' ' <"/proc/$saver/cmdline")"

wait_for "pattern_lit $WORK/active.png 512x384+0+0 512x384+512+0 512x384+0+384 512x384+512+384" ||
  fail "the pattern did not fill the screen: $(distinct_colours "$WORK/active.png") colours"
cp "$WORK/active.png" "${NIMBREL_KEEP_SHOTS:-$WORK}/xscreensaver-installed.png" 2>/dev/null || true
echo "the installed saver under XScreenSaver: $(distinct_colours "$WORK/active.png") colours"

as_nobody xscreensaver-command -deactivate >/dev/null
wait_for "! kill -0 $saver" || fail "Nimbrel still runs after the daemon deactivated"
grep -q "^nimbrel: " "$WORK/daemon.log" &&
  fail "the saver complained: $(grep "^nimbrel: " "$WORK/daemon.log")"

remove_package || fail "apt-get purge failed"
if [ "$was_installed" != installed ] &&
  { [ -e /usr/libexec/xscreensaver/nimbrel ] || [ -L /usr/libexec/xscreensaver/nimbrel ]; }; then
  fail "the saver is still in /usr/libexec/xscreensaver after removal"
fi
echo "PASS"
