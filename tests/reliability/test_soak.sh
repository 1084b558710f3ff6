#!/usr/bin/env bash
# A long run of `nimbrel render` at 320x200 with settings randomised every second: it ends
# cleanly, randomisation goes on after the tick counter wraps, and peak memory does not grow
# with the number of frames (the run is compared with one a tenth as long). The frame count is
# NIMBREL_SOAK_FRAMES: 20,000 by default, 200,000 under `make soak`.
source "$(dirname "$0")/lib.sh"

frames=${NIMBREL_SOAK_FRAMES:-20000}
short=$((frames / 10))
# 20 simulated seconds before the wrap, so both runs cross it.
start=$((4294967296 - 1200))
write_prefs randomizeSettings=true randomizeInterval=1 randomizeColors=true drawStars=true

# run FRAMES: renders, then prints the peak resident set in KiB and the seconds taken.
run() {
  local status=0
  /usr/bin/time -f '%M %e' -o "$SCRATCH/time" timeout 1500 "$NIMBREL" render --seed 5 \
    --size 320x200 --frames "$1" --start-tick "$start" -o "$SCRATCH/soak-$1.png" \
    2>"$SCRATCH/err" || status=$?
  if [ "$status" -ne 0 ] || [ ! -s "$SCRATCH/soak-$1.png" ]; then
    fail "render of $1 frames ended with status $status: $(head -c 300 "$SCRATCH/err")"
  fi
  tail -n 1 "$SCRATCH/time"
}

read -r short_kib short_s < <(run "$short")
read -r long_kib long_s < <(run "$frames")
echo "$short frames: peak ${short_kib} KiB in ${short_s} s"
echo "$frames frames: peak ${long_kib} KiB in ${long_s} s"
# A leak of even a few bytes a frame would show over the extra frames; allow 1 MiB of noise.
if [ "$long_kib" -gt $((short_kib + 1024)) ]; then
  fail "peak memory grew from ${short_kib} KiB to ${long_kib} KiB with the frame count"
fi

# Randomisation after the wrap, seen in a trace of a shorter run that starts 5 s before it:
# every run re-draws the petal count, mirroring and stars, so the number of petals painted per
# frame keeps changing, and the frame rate with it.
trace_start=$((4294967296 - 300))
"$NIMBREL" render --seed 5 --size 64x40 --frames 1500 --start-tick "$trace_start" \
  -o "$SCRATCH/trace.png" --trace "$SCRATCH/trace.jsonl" 2>"$SCRATCH/err" ||
  fail "traced render failed: $(head -c 300 "$SCRATCH/err")"
read -r changes rates last_tick < <(awk -v start="$trace_start" '
  /^\{"frame":/ {
    if (tick != "" && tick + 0 < start + 0) { if (fills != prev) changes++; prev = fills;
                                              rate[tick - lasttick] = 1 }
    lasttick = tick; match($0, /"tick":[0-9]+/); tick = substr($0, RSTART + 7, RLENGTH - 7)
    fills = 0; next }
  /"op":"fill"/ { fills++ }
  END { n = 0; for (r in rate) n++; print changes + 0, n, tick }' "$SCRATCH/trace.jsonl")
echo "after the wrap: petal count changed $changes times, $rates frame intervals, up to tick $last_tick"
[ "$last_tick" -lt "$trace_start" ] || fail "the traced run did not cross the wrap"
[ "$changes" -ge 20 ] || fail "randomisation stopped at the wrap ($changes changes)"
[ "$rates" -ge 5 ] || fail "the frame rate stopped changing at the wrap ($rates rates)"

finish
