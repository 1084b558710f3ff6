#!/usr/bin/env bash
# `nimbrel --layer background` under a Wayland compositor (headless sway, two outputs of
# different sizes and scales): a live wallpaper with a view on each output at its own size,
# which neither keys from new keyboards nor a pointer end; SIGTERM ends it with status 0.
source "$(dirname "$0")/wayland_lib.sh"
start_sway

start_saver --layer background --seed 7
await_pattern HEADLESS-1 1280x720 "$WORK/background-1.png"
await_pattern HEADLESS-2 1024x768 "$WORK/background-2.png"
sharp_at_device_pixels "$WORK/background-2.png" ||
  fail "HEADLESS-2 (scale 2) is not drawn at device pixels: $(cat "$WORK/sharp.txt") of pixels differ"
cp "$WORK"/background-*.png "${NIMBREL_KEEP_SHOTS:-$WORK}/" 2>/dev/null || true

# Keys from keyboards that come and go, with keymaps of their own; the wallpaper takes none of
# them and draws on after them all on both outputs.
for key in space Escape q Return; do
  wtype -k "$key" || fail "wtype failed"
done
printf 'жx' | wtype - || fail "wtype failed"
# A pointer that appears, moves over both outputs and clicks on each.
start_pointer
pointer move 300 200
pointer click
pointer move 1000 100
pointer click
stop_pointer
keeps_drawing HEADLESS-1 && keeps_drawing HEADLESS-2 ||
  fail "the wallpaper stopped drawing after keys and pointer input"
kill -0 "$SAVER" 2>/dev/null || fail "keys or pointer input ended the wallpaper"
echo "after five keyboards' keys and a pointer's moves and clicks the wallpaper draws on"

kill -TERM "$SAVER"
ended_with 0 "$SAVER" 30 || fail "SIGTERM did not end the wallpaper with status 0"
[ -z "$(saver_stderr)" ] || fail "the wallpaper wrote to stderr: $(saver_stderr | head -c 300)"
wait_for "blank HEADLESS-1 HEADLESS-2" || fail "the wallpaper's picture stayed after it ended"
echo PASS
