#!/usr/bin/env bash
# Nimbrel in a window that belongs to someone else: a stand-in window named by a decimal
# XSCREENSAVER_WINDOW (as xsecurelock does) or by --window-id: it covers the window, starts a
# fresh view on SIGUSR1 and when the window is resized, ends quietly when the window is
# destroyed; a narrow window gets a preview; a window that does not exist gets one line. Then
# the real xsecurelock and the real XScreenSaver daemon run it: it fills the screen, and ends
# with status 0 when they end it.
source "$(dirname "$0")/lib.sh"
use_x

# Opens a stand-in window of size $1; sets HOST_ID.
open_window() {
  start_probe "$PROBES/nimbrel_test_window" "$1"
  HOST_ID=$PROBE_SAID
}
# Fraction of picture $1 in pure white patches of 7x7 pixels or more: the stand-in window's own
# background showing through (the saver's white stars are at most 3 pixels wide).
white_fraction() {
  convert "$1" -fill black +opaque white -colorspace Gray -morphology Erode Square:3 \
    -format '%[fx:mean]' info:
}
# Whether the stand-in window shows the pattern at size $1 all over, none of its white left.
covered_by_pattern() {
  screenshot "$WORK/drawn.png" "$HOST_ID" && lit "$WORK/drawn.png" &&
    [ "$(identify -format '%wx%h' "$WORK/drawn.png")" = "$1" ] &&
    below "$(white_fraction "$WORK/drawn.png")" 0.001
}
title_800x600() { shows_title "$1" 800x600 300x80+250+375 800x350+0+0; }
title_1000x700() {
  shows_title "$1" 1000x700 300x80+350+455 1000x400+0+0 && below "$(white_fraction "xwd:$1")" 0.001
}

# --- xsecurelock's way: -root and a decimal XSCREENSAVER_WINDOW ----------------------------------
open_window 800x600
XSCREENSAVER_WINDOW=$HOST_ID "$NIMBREL" -root --seed 21 2>"$WORK/saver.log" &
saver=$!
track "$saver"
wait_for "covered_by_pattern 800x600" || fail "no full pattern; white: $(white_fraction "$WORK/drawn.png")"

# SIGUSR1 (xsecurelock: its unlock dialog closed) starts a fresh view: black with its title.
kill -USR1 "$saver"
capture "$HOST_ID" 10
first_capture title_800x600 "$WORK/reset.png" || fail "SIGUSR1 did not start a fresh view"
# The fresh view's title is over once the pattern is back; a title after the resize is the new view's.
wait_for "covered_by_pattern 800x600" || fail "no pattern after SIGUSR1"
xdotool windowsize "$HOST_ID" 1000 700
capture "$HOST_ID" 10
first_capture title_1000x700 "$WORK/resized.png" ||
  fail "the resized window never showed a new view's title on black, all of it redrawn"
wait_for "covered_by_pattern 1000x700" || fail "no pattern after resizing"

xdotool windowkill "$HOST_ID"
ended_cleanly

# --- --window-id in hexadecimal, a narrow window: a preview, coloured petals from its first
# frame, where a full view's first frame is the grey title on black. The window starts white;
# the saver clears it to black, then draws.
first_frame() {
  [ "$(identify -format '%wx%h' "xwd:$1")" = 400x300 ] && below "$(white_fraction "xwd:$1")" 0.5 &&
    [ "$(colours "xwd:$1")" -gt 2 ]
}
open_window 400x300
"$NIMBREL" --window-id "$(printf '0x%x' "$HOST_ID")" --seed 5 2>"$WORK/saver.log" &
saver=$!
track "$saver"
capture "$HOST_ID" 10
first_capture first_frame "$WORK/preview.png" || fail "the saver drew nothing in a 400-wide window"
greater "$(saturation "$WORK/preview.png" maxima)" 0.2 ||
  fail "a 400-wide window did not get a preview: its first frame is not coloured"
ended_cleanly TERM

expect_end 1 --window-id 0x1fffff0
XSCREENSAVER_WINDOW=12345678 expect_end 1 -root

# --- the real xsecurelock, with Nimbrel as its saver module ---------------------------------------
command -v xsecurelock >/dev/null || fail "xsecurelock is not installed"
recording_saver "$WORK/saver" locked "$NIMBREL" --seed 8
XSECURELOCK_SAVER=$WORK/saver xsecurelock >"$WORK/locker.log" 2>&1 &
locker=$!
track "$locker"
wait_for "[ -s '$WORK/locked/pid' ]" || fail "xsecurelock did not start Nimbrel: $(<"$WORK/locker.log")"
grep -Eq '^[0-9]+$' "$WORK/locked/window" || fail "XSCREENSAVER_WINDOW: $(<"$WORK/locked/window")"
wait_for "screenshot $WORK/locked.png && lit $WORK/locked.png 640x800+0+0 640x800+640+0" ||
  fail "the pattern did not fill the locked screen: $(colours "$WORK/locked.png") colours"
kill -TERM "$locker"
recorded_clean_end locked

# --- the real XScreenSaver daemon ----------------------------------------------------------------
command -v xscreensaver >/dev/null || fail "xscreensaver is not installed"
# The daemon runs the saver as nobody, who must read the binary: a copy in the daemon's home.
mkdir -p "$WORK/home/bin"
cp "$NIMBREL" "$WORK/home/bin/nimbrel"
recording_saver "$WORK/home/bin/nimbrel-status" activated "$WORK/home/bin/nimbrel" --seed 12
start_xscreensaver "$WORK/home/bin/nimbrel-status --root"
xscreensaver_command activate
wait_for "[ -s '$WORK/activated/pid' ]" || fail "the daemon started no Nimbrel: $(tail "$WORK"/daemon.log)"
# Centred on the screen, the pattern spreads over both halves and both rows.
wait_for "screenshot $WORK/xscreensaver.png &&
  lit $WORK/xscreensaver.png 640x400+0+0 640x400+640+0 640x400+0+400 640x400+640+400" ||
  fail "the pattern did not fill the screen: $(colours "$WORK/xscreensaver.png") colours"
grep -q "nimbrel-status --root\" in pid" "$WORK/daemon.log" || fail "the daemon did not log our program"
xscreensaver_command deactivate
recorded_clean_end activated
echo PASS
