#!/usr/bin/env bash
# `nimbrel --layer overlay` under a Wayland compositor (headless sway, two outputs of different
# sizes and scales, no keyboard at the start): a view on each output at that output's own size,
# sharp at device pixels on the scale-2 output; a key from a keyboard that appears afterwards
# ends it with status 0, every time, also after keyboards came and went and keymaps changed;
# so do a pointer moved beyond a few pixels, a click, SIGTERM and SIGINT.
source "$(dirname "$0")/wayland_lib.sh"
start_sway

# Runs the overlay and waits until both outputs show it; the first run also checks the picture.
start_overlay() {
  start_saver --layer overlay --seed "$1"
  if [ "$1" = 1 ]; then
    await_pattern HEADLESS-1 1280x720 "$WORK/overlay-1.png"
    await_pattern HEADLESS-2 1024x768 "$WORK/overlay-2.png"
    sharp_at_device_pixels "$WORK/overlay-2.png" ||
      fail "HEADLESS-2 (scale 2) is not drawn at device pixels: $(cat "$WORK/sharp.txt") of pixels differ"
    echo "both outputs show the pattern; $(cat "$WORK/sharp.txt") of HEADLESS-2's pixels are fine detail"
    cp "$WORK"/overlay-*.png "${NIMBREL_KEEP_SHOTS:-$WORK}/" 2>/dev/null || true
  else
    wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "run $1: the overlay did not show on both outputs"
  fi
}

# Checks how run $1 ended and waits until its picture has gone from both outputs.
ended_cleanly() {
  [ -z "$(saver_stderr)" ] || fail "$1: the overlay wrote to stderr: $(saver_stderr | head -c 300)"
  wait_for "blank HEADLESS-1 HEADLESS-2" || fail "$1: the overlay's picture stayed after it ended"
}

runs=20
for ((run = 1; run <= runs; run++)); do
  start_overlay "$run"
  end_with_key || fail "run $run: keys from new keyboards did not end the overlay with status 0"
  ended_cleanly "run $run"
done
echo "$runs runs ended with status 0, $QUICK_ENDS on the quick key"

# Keyboards that come and go without a key, each with a keymap of its own (wtype loads one of
# just the keys it types; for none, an empty one), then a key typed from a Cyrillic keymap
# loaded onto a keyboard the overlay already has.
start_overlay 21
for ((i = 1; i <= 3; i++)); do
  gone=$(keyboards_gone)
  wtype -s 1 || fail "wtype failed"
  wait_for "! kill -0 $SAVER || [ \$(keyboards_gone) -gt $gone ]" ||
    fail "the overlay never saw keyboard $i go"
  kill -0 "$SAVER" 2>/dev/null || fail "a keyboard that came and went without a key ended the overlay"
done
patient_key ж
ended_with 0 "$SAVER" 30 || fail "a key after keymap changes did not end the overlay with status 0"
ended_cleanly "keymap changes"
echo "three keyboards came and went without a key; a key from a new keymap ended the overlay"

# The pointer: a nudge of a few pixels, there and back, leaves the overlay running; a move
# further ends it with status 0, and so does a click.
start_pointer
start_overlay 22
point_at_saver
motions=$(saver_logged wl_pointer.motion)
pointer move 3 2
pointer move -3 -2
wait_for "! kill -0 $SAVER || [ \$(saver_logged wl_pointer.motion) -ge $((motions + 2)) ]" ||
  fail "the overlay never saw the pointer's nudge"
keeps_drawing HEADLESS-1 || fail "the overlay stopped drawing after a nudge of the pointer"
kill -0 "$SAVER" 2>/dev/null || fail "a 3-pixel nudge of the pointer ended the overlay"
pointer move 80 60
ended_with 0 "$SAVER" 30 || fail "moving the pointer did not end the overlay with status 0"
ended_cleanly "pointer move"
start_overlay 23
point_at_saver
pointer click
ended_with 0 "$SAVER" 30 || fail "a click did not end the overlay with status 0"
ended_cleanly "click"
stop_pointer
echo "a nudge of the pointer left the overlay; a move and a click ended it"

seed=24
for signal in TERM INT; do
  start_overlay "$seed"
  seed=$((seed + 1))
  kill "-$signal" "$SAVER"
  ended_with 0 "$SAVER" 30 || fail "SIG$signal did not end the overlay with status 0"
  ended_cleanly "SIG$signal"
done
echo PASS
