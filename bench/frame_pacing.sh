#!/usr/bin/env bash
# How evenly the saver's frames reach the screen: the real saver, full screen with default
# settings on a private Xvfb, watched from outside by frame_observer, which hears of every
# frame the X server shows (XDamage on the root window). After the title it measures DURATION
# seconds and prints the intervals between shown frames: p50, p99, max, their count, and the
# count below half the target interval (frames drawn in a burst to catch up), timed as they
# reached the observer and by the server's own clock. The target is the default frame rate of
# the table of settings, read from `nimbrel-describe store`.
#
# Usage: nice -n 0 bench/frame_pacing.sh [BUILD_DIR]      (default build)
# Timing is what it measures: run it at the normal priority, on a machine as idle as can be.
# Environment:
#   DURATION=seconds (20)  SKIP=seconds (2: the title)  SIZE=WxH (1920x1080: the screen)
#   WINDOW=WxH: run `nimbrel --window WxH` instead of full screen
#   FPS=n: run at --speed n instead of the default   SEED=n (1): the saver's --seed
#   TRACE=1: also print every frame the observer sees   NIMBREL_BACKEND=cairo|fast
set -euo pipefail

build=${1:-build}
duration=${DURATION:-20}
skip=${SKIP:-2}
size=${SIZE:-1920x1080}
seed=${SEED:-1}
nimbrel="$build/programs/nimbrel/nimbrel"
observer="$build/bench/frame_observer"
describe="$build/programs/describe-settings/nimbrel-describe"

for program in "$nimbrel" "$observer" "$describe"; do
  [ -x "$program" ] && continue
  echo "frame_pacing: $program not found; build it first (frame_observer needs libxdamage-dev)" >&2
  exit 2
done
command -v Xvfb >/dev/null || { echo "frame_pacing: Xvfb is not installed" >&2; exit 2; }

source "$(dirname "$0")/../tests/integration/lib.sh"
# Default settings: an empty preference store.
export XDG_CONFIG_HOME="$WORK/config"

args=(--seed "$seed")
[ -n "${WINDOW:-}" ] && args+=(--window "$WINDOW")
if [ -n "${FPS:-}" ]; then
  args+=(--speed "$FPS")
else
  FPS=$("$describe" store | sed -n 's/^speed=//p')
fi
watch=(--fps "$FPS" --skip "$skip" --seconds "$duration")
[ "${TRACE:-0}" = 1 ] && watch+=(--trace)

start_xvfb "${size}x24"
start_probe "$observer" "${watch[@]}"
[ "$PROBE_SAID" = ready ] || fail "frame_observer: $PROBE_SAID"
"$nimbrel" "${args[@]}" 2>"$WORK/saver.log" &
saver=$!
track "$saver"
echo "frame_pacing: nimbrel ${args[*]} on a ${size} screen; $(uptime | sed 's/.*load/load/')"
# The observer ends by itself, DURATION seconds after the title (or a minute without drawing).
wait "$PROBE_PID" || fail "frame_observer failed: $(cat "$WORK/probe.out")"
kill -0 "$saver" 2>/dev/null || fail "the saver stopped: $(head -c 2000 "$WORK/saver.log")"
tail -n +2 "$WORK/probe.out" | sed 's/^/frame_pacing:   /'
echo "frame_pacing: at the end, $(uptime | sed 's/.*load/load/')"
