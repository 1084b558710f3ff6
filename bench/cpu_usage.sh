#!/usr/bin/env bash
# How much of one core the saver costs the machine: the saver's own CPU time and the X server's
# (Xvfb) that shows its frames, with default settings, for each screen size; then the settings
# window with its live preview (and its X server). CPU time is utime + stime from /proc/PID/stat
# over DURATION seconds after a warm-up, in percent of one core; the saver's resident size is
# read at the start and the end of the measurement. Each case runs under its own private Xvfb.
# Beside the saver, at each size, XScreenSaver's `swirl -root` runs the same way, as a yardstick
# that moves with the machine as we do: a line per size gives its share and the ratio of ours to
# it (saver + X server over swirl + X server).
#
# Usage: bench/cpu_usage.sh [BUILD_DIR]      (default build)
# Environment:
#   DURATION=seconds (20)  WARMUP=seconds (3)  SIZES="3840x2160 1920x1080" (empty: none)
#   MODE=root|window|fullscreen (root: `nimbrel --root`, as XScreenSaver runs it)
#   SETTINGS=0 to skip the settings window; GSK_RENDERER is passed on as it is set
#   RSS_EVERY=seconds: also print the saver's resident size every so many seconds
#   SEED=n (1): the saver's --seed, so that every run draws the same frames; empty for none
#   NIMBREL_BACKEND=cairo|fast
#   SWIRL=path (/usr/libexec/xscreensaver/swirl, from xscreensaver-data); empty to skip it
set -euo pipefail

build=${1:-build}
duration=${DURATION:-20}
warmup=${WARMUP:-3}
sizes=${SIZES-3840x2160 1920x1080}
mode=${MODE:-root}
settings_too=${SETTINGS:-1}
rss_every=${RSS_EVERY:-0}
seed=${SEED-1}
nimbrel="$build/programs/nimbrel/nimbrel"
settings="$build/programs/nimbrel-settings/nimbrel-settings"
swirl=${SWIRL-/usr/libexec/xscreensaver/swirl}
if [ -n "$swirl" ] && [ ! -x "$swirl" ]; then
  echo "cpu_usage: $swirl not found (Debian package xscreensaver-data); SWIRL= skips it" >&2
  exit 2
fi

if [ ! -x "$nimbrel" ]; then
  echo "cpu_usage: $nimbrel not found; build first (cmake --build $build)" >&2
  exit 2
fi
command -v Xvfb >/dev/null || { echo "cpu_usage: Xvfb is not installed" >&2; exit 2; }

# Private Xvfbs on free displays; they and the programs are stopped when the script ends.
source "$(dirname "$0")/../tests/integration/lib.sh"
work=$WORK
# Default settings: an empty preference store.
export XDG_CONFIG_HOME="$work/config"

ticks_per_second=$(getconf CLK_TCK)
# utime + stime in clock ticks: fields 14 and 15, counted after the ")" that ends the name.
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
percent() { awk -v a="$1" -v b="$2" -v hz="$ticks_per_second" -v s="$3" \
  'BEGIN { printf "%.2f", 100 * (b - a) / hz / s }'; }

# Measures program $1 (pid) with the X server over the duration; prints one line labelled $2
# and leaves the sum of both shares in `total`.
total=0
measure() {
  local pid=$1 label=$2
  sleep "$warmup"
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "cpu_usage: $label exited at once:" >&2
    sed 's/^/  /' "$work/program.log" >&2
    exit 1
  fi
  local p0 x0 r0 n0 p1 x1 r1 n1
  p0=$(cpu_ticks "$pid")
  x0=$(cpu_ticks "$XVFB_PID")
  r0=$(rss_kib "$pid")
  n0=$(date +%s%N)
  if [ "$rss_every" -gt 0 ]; then
    local left=$duration
    while [ "$left" -gt 0 ]; do
      sleep "$((left < rss_every ? left : rss_every))"
      left=$((left - rss_every))
      echo "cpu_usage:   $label resident $(awk -v k="$(rss_kib "$pid")" 'BEGIN { printf "%.1f", k / 1024 }') MB"
    done
  else
    sleep "$duration"
  fi
  kill -0 "$pid" 2>/dev/null || { echo "cpu_usage: $label stopped during the measurement" >&2; exit 1; }
  p1=$(cpu_ticks "$pid")
  x1=$(cpu_ticks "$XVFB_PID")
  r1=$(rss_kib "$pid")
  n1=$(date +%s%N)
  local seconds
  seconds=$(awk -v a="$n0" -v b="$n1" 'BEGIN { printf "%.1f", (b - a) / 1e9 }')
  local own server
  own=$(percent "$p0" "$p1" "$seconds")
  server=$(percent "$x0" "$x1" "$seconds")
  total=$(awk -v o="$own" -v x="$server" 'BEGIN { printf "%.2f", o + x }')
  awk -v l="$label" -v o="$own" -v x="$server" -v s="$seconds" -v r0="$r0" -v r1="$r1" 'BEGIN {
    printf "cpu_usage: %-34s %5.2f%% + X server %5.2f%% = %5.2f%% of one core over %.1f s;" \
           " resident %.1f MB -> %.1f MB\n", l, o, x, o + x, s, r0 / 1024, r1 / 1024 }'
}

stop() {
  kill "$1" "$XVFB_PID" 2>/dev/null || true
  wait "$1" "$XVFB_PID" 2>/dev/null || true
}

for size in $sizes; do
  start_xvfb "${size}x24"
  case $mode in
    root) args=(--root) ;;
    window) args=(--window "$size") ;;
    fullscreen) args=() ;;
    *) echo "cpu_usage: MODE is root, window or fullscreen" >&2; exit 2 ;;
  esac
  [ -n "$seed" ] && args+=(--seed "$seed")
  "$nimbrel" "${args[@]}" >"$work/program.log" 2>&1 &
  saver=$!
  track "$saver"
  measure "$saver" "nimbrel ${args[*]} at $size"
  ours=$total
  stop "$saver"
  [ -n "$swirl" ] || continue

  start_xvfb "${size}x24"
  "$swirl" -root >"$work/program.log" 2>&1 &
  other=$!
  track "$other"
  measure "$other" "swirl -root at $size"
  stop "$other"
  awk -v s="$size" -v a="$ours" -v b="$total" 'BEGIN {
    printf "cpu_usage: at %-9s nimbrel %5.2f%% / swirl %5.2f%% (each with its X server) = %.2f\n",
           s, a, b, (b > 0 ? a / b : 0) }'
done

if [ "$settings_too" = 1 ] && [ -x "$settings" ]; then
  start_xvfb 1920x1080x24
  # Its own session bus, so that no other instance takes the start over.
  GDK_BACKEND=x11 NO_AT_BRIDGE=1 GTK_A11Y=none dbus-run-session -- "$settings" \
    >"$work/program.log" 2>&1 &
  bus=$!
  track "$bus"
  wait_for "pgrep -P $bus -f nimbrel-settings" 20 || { echo "cpu_usage: no settings window" >&2; exit 1; }
  program=$(pgrep -P "$bus" -f nimbrel-settings)
  track "$program"
  measure "$program" "nimbrel-settings (GSK_RENDERER=${GSK_RENDERER:-})"
  stop "$program"
  stop "$bus"
fi
