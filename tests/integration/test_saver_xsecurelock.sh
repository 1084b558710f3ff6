#!/usr/bin/env bash
# The real xsecurelock runs Nimbrel as its saver module (XSECURELOCK_SAVER): Nimbrel draws into
# the window it is given, and when the locker goes, Nimbrel ends on SIGTERM with status 0.
source "$(dirname "$0")/lib.sh"

command -v xsecurelock >/dev/null || fail "xsecurelock is not installed"
start_xvfb 1024x768x24
export XDG_CONFIG_HOME="$WORK/config"

# A saver module that runs Nimbrel with whatever arguments it gets and keeps what happened.
state="$WORK/state"
mkdir -p "$state"
cat >"$WORK/saver" <<WRAP
#!/bin/sh
echo "\$*" >"$state/args"
echo "\$XSCREENSAVER_WINDOW" >"$state/window"
"$NIMBREL_BUILD/hosts/saver/nimbrel" "\$@" --seed 8 2>"$state/stderr" &
child=\$!
echo \$child >"$state/pid"
trap 'kill -TERM \$child' TERM
wait \$child
status=\$?
[ \$status -gt 128 ] && { wait \$child; status=\$?; }
echo \$status >"$state/status"
WRAP
chmod 755 "$WORK/saver"

XSECURELOCK_SAVER="$WORK/saver" xsecurelock >"$WORK/locker.log" 2>&1 &
locker=$!
track "$locker"
wait_for "[ -s '$state/pid' ]" 10 || fail "xsecurelock did not start Nimbrel: $(cat "$WORK/locker.log")"
saver=$(cat "$state/pid")
track "$saver"
echo "xsecurelock ran the saver with '$(cat "$state/args")' in window $(cat "$state/window")"
grep -Eq '^[0-9]+$' "$state/window" || fail "XSCREENSAVER_WINDOW is not decimal: $(cat "$state/window")"
sleep 4
xwd -root -silent | convert xwd:- "$WORK/locked.png"
cp "$WORK/locked.png" "${NIMBREL_KEEP_SHOTS:-$WORK}/xsecurelock.png" 2>/dev/null || true
colours=$(distinct_colours "$WORK/locked.png")
echo "under xsecurelock: $colours colours"
[ "$colours" -gt 200 ] || fail "only $colours colours on the locked screen"
for half in 512x768+0+0 512x768+512+0; do
  b=$(mean_brightness "$WORK/locked.png" "$half")
  awk -v b="$b" 'BEGIN { exit !(b > 0.02) }' || fail "half $half of the screen is black ($b)"
done

kill -TERM "$locker"
wait_for "! kill -0 $saver" 5 || fail "Nimbrel still runs after xsecurelock ended"
wait_for "[ -s '$state/status' ]" 5 || fail "no exit status recorded"
[ "$(cat "$state/status")" = 0 ] || fail "Nimbrel ended with status $(cat "$state/status")"
[ ! -s "$state/stderr" ] || fail "Nimbrel wrote to stderr: $(cat "$state/stderr")"
echo "PASS"
