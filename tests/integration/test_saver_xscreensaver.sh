#!/usr/bin/env bash
# The real XScreenSaver daemon runs Nimbrel: activated, Nimbrel's pattern fills the screen;
# deactivated, the daemon's SIGTERM ends our process with status 0.
source "$(dirname "$0")/lib.sh"

command -v xscreensaver >/dev/null || fail "xscreensaver is not installed"
# The daemon refuses to run savers as root: it and its client run as nobody, who needs to reach
# the display (-ac) and read the binary (a copy under a directory nobody may enter).
start_xvfb 1024x768x24 -ac
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }

chmod 711 "$WORK"
home="$WORK/home"
mkdir -p "$home/bin" "$home/state"
cp "$NIMBREL_BUILD/hosts/saver/nimbrel" "$home/bin/nimbrel"
# Runs the saver as the daemon would run it directly, and keeps its pid and exit status.
cat >"$home/bin/nimbrel-status" <<WRAP
#!/bin/sh
"$home/bin/nimbrel" --root --seed 12 2>"$home/state/stderr" &
child=\$!
echo \$child >"$home/state/pid"
trap 'kill -TERM \$child' TERM
wait \$child
status=\$?
# A trap interrupts the first wait; the second one gets the saver's own status.
[ \$status -gt 128 ] && { wait \$child; status=\$?; }
echo \$status >"$home/state/status"
WRAP
chmod 755 "$home/bin/nimbrel-status"
cat >"$home/.xscreensaver" <<CONF
mode:		one
selected:	0
splash:		False
fade:		False
unfade:		False
lock:		False
timeout:	0:30:00
programs:	"Nimbrel" $home/bin/nimbrel-status --root \\n\\
		"Blank" /bin/true \\n
CONF
chown -R 65534:65534 "$home"

export HOME="$home" XDG_CONFIG_HOME="$home/.config"
(cd / && exec setpriv --reuid=65534 --regid=65534 --clear-groups xscreensaver --no-splash \
  --verbose) >"$WORK/daemon.log" 2>&1 &
track $!
wait_for "as_nobody xscreensaver-command -version" || fail "the daemon did not start"

as_nobody xscreensaver-command -activate >/dev/null
wait_for "[ -s '$home/state/pid' ]" || fail "the daemon did not start Nimbrel: $(tail -5 "$WORK/daemon.log")"
saver=$(cat "$home/state/pid")
track "$saver"
# The pattern is centred on the screen and spreads over both halves and both rows; it only
# builds up, so this is waited for.
pattern_everywhere() {
  xwd -root -silent | convert xwd:- "$WORK/active.png" || return 1
  [ "$(distinct_colours "$WORK/active.png")" -gt 200 ] || return 1
  local quarter
  for quarter in 512x384+0+0 512x384+512+0 512x384+0+384 512x384+512+384; do
    awk -v b="$(mean_brightness "$WORK/active.png" "$quarter")" 'BEGIN { exit !(b > 0.02) }' ||
      return 1
  done
}
wait_for pattern_everywhere || fail "the pattern did not fill the screen: $(distinct_colours \
  "$WORK/active.png") colours"
cp "$WORK/active.png" "${NIMBREL_KEEP_SHOTS:-$WORK}/xscreensaver.png" 2>/dev/null || true
echo "under XScreenSaver: $(distinct_colours "$WORK/active.png") colours"
grep -q "nimbrel-status --root\" in pid" "$WORK/daemon.log" || fail "the daemon did not log our program"

as_nobody xscreensaver-command -deactivate >/dev/null
wait_for "! kill -0 $saver" || fail "Nimbrel still runs after the daemon deactivated"
wait_for "[ -s '$home/state/status' ]" || fail "no exit status recorded"
[ "$(cat "$home/state/status")" = 0 ] || fail "Nimbrel ended with status $(cat "$home/state/status")"
[ ! -s "$home/state/stderr" ] || fail "Nimbrel wrote to stderr: $(cat "$home/state/stderr")"
echo "PASS"
