#!/usr/bin/env bash
# The package installed on this machine (apt-get, as root) and the real XScreenSaver daemon with
# a `programs:` entry that names just `nimbrel --root --petals 5`, as a user would write it: the
# daemon finds the installed saver, which fills the screen and ends on deactivation without a
# complaint. The package is removed again afterwards unless it was installed before.
source "$(dirname "$0")/lib.sh"

[ "$(id -u)" -eq 0 ] || { echo "skipped: installing a package needs root" >&2 && exit 77; }
command -v xscreensaver >/dev/null || fail "xscreensaver is not installed"
DEB=$(bash "$NIMBREL_SOURCE/packaging/package-path.sh")
[ -f "$DEB" ] || { echo "skipped: no $DEB (make deb)" >&2 && exit 77; }

installed() { [ "$(dpkg-query -W -f='${db:Status-Status}' nimbrel 2>/dev/null || true)" = installed ]; }
apt_get() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -y -q "$@"; }
was_installed=no
installed && was_installed=yes
remove_package() {
  [ $was_installed = no ] && installed || return 0
  apt_get purge nimbrel >"$WORK/remove.log" 2>&1 || { cat "$WORK/remove.log" >&2 && return 1; }
}
trap 'remove_package || true; cleanup' EXIT
apt_get install --no-install-recommends "$DEB" >"$WORK/install.log" 2>&1 ||
  fail "apt-get install: $(tail -5 "$WORK/install.log")"

use_x
start_xscreensaver "nimbrel --root --petals 5"
xscreensaver_command activate
started() { grep -o 'nimbrel --root --petals 5" in pid [0-9]*' "$WORK/daemon.log"; }
wait_for started || fail "the daemon did not start Nimbrel: $(tail -5 "$WORK/daemon.log")"
saver=$(started | head -n 1 | sed 's/.* //')
# The daemon may start it through a shell that then execs it: wait for the program itself.
wait_for "[ \"\$(readlink /proc/$saver/exe)\" = /usr/bin/nimbrel ]" ||
  fail "pid $saver runs $(readlink "/proc/$saver/exe"), not the installed saver"
wait_for "screenshot $WORK/installed.png &&
  lit $WORK/installed.png 640x400+0+0 640x400+640+0 640x400+0+400 640x400+640+400" ||
  fail "the pattern did not fill the screen: $(colours "$WORK/installed.png") colours"
xscreensaver_command deactivate
wait_for "! kill -0 $saver" || fail "Nimbrel still runs after the daemon deactivated"
grep "^nimbrel: " "$WORK/daemon.log" && fail "the saver complained"

remove_package || fail "apt-get purge failed"
[ $was_installed = yes ] || [ ! -e /usr/libexec/xscreensaver/nimbrel ] ||
  fail "the saver is still in /usr/libexec/xscreensaver after removal"
echo PASS
