#!/usr/bin/env bash
# CPU use of the running saver at 1920x1080 under Xvfb, in percent of one core: full screen
# (an SDL window shown through Xlib) and in the root window (the way XScreenSaver runs it).
# Usage: bench/saver_cpu.sh [build dir] [seconds per run, default 20]
# The drawing itself is in these figures; compare `nimbrel render` for the drawing alone.
NIMBREL_BUILD=$(realpath "${1:-build}")
seconds=${2:-20}
source "$(dirname "$0")/../tests/integration/lib.sh"

nimbrel="$NIMBREL_BUILD/hosts/saver/nimbrel"
export XDG_CONFIG_HOME="$WORK/config"
start_xvfb 1920x1080x24
ticks_per_second=$(getconf CLK_TCK)

# CPU ticks (user + system) used so far by process $1.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

measure() {
  local label=$1
  shift
  "$nimbrel" "$@" --seed 1 &
  local pid=$!
  track "$pid"
  sleep 3  # start-up and the title phase
  local before after
  before=$(cpu_ticks "$pid")
  sleep "$seconds"
  after=$(cpu_ticks "$pid")
  kill -TERM "$pid"
  wait "$pid" || true
  awk -v l="$label" -v t=$((after - before)) -v hz="$ticks_per_second" -v s="$seconds" \
    'BEGIN { printf "%-12s %5.1f %% of a core\n", l, 100 * t / hz / s }'
}

measure "full screen"
measure "root window" --root
