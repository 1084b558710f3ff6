#!/usr/bin/env bash
# A long run of `nimbrel render` at 320x200, settings randomised every second, across the wrap
# of the tick counter: it ends cleanly, and its peak memory is that of a run a tenth as long.
# The frame count is NIMBREL_SOAK_FRAMES: 20,000 by default, 200,000 under `make soak`.
source "$(dirname "$0")/lib.sh"

frames=${NIMBREL_SOAK_FRAMES:-20000}
write_prefs randomizeSettings=true randomizeInterval=1 randomizeColors=true drawStars=true

# run FRAMES: renders from 20 simulated seconds before the wrap; the peak resident set in KiB
# and the seconds taken end up on the last line of $SCRATCH/time.
run() {
  local status=0
  /usr/bin/time -f '%M %e' -o "$SCRATCH/time" timeout 1500 "$NIMBREL" render --seed 5 \
    --size 320x200 --frames "$1" --start-tick $((4294967296 - 1200)) -o "$SCRATCH/soak.png" \
    2>"$SCRATCH/err" || status=$?
  [ "$status" -eq 0 ] && [ -s "$SCRATCH/soak.png" ] ||
    fail "render of $1 frames ended with status $status: $(head -c 300 "$SCRATCH/err")"
}

run $((frames / 10))
read -r short_kib short_s < <(tail -n 1 "$SCRATCH/time")
run "$frames"
read -r long_kib long_s < <(tail -n 1 "$SCRATCH/time")
echo "$((frames / 10)) frames: peak $short_kib KiB in $short_s s; $frames: $long_kib KiB in $long_s s"
# A leak of even a few bytes a frame would show over the extra frames; allow 1 MiB of noise.
[ "$long_kib" -le $((short_kib + 1024)) ] ||
  fail "peak memory grew from $short_kib KiB to $long_kib KiB with the frame count"
finish
