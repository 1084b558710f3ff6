#!/usr/bin/env bash
# nimbrel in a window of its own and full screen: the title first, then coloured translucent
# rings on black; full screen covers the screen and ends on a key, a click or a mouse movement.
source "$(dirname "$0")/lib.sh"

nimbrel="$NIMBREL_BUILD/hosts/saver/nimbrel"
export XDG_CONFIG_HOME="$WORK/config"
start_xvfb 1280x800x24


# --- a window of its own ------------------------------------------------------------------
"$nimbrel" --window 800x600 --seed 4 2>"$WORK/window.err" &
saver=$!
track "$saver"
wait_for "xdotool search --name '^Nimbrel\$'" 10 || fail "no Nimbrel window appeared"
window=$(xdotool search --name '^Nimbrel$' | head -n 1)
sleep 0.4
screenshot "$WORK/title.png" "$window"

[ "$(identify -format '%wx%h' "$WORK/title.png")" = 800x600 ] || fail "window is not 800x600"
# The title: white letters centred a quarter of the way up, everything else still black.
title=$(mean_brightness "$WORK/title.png" 300x80+250+375)
above=$(mean_brightness "$WORK/title.png" 800x350+0+0)
awk -v t="$title" 'BEGIN { exit !(t > 0.03) }' || fail "no title in the title region ($title)"
awk -v a="$above" 'BEGIN { exit !(a < 0.001) }' || fail "title phase drew more than the title ($above)"

sleep 4
screenshot "$WORK/rings.png" "$window"
colours=$(distinct_colours "$WORK/rings.png")
saturation=$(convert "$WORK/rings.png" -colorspace HSL -channel G -separate +channel \
  -format '%[fx:mean]' info:)
brightness=$(mean_brightness "$WORK/rings.png")
echo "window: $colours colours, mean saturation $saturation, mean brightness $brightness"
[ "$colours" -gt 200 ] || fail "only $colours colours after four seconds"
awk -v s="$saturation" 'BEGIN { exit !(s > 0.1) }' || fail "rings are not coloured ($saturation)"
awk -v b="$brightness" 'BEGIN { exit !(b > 0.05) }' || fail "picture is nearly black ($brightness)"

# Resized: a new view of the new size, starting over on black with its title.
xdotool windowsize "$window" 600 400
sleep 0.6
screenshot "$WORK/resized.png" "$window"
[ "$(identify -format '%wx%h' "$WORK/resized.png")" = 600x400 ] || fail "window was not resized"
title=$(mean_brightness "$WORK/resized.png" 240x70+180+235)
above=$(mean_brightness "$WORK/resized.png" 600x220+0+0)
awk -v t="$title" 'BEGIN { exit !(t > 0.03) }' || fail "no title of a new view ($title)"
awk -v a="$above" 'BEGIN { exit !(a < 0.001) }' || fail "new view did not start on black ($above)"

kill -TERM "$saver"
ended_with 0 "$saver" || fail "window run did not end with status 0 on SIGTERM"
[ ! -s "$WORK/window.err" ] || fail "window run wrote to stderr: $(cat "$WORK/window.err")"
cp "$WORK/title.png" "$WORK/rings.png" "$WORK/resized.png" "${NIMBREL_KEEP_SHOTS:-$WORK}/" \
  2>/dev/null || true

# The same window through an SDL renderer and a streaming texture, as on Wayland.
SDL_RENDER_DRIVER=software "$nimbrel" --window 640x480 --seed 4 2>"$WORK/renderer.err" &
saver=$!
track "$saver"
wait_for "xdotool search --name '^Nimbrel\$'" 10 || fail "no Nimbrel window appeared"
sleep 3
screenshot "$WORK/renderer.png" "$(xdotool search --name '^Nimbrel$' | head -n 1)"
colours=$(distinct_colours "$WORK/renderer.png")
echo "through the SDL renderer: $colours colours"
[ "$colours" -gt 200 ] || fail "only $colours colours through the SDL renderer"
kill -TERM "$saver"
ended_with 0 "$saver" || fail "renderer run did not end with status 0 on SIGTERM"
[ ! -s "$WORK/renderer.err" ] || fail "renderer run wrote to stderr: $(cat "$WORK/renderer.err")"

# --- full screen ---------------------------------------------------------------------------
# Starts a full-screen run and waits until its window covers the screen.
start_full_screen() {
  "$nimbrel" --seed 9 &
  saver=$!
  track "$saver"
  wait_for "xdotool search --name '^Nimbrel\$'" 10 || fail "no full-screen window appeared"
  sleep 0.5
}

start_full_screen
geometry=$(xwininfo -id "$(xdotool search --name '^Nimbrel$' | head -n 1)" |
  awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }')
[ "$geometry" = 1280x800 ] || fail "full-screen window is $geometry, not 1280x800"
sleep 3
screenshot "$WORK/full.png"
for half in 640x800+0+0 640x800+640+0; do
  b=$(mean_brightness "$WORK/full.png" "$half")
  awk -v b="$b" 'BEGIN { exit !(b > 0.03) }' || fail "half $half of the screen is black ($b)"
done
# A nudge of a few pixels does not end the run; a key press does.
xdotool mousemove 640 400
sleep 0.3
xdotool mousemove_relative 3 2
sleep 0.5
kill -0 "$saver" 2>/dev/null || fail "a 3-pixel mouse nudge ended the run"
xdotool key space
ended_with 0 "$saver" || fail "a key press did not end the full-screen run"

start_full_screen
xdotool click 1
ended_with 0 "$saver" || fail "a click did not end the full-screen run"

start_full_screen
xdotool mousemove_relative 40 30
sleep 0.2
xdotool mousemove_relative 40 30
ended_with 0 "$saver" || fail "moving the mouse did not end the full-screen run"
echo "PASS"
