#!/usr/bin/env bash
# Outputs that come and go under the Wayland layers (headless sway): an output added gets a view
# of its own size, one removed (where sway can remove one) loses its view, and an output that
# changes mode or scale gets a new view at its new size, sharp at its device pixels; the other
# outputs draw on undisturbed and nothing crashes.
source "$(dirname "$0")/wayland_lib.sh"
start_sway

# Both outputs still draw, each its picture at its own size (their sizes as given).
others_undisturbed() {
  keeps_drawing HEADLESS-1 && keeps_drawing HEADLESS-2 || fail "$1: an output stopped drawing"
  await_pattern HEADLESS-1 "$2" "$WORK/other-1.png"
  await_pattern HEADLESS-2 1024x768 "$WORK/other-2.png"
}

# --- the wallpaper, through every kind of change ---------------------------------------------
start_saver --layer background --seed 11
await_pattern HEADLESS-1 1280x720 "$WORK/start-1.png"
await_pattern HEADLESS-2 1024x768 "$WORK/start-2.png"

swaymsg -q create_output || fail "sway made no third output"
wait_for "output_is HEADLESS-3 800x600 1" || fail "no third output: $(outputs)"
await_pattern HEADLESS-3 800x600 "$WORK/added.png"
others_undisturbed "an output added" 1280x720
echo "the added output shows its own view"

if remove_output HEADLESS-3; then
  kill -0 "$SAVER" 2>/dev/null || fail "removing an output ended the wallpaper"
  others_undisturbed "an output removed" 1280x720
  echo "the other outputs draw on after an output went"
else
  echo "this sway ($(sway --version)) cannot remove an output: removal not checked"
fi

swaymsg -q output HEADLESS-1 mode 1024x600 || fail "sway did not change the mode"
wait_for "output_is HEADLESS-1 1024x600 1" || fail "HEADLESS-1 did not change mode: $(outputs)"
await_pattern HEADLESS-1 1024x600 "$WORK/mode.png"
echo "HEADLESS-1 at its new mode shows a view of its new size"

swaymsg -q output HEADLESS-1 scale 2 || fail "sway did not change the scale"
wait_for "output_is HEADLESS-1 1024x600 2" || fail "HEADLESS-1 did not change scale: $(outputs)"
wait_for "shot HEADLESS-1 '$WORK/scale.png' && shows_pattern '$WORK/scale.png' 1024x600 &&
  sharp_at_device_pixels '$WORK/scale.png'" ||
  fail "HEADLESS-1 at scale 2 never showed a sharp view at 1024x600: $(cat "$WORK/pattern.txt") $(cat "$WORK/sharp.txt")"
echo "HEADLESS-1 at scale 2 shows a view at its device pixels ($(cat "$WORK/sharp.txt") fine detail)"
others_undisturbed "a mode and a scale changed" 1024x600
cp "$WORK"/added.png "$WORK"/mode.png "$WORK"/scale.png "${NIMBREL_KEEP_SHOTS:-$WORK}/" 2>/dev/null || true

kill -TERM "$SAVER"
ended_with 0 "$SAVER" 30 || fail "SIGTERM did not end the wallpaper with status 0"
[ -z "$(saver_stderr)" ] || fail "the wallpaper wrote to stderr: $(saver_stderr | head -c 300)"

# --- the overlay, with an output added and removed under it ----------------------------------
start_saver --layer overlay --seed 12
wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "the overlay did not show on both outputs"
swaymsg -q create_output || fail "sway made no fourth output"
wait_for "output_is HEADLESS-4 640x480 1" || fail "no fourth output: $(outputs)"
await_pattern HEADLESS-4 640x480 "$WORK/overlay-added.png"
remove_output HEADLESS-4 || true
keeps_drawing HEADLESS-2 || fail "the overlay stopped drawing after an output came (and went)"
kill -0 "$SAVER" 2>/dev/null || fail "an output added (and removed) ended the overlay"
end_with_key || fail "a key did not end the overlay with status 0 after outputs came and went"
[ -z "$(saver_stderr)" ] || fail "the overlay wrote to stderr: $(saver_stderr | head -c 300)"
echo PASS
