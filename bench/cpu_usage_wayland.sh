#!/usr/bin/env bash
# How much of one core the Wayland overlay and the compositor use: starts a private headless
# sway (pixman renderer) with one output of SIZE (default 1920x1080), runs
# `nimbrel --layer overlay --seed 1` on it with default settings (the same frames as
# bench/cpu_usage.sh draws; SEED=n for others, empty for none), lets it run past its title, then
# averages the CPU time (utime + stime from /proc/PID/stat) of the saver and of sway over
# DURATION seconds (default 20) and prints each as percent of one core, with the saver's
# resident size at the start and the end. Run as root, sway runs as the user nimbrel-test.
#
# Usage: bench/cpu_usage_wayland.sh [BUILD_DIR]      (default build)
# Environment: DURATION=seconds SIZE=WxH WARMUP=seconds NIMBREL_BACKEND=cairo|fast
set -euo pipefail

build=$(realpath "${1:-build}")
duration=${DURATION:-20}
size=${SIZE:-1920x1080}
seed=${SEED-1}
warmup=${WARMUP:-3}
nimbrel="$build/programs/nimbrel/nimbrel"

if [ ! -x "$nimbrel" ]; then
  echo "cpu_usage_wayland: $nimbrel not found; build first (cmake --build $build)" >&2
  exit 2
fi
command -v sway >/dev/null || { echo "cpu_usage_wayland: sway is not installed" >&2; exit 2; }

# A private headless sway; it and the saver are stopped when the script ends.
NIMBREL_BUILD=$build
source "$(dirname "$0")/../tests/integration/lib.sh"
start_sway "$size"

"$nimbrel" --layer overlay ${seed:+--seed "$seed"} >"$WORK/saver.log" 2>&1 &
saver=$!
track "$saver"
sleep "$warmup"
if ! kill -0 "$saver" 2>/dev/null; then
  echo "cpu_usage_wayland: '$nimbrel --layer overlay' exited at once:" >&2
  sed 's/^/  /' "$WORK/saver.log" >&2
  exit 1
fi

ticks_per_second=$(getconf CLK_TCK)
# utime + stime in clock ticks: fields 14 and 15, counted after the ")" that ends the name.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

saver_ticks0=$(cpu_ticks "$saver")
sway_ticks0=$(cpu_ticks "$SWAY_PID")
rss0=$(rss_kib "$saver")
ns0=$(date +%s%N)
sleep "$duration"
if ! kill -0 "$saver" 2>/dev/null; then
  echo "cpu_usage_wayland: the saver stopped during the measurement" >&2
  exit 1
fi
saver_ticks1=$(cpu_ticks "$saver")
sway_ticks1=$(cpu_ticks "$SWAY_PID")
rss1=$(rss_kib "$saver")
ns1=$(date +%s%N)

awk -v t0="$saver_ticks0" -v t1="$saver_ticks1" -v s0="$sway_ticks0" -v s1="$sway_ticks1" \
    -v hz="$ticks_per_second" -v n0="$ns0" -v n1="$ns1" -v r0="$rss0" -v r1="$rss1" \
    -v size="$size" -v seeded="${seed:+ --seed $seed}" 'BEGIN {
  seconds = (n1 - n0) / 1e9
  printf "cpu_usage: nimbrel --layer overlay%s %s: %.2f%% of one core over %.1f s; resident %.1f MB -> %.1f MB\n",
         seeded, size, 100 * (t1 - t0) / hz / seconds, seconds, r0 / 1024, r1 / 1024
  printf "cpu_usage: headless sway (pixman) meanwhile: %.2f%% of one core\n",
         100 * (s1 - s0) / hz / seconds
}'
