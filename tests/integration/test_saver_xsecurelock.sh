#!/usr/bin/env bash
# The real xsecurelock runs Nimbrel as its saver module (XSECURELOCK_SAVER): Nimbrel draws into
# the window it is given, and when the locker goes, Nimbrel ends on SIGTERM with status 0.
source "$(dirname "$0")/lib.sh"

command -v xsecurelock >/dev/null || fail "xsecurelock is not installed"
start_xvfb 1024x768x24
export XDG_CONFIG_HOME="$WORK/config"

# A saver module that runs Nimbrel with whatever arguments it gets and keeps what happened.
state="$WORK/state"
recording_saver "$WORK/saver" "$state" "$NIMBREL_BUILD/programs/nimbrel/nimbrel" --seed 8

XSECURELOCK_SAVER="$WORK/saver" xsecurelock >"$WORK/locker.log" 2>&1 &
locker=$!
track "$locker"
wait_for "[ -s '$state/pid' ]" || fail "xsecurelock did not start Nimbrel: $(cat "$WORK/locker.log")"
saver=$(cat "$state/pid")
track "$saver"
echo "xsecurelock ran the saver with '$(cat "$state/args")' in window $(cat "$state/window")"
grep -Eq '^[0-9]+$' "$state/window" || fail "XSCREENSAVER_WINDOW is not decimal: $(cat "$state/window")"
wait_for "pattern_lit $WORK/locked.png 512x768+0+0 512x768+512+0" ||
  fail "the pattern did not fill the locked screen: $(distinct_colours "$WORK/locked.png") colours"
cp "$WORK/locked.png" "${NIMBREL_KEEP_SHOTS:-$WORK}/xsecurelock.png" 2>/dev/null || true
echo "under xsecurelock: $(distinct_colours "$WORK/locked.png") colours"

kill -TERM "$locker"
wait_for "! kill -0 $saver" || fail "Nimbrel still runs after xsecurelock ended"
recorded_clean_end "$state"
echo "PASS"
