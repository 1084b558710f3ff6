#!/usr/bin/env bash
# The saver's XScreenSaver conventions and settings for one run: -display names the X display
# when DISPLAY is not set; full screen shrugs off a pointer jitter of a pixel or two and ends on
# a real move; -fps shows the frame rate in the lower-left corner; settings given on the command
# line leave the store byte for byte as it was.
source "$(dirname "$0")/lib.sh"

nimbrel="$NIMBREL_BUILD/programs/nimbrel/nimbrel"
export XDG_CONFIG_HOME="$WORK/config"
mkdir -p "$XDG_CONFIG_HOME/nimbrel"
"$NIMBREL_BUILD/tests/reliability/default_store" petalCount=9 drawStars=true \
  randomizeSettings=true randomizeInterval=2 speed=20 >"$XDG_CONFIG_HOME/nimbrel/preferences.ini"
cp "$XDG_CONFIG_HOME/nimbrel/preferences.ini" "$WORK/store.before"
start_xvfb 1280x800x24
display=$DISPLAY

# --- -display, with no DISPLAY in the environment; pointer jitter ----------------------------
env -u DISPLAY "$nimbrel" -display "$display" --seed 5 -petals 5 -no-stars 2>"$WORK/full.err" &
saver=$!
track "$saver"
window=$(window_named Nimbrel) || fail "no full-screen window appeared on -display $display"
wait_for "xwininfo -id $window | grep -q 'Map State: IsViewable'" ||
  fail "the full-screen window was never shown"
xdotool mousemove --sync 640 400
frames_later 2
for step in "1 0" "0 1" "-1 -1" "2 2" "-2 -2" "2 -1"; do
  # shellcheck disable=SC2086
  xdotool mousemove_relative --sync -- $step
done
frames_later 2
kill -0 "$saver" 2>/dev/null || fail "a pointer jitter of 1 or 2 pixels ended the run"
xdotool mousemove_relative --sync 25 0
ended_cleanly moved "$WORK/full.err"

# --- -fps in a window ---------------------------------------------------------------------
# A preview (no title), a dark theme and no stars: nothing but the overlay's text is near white.
start_saver "$WORK/fps.err" --window 480x320 --preview -fps --seed 6 --theme 2 \
  --no-random-colours --no-stars --no-random-settings
white_pixels() {
  screenshot "$WORK/fps.png" "$window" &&
    convert "$WORK/fps.png" -crop "$1" +repage -threshold 90% -format '%[fx:int(mean*w*h)]' info:
}
text_in_corner() { [ "$(white_pixels 160x40+0+280)" -gt 20 ]; }
wait_for text_in_corner || fail "no frame rate in the lower-left corner"
[ "$(white_pixels 480x260+0+0)" -eq 0 ] || fail "white beyond the corner: the overlay strayed"
ended_cleanly TERM "$WORK/fps.err"

cmp -s "$XDG_CONFIG_HOME/nimbrel/preferences.ini" "$WORK/store.before" ||
  fail "runs with settings on the command line changed the store"
echo "PASS"
