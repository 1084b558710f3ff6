#!/usr/bin/env bash
# nimbrel in a window of its own and full screen: the title first, then coloured translucent
# rings on black; full screen covers the screen and ends on a key, a click or a mouse movement.
source "$(dirname "$0")/lib.sh"

export XDG_CONFIG_HOME="$WORK/config"
start_xvfb 1280x800x24

title_800x600() { shows_title "$1" 800x600 300x80+250+375 800x350+0+0; }
title_600x400() { shows_title "$1" 600x400 240x70+180+235 600x220+0+0; }

# Whether window $1 shows a full pattern: many colours, coloured, not dark. The pattern only
# builds up, so once this holds it keeps holding.
shows_rings() {
  screenshot "$WORK/rings.png" "$1" || return 1
  local colours saturation brightness
  colours=$(distinct_colours "$WORK/rings.png")
  saturation=$(convert "$WORK/rings.png" -colorspace HSL -channel G -separate +channel \
    -format '%[fx:mean]' info:)
  brightness=$(mean_brightness "$WORK/rings.png")
  echo "$colours colours, mean saturation $saturation, mean brightness $brightness" >"$WORK/rings.txt"
  [ "$colours" -gt 200 ] && greater "$saturation" 0.1 && greater "$brightness" 0.05
}

# --- a window of its own ------------------------------------------------------------------
start_saver "$WORK/window.err" --window 800x600 --seed 4
# The title lasts 1.5 s of the saver's clock: every distinct picture from now on is looked at.
start_capture "$window"
await_capture title_800x600 "$WORK/title.png" ||
  fail "the window never showed the title alone on black"

wait_for "shows_rings $window" || fail "no coloured pattern appeared: $(cat "$WORK/rings.txt")"
echo "window: $(cat "$WORK/rings.txt")"

# Resized: a new view of the new size, starting over on black with its title.
start_capture "$window"
xdotool windowsize "$window" 600 400
await_capture title_600x400 "$WORK/resized.png" ||
  fail "the resized window never showed a new view's title on black"

ended_cleanly TERM "$WORK/window.err"
cp "$WORK/title.png" "$WORK/rings.png" "$WORK/resized.png" "${NIMBREL_KEEP_SHOTS:-$WORK}/" \
  2>/dev/null || true

# The same window through an SDL renderer and a streaming texture, as on Wayland.
SDL_RENDER_DRIVER=software start_saver "$WORK/renderer.err" --window 640x480 --seed 4
many_colours() {
  screenshot "$WORK/renderer.png" "$window" && [ "$(distinct_colours "$WORK/renderer.png")" -gt 200 ]
}
wait_for many_colours ||
  fail "only $(distinct_colours "$WORK/renderer.png") colours through the SDL renderer"
echo "through the SDL renderer: $(distinct_colours "$WORK/renderer.png") colours"
ended_cleanly TERM "$WORK/renderer.err"

# --- full screen ---------------------------------------------------------------------------
# Starts a full-screen run and waits until its window is shown over the whole screen: from then
# on it gets every key, click and motion.
start_full_screen() {
  start_saver "$WORK/full.err" --seed 9
  wait_for "xwininfo -id $window | grep -q 'Map State: IsViewable'" ||
    fail "the full-screen window was never shown"
  wait_for "[ \"\$(geometry $window)\" = 1280x800 ]" ||
    fail "full-screen window is $(geometry "$window"), not 1280x800"
}
geometry() {
  xwininfo -id "$1" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }'
}
both_halves_lit() {
  screenshot "$WORK/full.png" || return 1
  local half
  for half in 640x800+0+0 640x800+640+0; do
    greater "$(mean_brightness "$WORK/full.png" "$half")" 0.03 || return 1
  done
}

start_full_screen
wait_for both_halves_lit || fail "the pattern did not spread over both halves of the screen"
# A nudge of a few pixels, there and back, does not end the run (whichever of the two motions
# it takes as where the pointer started); a key press does.
xdotool mousemove --sync 640 400
xdotool mousemove_relative --sync 3 2
xdotool mousemove_relative --sync -- -3 -2
frames_later 2
kill -0 "$saver" 2>/dev/null || fail "a 3-pixel mouse nudge ended the run"
xdotool key space
ended_with 0 "$saver" || fail "a key press did not end the full-screen run"

# SDL drops a click that it reads within 10 ms of the window getting the focus (the click that
# focused it); three frames later the saver has read its focus event at least 1/60 s before.
start_full_screen
frames_later 3
xdotool click 1
ended_with 0 "$saver" || fail "a click did not end the full-screen run"

start_full_screen
xdotool mousemove_relative --sync 40 30
xdotool mousemove_relative --sync 40 30
ended_with 0 "$saver" || fail "moving the mouse did not end the full-screen run"
echo "PASS"
