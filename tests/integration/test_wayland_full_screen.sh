#!/usr/bin/env bash
# `nimbrel` full screen under a Wayland compositor (headless sway, two outputs of different
# sizes and scales, no keyboard at the start): each output shows its own view at its own size,
# sharp at device pixels on the scale-2 output, and keys from keyboards that appear afterwards
# (wtype's virtual keyboards) end the saver with status 0, every time.
source "$(dirname "$0")/wayland_lib.sh"
start_sway

runs=20
for ((run = 1; run <= runs; run++)); do
  start_saver --seed "$run"
  if [ "$run" = 1 ]; then
    await_pattern HEADLESS-1 1280x720 "$WORK/full-1.png"
    await_pattern HEADLESS-2 1024x768 "$WORK/full-2.png"
    sharp_at_device_pixels "$WORK/full-2.png" ||
      fail "HEADLESS-2 (scale 2) is not drawn at device pixels: $(cat "$WORK/sharp.txt") of pixels differ"
    echo "both outputs show the pattern; $(cat "$WORK/sharp.txt") of HEADLESS-2's pixels are fine detail"
    cp "$WORK"/full-*.png "${NIMBREL_KEEP_SHOTS:-$WORK}/" 2>/dev/null || true
  else
    wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "run $run: the saver did not show on both outputs"
  fi
  end_with_key || fail "run $run: keys from new keyboards did not end the saver with status 0"
  [ -z "$(saver_stderr)" ] || fail "run $run: the saver wrote to stderr: $(saver_stderr | head -c 300)"
  # The next run's readiness is judged by what the outputs show: wait for this one's to go.
  wait_for "blank HEADLESS-1 HEADLESS-2" || fail "run $run: the saver's picture stayed after it ended"
done
echo "$runs runs ended with status 0, $QUICK_ENDS on the quick key"
echo PASS
