#!/usr/bin/env bash
# How much of one core the saver uses: starts `nimbrel --window WxH` (default 1920x1080) under a
# private Xvfb with default settings, lets it run past its title, then averages its CPU time
# (utime + stime from /proc/PID/stat) over DURATION seconds (default 30) and prints the percent
# of one core, with its resident size at the start and the end of the measurement.
#
# Usage: bench/cpu_usage.sh [BUILD_DIR]      (default build)
# Environment: DURATION=seconds SIZE=WxH WARMUP=seconds NIMBREL_BACKEND=cairo|fast
set -euo pipefail

build=${1:-build}
duration=${DURATION:-30}
size=${SIZE:-1920x1080}
warmup=${WARMUP:-3}
nimbrel="$build/hosts/saver/nimbrel"

if [ ! -x "$nimbrel" ]; then
  echo "cpu_usage: $nimbrel not found; build first (cmake --build $build)" >&2
  exit 2
fi
command -v Xvfb >/dev/null || { echo "cpu_usage: Xvfb is not installed" >&2; exit 2; }

# A private Xvfb on a free display; it and the saver are stopped when the script ends.
source "$(dirname "$0")/../tests/integration/lib.sh"
work=$WORK
start_xvfb "${size}x24"

# Default settings: an empty preference store.
export XDG_CONFIG_HOME="$work/config"
mkdir -p "$XDG_CONFIG_HOME"

"$nimbrel" --window "$size" >"$work/saver.log" 2>&1 &
saver=$!
track "$saver"
sleep "$warmup"
if ! kill -0 "$saver" 2>/dev/null; then
  echo "cpu_usage: '$nimbrel --window $size' exited at once:" >&2
  sed 's/^/  /' "$work/saver.log" >&2
  exit 1
fi

ticks_per_second=$(getconf CLK_TCK)
# utime + stime in clock ticks: fields 14 and 15, counted after the ")" that ends the name.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }

start_ticks=$(cpu_ticks "$saver")
start_rss=$(rss_kib "$saver")
start_ns=$(date +%s%N)
sleep "$duration"
kill -0 "$saver" 2>/dev/null || { echo "cpu_usage: the saver stopped during the measurement" >&2; exit 1; }
end_ticks=$(cpu_ticks "$saver")
end_rss=$(rss_kib "$saver")
end_ns=$(date +%s%N)

awk -v t0="$start_ticks" -v t1="$end_ticks" -v hz="$ticks_per_second" -v n0="$start_ns" \
    -v n1="$end_ns" -v r0="$start_rss" -v r1="$end_rss" -v size="$size" 'BEGIN {
  seconds = (n1 - n0) / 1e9
  printf "cpu_usage: nimbrel --window %s: %.2f%% of one core over %.1f s; resident %.1f MB -> %.1f MB\n",
         size, 100 * (t1 - t0) / hz / seconds, seconds, r0 / 1024, r1 / 1024
}'
