#!/usr/bin/env bash
# The saver on X with two monitors (private Xorg servers on the dummy driver). Full screen: a
# window of its own on each, which follows monitors turned off, on and moved. On the root: a view
# per monitor with its own title, following them too. Under the XScreenSaver daemon: a saver per
# monitor. With Xinerama instead of RandR: a window per head.
source "$(dirname "$0")/lib.sh"

LEFT=1280x720+0+0 RIGHT=1280x720+1280+0 BELOW=1280x720+0+720
# Whether the saver's windows are those at rectangles $@, each shown; the id of the one at $1.
windows_at() {
  [ "$(windows_named Nimbrel | cut -d' ' -f1,2)" = "$(printf '%s IsViewable\n' "$@" | sort)" ]
}
window_at() { windows_named Nimbrel | awk -v r="$1" '$1 == r { print $3 }'; }
await_windows() { wait_for "windows_at $*" || fail "windows not at $*: $(windows_named Nimbrel)"; }
# Waits until a screenshot, kept as $1, shows a pattern centred on each of rectangles $2...
await_pattern_on() {
  wait_for "pattern_within $WORK/$1 ${*:2}" ||
    fail "$1: no pattern centred on each of ${*:2} (last: $(tr '\n' ' ' <"$WORK/pattern.txt"))"
}

# --- full screen, with monitors turned off, on and moved -----------------------------------------
start_xorg_dummy
start_saver --seed 9 --no-stars
await_windows $LEFT $RIGHT
await_pattern_on full-before.png $LEFT $RIGHT
xrandr --output DUMMY1 --off
await_windows $LEFT
xwd -silent -root -out "$WORK/off.xwd"
wait_for "xwd -silent -root -out $WORK/later.xwd && ! cmp -s $WORK/off.xwd $WORK/later.xwd" ||
  fail "the picture stopped changing after a monitor went"
await_pattern_on full-off.png $LEFT
xrandr --output DUMMY1 --mode 1280x720 --below DUMMY0
await_windows $LEFT $BELOW
await_pattern_on full-below.png $LEFT $BELOW
moved=$(window_at $BELOW)
xrandr --output DUMMY1 --pos 1280x0
await_windows $LEFT $RIGHT
[ "$(window_at $RIGHT)" = "$moved" ] || fail "the moved monitor got a new window, not its own"
await_pattern_on full-moved.png $LEFT $RIGHT
xdotool key space
ended_cleanly

# --- on the root window: a view per monitor -------------------------------------------------------
# The title of a fresh 1280x720 view is a bright band a quarter of the way up, with nothing
# above it; the root's white (-wr) is gone.
title_left() { shows_title "$1" 2560x720 240x60+520+490 1280x460+0+0; }
title_right() { shows_title "$1" 2560x720 240x60+1800+490 1280x460+1280+0; }
"$NIMBREL" --root --seed 9 --no-stars 2>"$WORK/saver.log" &
saver=$!
track "$saver"
capture "$(xwininfo -root | awk '/Window id:/ { print $4 }')" 10
first_capture title_left "$WORK/root-title-left.png" || fail "the left monitor showed no title"
first_capture title_right "$WORK/root-title-right.png" || fail "the right monitor showed no title"
xwininfo -root -children | grep -q '^ *0 children' || fail "on the root, the saver made a window"
await_pattern_on root.png $LEFT $RIGHT
xrandr --output DUMMY1 --off
xrandr --output DUMMY1 --mode 1280x720 --below DUMMY0
await_pattern_on root-below.png $LEFT $BELOW
xrandr --output DUMMY1 --pos 1280x0
await_pattern_on root-moved.png $LEFT $RIGHT
ended_cleanly TERM

# --- the XScreenSaver daemon: a window and a saver per monitor -----------------------------------
# Each saver it starts takes the first free recording wrapper (mkdir is atomic), so each leaves
# its own record.
bin=$WORK/home/bin
mkdir -p "$bin" && cp "$NIMBREL" "$bin/nimbrel"
for n in 1 2; do recording_saver "$bin/saver-$n" "monitor-$n" "$bin/nimbrel" --seed 12; done
printf '#!/bin/bash\nfor n in 1 2; do mkdir %s/monitor-$n/taken && exec %s/saver-$n "$@"; done\n' \
  "$WORK" "$bin" >"$bin/next-saver"
chmod 755 "$bin/next-saver"
start_xscreensaver "$bin/next-saver --root"
xscreensaver_command activate
wait_for "[ -s $WORK/monitor-1/pid ] && [ -s $WORK/monitor-2/pid ]" ||
  fail "the daemon started no two savers: $(tail "$WORK/daemon.log")"
await_pattern_on xscreensaver.png $LEFT $RIGHT
xscreensaver_command deactivate
recorded_clean_end monitor-1
recorded_clean_end monitor-2

# --- Xinerama: a window per head ----------------------------------------------------------------
kill "$XORG_PID"
start_xorg_xinerama
start_saver --seed 9 --no-stars
await_windows $LEFT $RIGHT
await_pattern_on xinerama.png $LEFT $RIGHT
xdotool key space
ended_cleanly
echo PASS
