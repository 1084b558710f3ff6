#!/usr/bin/env bash
# Starts the saver in a window when there is a display; otherwise renders a demo picture.
set -euo pipefail
build=${1:-build}
nimbrel="$build/programs/nimbrel/nimbrel"

# A display counts only when it answers: a stale DISPLAY from an ssh session does not.
display_reachable() {
  if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    local socket=$WAYLAND_DISPLAY
    [ "${socket:0:1}" = / ] || socket="${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/$socket"
    [ -S "$socket" ] && return 0
  fi
  [ -n "${DISPLAY:-}" ] && timeout 5 xdpyinfo >/dev/null 2>&1
}

if display_reachable; then
  echo "Starting Nimbrel in a window (close it or press Escape to quit)." >&2
  exec "$nimbrel" --window
fi
echo "No display: rendering a demo picture headless." >&2
out="$build/nimbrel-demo.png"
"$nimbrel" render --seed 1 --frames 300 -o "$out"
echo "Demo picture: $(realpath "$out")"
