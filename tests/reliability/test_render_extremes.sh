#!/usr/bin/env bash
# `nimbrel render` at the edges of what it accepts, drawn in full (the refusals one past them are
# the unit tests'): ticks at the wrap of the counter with settings randomised every second, the
# smallest canvas and the largest (16384x16384, 2^28 device pixels, 1 GiB). Each run must end
# with status 0 and a picture, never a crash or a hang.
source "$(dirname "$0")/lib.sh"

expect_ok() {
  local status=0
  rm -f "$SCRATCH/out.png"
  timeout 300 "$NIMBREL" render --seed 7 -o "$SCRATCH/out.png" "$@" 2>"$SCRATCH/err" || status=$?
  [ "$status" -eq 0 ] && [ -s "$SCRATCH/out.png" ] ||
    fail "render $* ended with status $status: $(head -c 300 "$SCRATCH/err")"
}

write_prefs randomizeSettings=true randomizeInterval=1 drawStars=true
for tick in 0 4294967000 4294967250 4294967295; do
  expect_ok --size 64x48 --frames 600 --start-tick "$tick"
done
expect_ok --size 1x1 --frames 200 --scale 0.25
expect_ok --size 16384x16384 --frames 1 --preview
finish
