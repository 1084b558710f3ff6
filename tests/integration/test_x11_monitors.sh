#!/usr/bin/env bash
# The saver on X with more than one monitor (private Xorg servers on the dummy driver). Full
# screen: a window of its own on each monitor, which follows monitors as they are turned off,
# turned on and moved. On the root window: a view per monitor, each with its own title, and one
# for a monitor turned on later. With Xinerama instead of RandR: a window per head.
source "$(dirname "$0")/lib.sh"

LEFT=1280x720+0+0
RIGHT=1280x720+1280+0
BELOW=1280x720+0+720
# Whether the saver's windows are exactly those at rectangles $@, each shown.
windows_at() {
  [ "$(windows_named Nimbrel)" = "$(printf '%s IsViewable\n' "$@" | LC_ALL=C sort)" ]
}
await_windows() {
  wait_for "windows_at $*" ||
    fail "windows not at $*: $(windows_named Nimbrel); $(xrandr --listmonitors 2>&1 | tr '\n' ' ')"
}
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
# It keeps drawing on the monitor left.
xwd -silent -root -out "$WORK/off.xwd"
wait_for "xwd -silent -root -out $WORK/later.xwd && ! cmp -s $WORK/off.xwd $WORK/later.xwd" ||
  fail "the picture stopped changing after a monitor went"
await_pattern_on full-off.png $LEFT
xrandr --output DUMMY1 --mode 1280x720 --below DUMMY0
await_windows $LEFT $BELOW
await_pattern_on full-below.png $LEFT $BELOW
xrandr --output DUMMY1 --pos 1280x0
await_windows $LEFT $RIGHT
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
ended_cleanly TERM

# --- the XScreenSaver daemon: a window and a saver per monitor -----------------------------------
# Each saver it starts takes the first free recording wrapper (mkdir is atomic), so each leaves
# its own record.
mkdir -p "$WORK/home/bin"
cp "$NIMBREL" "$WORK/home/bin/nimbrel"
for n in 1 2; do
  recording_saver "$WORK/home/bin/saver-$n" "monitor-$n" "$WORK/home/bin/nimbrel" --seed 12
done
cat >"$WORK/home/bin/next-saver" <<WRAP
#!/bin/bash
for n in 1 2; do
  mkdir $WORK/monitor-\$n/taken 2>/dev/null && exec $WORK/home/bin/saver-\$n "\$@"
done
WRAP
chmod 755 "$WORK/home/bin/next-saver"
start_xscreensaver "$WORK/home/bin/next-saver --root"
xscreensaver_command activate
wait_for "[ -s $WORK/monitor-1/pid ] && [ -s $WORK/monitor-2/pid ]" ||
  fail "the daemon started no two savers: $(tail "$WORK/daemon.log")"
await_pattern_on xscreensaver.png $LEFT $BELOW
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
