#!/usr/bin/env bash
# The real XScreenSaver daemon runs Nimbrel: activated, Nimbrel's pattern fills the screen;
# deactivated, the daemon's SIGTERM ends our process with status 0.
source "$(dirname "$0")/lib.sh"

command -v xscreensaver >/dev/null || fail "xscreensaver is not installed"
start_xvfb 1024x768x24 -ac
# The daemon runs the saver as nobody, who must read the binary: a copy under a directory nobody
# may enter.
home="$WORK/home"
mkdir -p "$home/bin"
cp "$NIMBREL_BUILD/programs/nimbrel/nimbrel" "$home/bin/nimbrel"
recording_saver "$home/bin/nimbrel-status" "$home/state" "$home/bin/nimbrel" --seed 12
start_xscreensaver "$home" "$home/bin/nimbrel-status --root"

as_nobody xscreensaver-command -activate >/dev/null
wait_for "[ -s '$home/state/pid' ]" || fail "the daemon did not start Nimbrel: $(tail -5 "$WORK/daemon.log")"
saver=$(cat "$home/state/pid")
track "$saver"
# The pattern is centred on the screen and spreads over both halves and both rows.
wait_for "pattern_lit $WORK/active.png 512x384+0+0 512x384+512+0 512x384+0+384 512x384+512+384" ||
  fail "the pattern did not fill the screen: $(distinct_colours "$WORK/active.png") colours"
cp "$WORK/active.png" "${NIMBREL_KEEP_SHOTS:-$WORK}/xscreensaver.png" 2>/dev/null || true
echo "under XScreenSaver: $(distinct_colours "$WORK/active.png") colours"
grep -q "nimbrel-status --root\" in pid" "$WORK/daemon.log" || fail "the daemon did not log our program"

as_nobody xscreensaver-command -deactivate >/dev/null
wait_for "! kill -0 $saver" || fail "Nimbrel still runs after the daemon deactivated"
recorded_clean_end "$home/state"
echo "PASS"
