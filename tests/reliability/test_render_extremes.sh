#!/usr/bin/env bash
# `nimbrel render` at the edges of what it accepts: ticks at the wrap of the counter, the
# smallest and largest views, extreme settings in the store. Every run must end, with status 0
# and a picture, or status 2 and one line naming the problem; never a crash or a hang.
source "$(dirname "$0")/lib.sh"

# expect_ok ARGS...: status 0 and a PNG.
expect_ok() {
  local out="$SCRATCH/out.png" status=0
  rm -f "$out"
  timeout 300 "$NIMBREL" render --seed 7 -o "$out" "$@" 2>"$SCRATCH/err" || status=$?
  if [ "$status" -ne 0 ]; then
    fail "render $* ended with status $status: $(head -c 300 "$SCRATCH/err")"
  elif [ ! -s "$out" ]; then
    fail "render $* wrote no picture"
  fi
}

# expect_refused WORD ARGS...: status 2 and a single line on stderr that contains WORD.
expect_refused() {
  local word=$1 status=0
  shift
  rm -f "$SCRATCH/refused.png"
  timeout 60 "$NIMBREL" render --seed 7 -o "$SCRATCH/refused.png" "$@" 2>"$SCRATCH/err" || status=$?
  if [ "$status" -ne 2 ]; then
    fail "render $* ended with status $status, expected 2"
  elif [ "$(wc -l <"$SCRATCH/err")" -ne 1 ] || ! grep -q -- "$word" "$SCRATCH/err"; then
    fail "render $*: expected one line about '$word', got: $(cat "$SCRATCH/err")"
  fi
  [ ! -e "$SCRATCH/refused.png" ] || fail "render $* left a picture behind"
}

# Ticks: the title deadline saturates at the top of the counter and randomisation runs on
# across the wrap (interval 1 s, settings randomised).
write_prefs randomizeSettings=true randomizeInterval=1 drawStars=true
for tick in 0 4294967000 4294967250 4294967295; do
  expect_ok --size 64x48 --frames 600 --start-tick "$tick"
done
expect_refused "start tick" --start-tick 4294967296
expect_refused "start tick" --start-tick -1
expect_refused "start tick" --start-tick 1e3

# Sizes: 1x1 draws; 16384x16384 (2^28 device pixels, 1 GiB) is the largest canvas accepted;
# anything larger is refused before any memory is taken.
expect_ok --size 1x1 --frames 200
expect_ok --size 1x1 --frames 200 --scale 0.25
expect_ok --size 16384x16384 --frames 1 --preview
expect_refused "too large" --size 16384x16384 --scale 1.01
expect_refused "bad size" --size 4294967297x1
expect_refused "bad frame count" --frames 0
expect_refused "frames" --frames 2147483648
expect_refused "bad scale" --scale nan

# Extreme values in the store, drawn: ExtremeValues.StoredValuesNarrowOrReset.

# SIGTERM (and SIGINT) in the middle of a long run: the run stops after the frame it is
# drawing, says so in one line, exits with 128 + the signal, and leaves the trace ending on a
# whole frame and no picture or temporary file behind.
write_prefs
for signal in TERM INT; do
  rm -rf "$SCRATCH/stop" && mkdir "$SCRATCH/stop"
  "$NIMBREL" render --seed 3 --size 64x48 --frames 100000000 -o "$SCRATCH/stop/out.png" \
    --trace "$SCRATCH/stop/trace.jsonl" 2>"$SCRATCH/stop-err" &
  pid=$!
  # The trace gets its first bytes only from inside the frame loop, once the signal handlers are
  # in place; a signal before that would kill the run the default way.
  for ((i = 0; i < 600; i++)); do
    [ -s "$SCRATCH/stop/trace.jsonl" ] || ! kill -0 "$pid" 2>/dev/null && break
    sleep 0.1
  done
  kill -"$signal" "$pid" 2>/dev/null || true
  status=0
  wait "$pid" || status=$?
  expected=$((128 + $(kill -l "$signal")))
  [ "$status" -eq "$expected" ] || fail "SIG$signal: status $status, expected $expected"
  [ "$(wc -l <"$SCRATCH/stop-err")" -eq 1 ] && grep -q "stopped by" "$SCRATCH/stop-err" ||
    fail "SIG$signal: expected one line saying the run stopped, got: $(cat "$SCRATCH/stop-err")"
  [ "$(ls "$SCRATCH/stop")" = trace.jsonl ] || fail "SIG$signal left: $(ls "$SCRATCH/stop")"
  tail -n 1 "$SCRATCH/stop/trace.jsonl" | grep -q '^{.*}$' || fail "SIG$signal: trace cut mid-line"
done

finish
