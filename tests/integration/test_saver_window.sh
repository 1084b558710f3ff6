#!/usr/bin/env bash
# The saver on X (1280x800) in a window of its own: the title alone on black first, coloured
# rings later, a new view when resized, -fps in the lower-left corner, SIGTERM and SIGINT ending
# it with status 0. Full screen (on -display, with no DISPLAY): it covers the screen and ends on
# a key, a click or a real move, not on a nudge. The Wayland layers are refused on X. Settings
# given for one run leave the store byte for byte as it was.
source "$(dirname "$0")/lib.sh"
use_x

mkdir -p "$XDG_CONFIG_HOME/nimbrel"
"$NIMBREL_BUILD/programs/describe-settings/nimbrel-describe" store petalCount=9 drawStars=true \
  randomizeSettings=true randomizeInterval=2 >"$XDG_CONFIG_HOME/nimbrel/preferences.ini"
cp "$XDG_CONFIG_HOME/nimbrel/preferences.ini" "$WORK/store.before"

# --- a window of its own ----------------------------------------------------------------------
title_800x600() { shows_title "$1" 800x600 300x80+250+375 800x350+0+0; }
title_600x400() { shows_title "$1" 600x400 240x70+180+235 600x220+0+0; }
# Many colours, lit, coloured: the pattern only builds up, so once this holds it holds.
shows_rings() {
  screenshot "$WORK/rings.png" "$window" && lit "$WORK/rings.png" 800x600+0+0 &&
    greater "$(saturation "$WORK/rings.png")" 0.1
}
start_saver --window 800x600 --seed 4 --no-random-settings
capture "$window" 10
first_capture title_800x600 "$WORK/title.png" || fail "the window never showed the title alone on black"
wait_for shows_rings || fail "no coloured pattern: $(colours "$WORK/rings.png") colours"
xdotool windowsize "$window" 600 400
capture "$window" 10
first_capture title_600x400 "$WORK/resized.png" || fail "the resized window showed no new view's title"
ended_cleanly TERM

# The same through an SDL renderer and a streaming texture; SIGINT ends it.
SDL_RENDER_DRIVER=software start_saver --window 640x480 --seed 4
wait_for "screenshot '$WORK/renderer.png' $window && lit '$WORK/renderer.png'" ||
  fail "only $(colours "$WORK/renderer.png") colours through the SDL renderer"
ended_cleanly INT

# -fps: a preview (no title) in a dark theme without stars: only the overlay's text is near white.
start_saver --window 480x320 --preview -fps --seed 6 --theme 2 --no-random-colours --no-stars \
  --no-random-settings
white_pixels() {
  convert "$WORK/fps.png" -crop "$1" +repage -threshold 90% -format '%[fx:int(mean*w*h)]' info:
}
wait_for "screenshot '$WORK/fps.png' $window && [ \$(white_pixels 160x40+0+280) -gt 20 ]" ||
  fail "no frame rate in the lower-left corner"
[ "$(white_pixels 480x260+0+0)" -eq 0 ] || fail "white beyond the corner: the overlay strayed"
ended_cleanly TERM

# --- full screen --------------------------------------------------------------------------------
# Waits until the screen has changed $1 times (or the saver ended). The saver reads all pending
# input before it draws a frame and waits for the server after each frame, so the second change
# comes from a frame drawn after it had read every event sent before the call.
frames_later() {
  xwd -silent -root -out "$WORK/frame0.xwd"
  for ((i = 1; i <= $1; i++)); do
    wait_for "! kill -0 $saver || { xwd -silent -root -out '$WORK/frame$i.xwd' &&
      ! cmp -s '$WORK/frame$((i - 1)).xwd' '$WORK/frame$i.xwd'; }" || fail "the picture stopped changing"
  done
}
# A full-screen run on -display; from when its window covers the screen it gets all input.
start_full_screen() {
  env -u DISPLAY "$NIMBREL" -display "$DISPLAY" --seed 9 -petals 5 -no-stars 2>"$WORK/saver.log" &
  saver=$!
  track "$saver"
  window=$(window_named Nimbrel) || fail "no full-screen window on -display $DISPLAY"
  wait_for "xwininfo -id $window | grep -q IsViewable &&
    xdotool getwindowgeometry $window | grep -q 1280x800" ||
    fail "the full-screen window is not shown at 1280x800: $(xdotool getwindowgeometry "$window")"
}
# The pointer away from the edges, for nudges either way; moved before the saver starts.
xdotool mousemove 600 380
start_full_screen
wait_for "screenshot '$WORK/full.png' && lit '$WORK/full.png' 640x800+0+0 640x800+640+0" ||
  fail "the pattern did not spread over both halves of the screen"
# A nudge there and back does not end the run (whichever motion it takes as where the pointer
# started); a key does.
xdotool mousemove_relative --sync 3 2
xdotool mousemove_relative --sync -- -3 -2
frames_later 2
kill -0 "$saver" 2>/dev/null || fail "a 3-pixel nudge ended the run"
xdotool key space
ended_cleanly

# A click once the window has shown a few frames.
start_full_screen
frames_later 3
xdotool click 1
ended_cleanly

start_full_screen
xdotool mousemove_relative --sync 40 30
xdotool mousemove_relative --sync 40 30
ended_cleanly

mkdir -m 700 "$WORK/runtime"
for layer in overlay background; do XDG_RUNTIME_DIR=$WORK/runtime expect_end 1 --layer $layer; done
cmp -s "$XDG_CONFIG_HOME/nimbrel/preferences.ini" "$WORK/store.before" ||
  fail "runs with settings on the command line changed the store"
echo PASS
