#!/usr/bin/env bash
# Outputs that come and go under the Wayland layers (a private headless sway, which this script
# reconfigures): an output added gets a view of its own size, one removed (where sway can remove
# one) loses its view, and an output that changes mode or scale gets a new view at its new size,
# sharp at its device pixels; the other outputs draw on undisturbed and nothing crashes. A
# stopped compositor does not hold the saver against SIGTERM.
source "$(dirname "$0")/lib.sh"
use_sway private

# Both first outputs still draw, each its picture at its own size (HEADLESS-1's as given).
others_undisturbed() {
  keeps_drawing HEADLESS-1 && keeps_drawing HEADLESS-2 || fail "$1: an output stopped drawing"
  await_pattern HEADLESS-1 "$2" "$WORK/other-1.png"
  await_pattern HEADLESS-2 1024x768 "$WORK/other-2.png"
}
# Makes the next output of the configuration and waits until sway lists it as $1 at mode $2.
add_output() {
  swaymsg -q create_output || fail "sway made no output"
  wait_for "output_is $1 $2 1" || fail "no $1: $(outputs)"
}
# Removes output $1 (sway 1.8 on) and waits until sway no longer lists it. Returns 2 where sway
# cannot: sway 1.7 has no "unplug", and its headless outputs cannot be disabled either.
remove_output() {
  swaymsg -q output "$1" unplug >/dev/null 2>&1 || return 2
  wait_for "! outputs | grep -q '^$1 '" || fail "$1 stayed: $(outputs)"
}

# --- the wallpaper, through every kind of change ---------------------------------------------
start_saver --layer background --seed 11
await_pattern HEADLESS-1 1280x720 "$WORK/start-1.png"
await_pattern HEADLESS-2 1024x768 "$WORK/start-2.png"
add_output HEADLESS-3 800x600
await_pattern HEADLESS-3 800x600 "$WORK/added.png"
others_undisturbed "an output added" 1280x720
if remove_output HEADLESS-3; then
  others_undisturbed "an output removed" 1280x720
else
  echo "this sway ($(sway --version)) cannot remove an output: removal not checked"
fi

swaymsg -q output HEADLESS-1 mode 1024x600 || fail "sway did not change the mode"
wait_for "output_is HEADLESS-1 1024x600 1" || fail "HEADLESS-1 did not change mode: $(outputs)"
await_pattern HEADLESS-1 1024x600 "$WORK/mode.png"
swaymsg -q output HEADLESS-1 scale 2 || fail "sway did not change the scale"
wait_for "output_is HEADLESS-1 1024x600 2" || fail "HEADLESS-1 did not change scale: $(outputs)"
wait_for "grim -o HEADLESS-1 '$WORK/scale.png' && shows_pattern '$WORK/scale.png' 1024x600 &&
  sharp_at_device_pixels '$WORK/scale.png'" ||
  fail "no sharp view on HEADLESS-1 at scale 2: $(cat "$WORK/pattern.txt" "$WORK/sharp.txt")"
others_undisturbed "a mode and a scale changed" 1024x600
ended_cleanly TERM

# --- the overlay, with an output added and removed under it -----------------------------------
start_saver --layer overlay --seed 12
wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "the overlay did not show on both outputs"
add_output HEADLESS-4 640x480
await_pattern HEADLESS-4 640x480 "$WORK/overlay-added.png"
remove_output HEADLESS-4 || true
keeps_drawing HEADLESS-2 || fail "the overlay stopped drawing after an output came (and went)"
end_with_key

# --- a compositor that stops answering (SIGSTOP) ------------------------------------------------
# It holds neither the overlay nor full screen against SIGTERM: each ends with status 0 while
# sway is still stopped.
for args in "--layer overlay" ""; do
  start_saver $args --seed 13
  wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "nimbrel $args did not show on both outputs"
  kill -STOP "$SWAY_PID"
  kill -TERM "$saver"
  ended_with 0 "$saver" || { kill -CONT "$SWAY_PID" && fail "nimbrel $args waited on sway"; }
  kill -CONT "$SWAY_PID"
done
echo PASS
