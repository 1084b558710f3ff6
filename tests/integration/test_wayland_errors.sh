#!/usr/bin/env bash
# The Wayland layers where they cannot be shown: no Wayland compositor and no X display, a
# WAYLAND_DISPLAY that nobody serves, and an X display alone. Each ends at once with status 1
# and one line on stderr; a layer that does not exist is a usage error, status 2.
source "$(dirname "$0")/lib.sh"

nimbrel="$NIMBREL_BUILD/programs/nimbrel/nimbrel"
export XDG_CONFIG_HOME="$WORK/config"
# A runtime directory of its own, with no compositor's socket in it.
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY DISPLAY SDL_VIDEODRIVER XSCREENSAVER_WINDOW

# expect_end STATUS WHAT ARGS...: nimbrel ends within a minute with STATUS and exactly one line
# on stderr, nothing on stdout.
expect_end() {
  local want=$1 what=$2 status=0
  shift 2
  timeout 60 "$nimbrel" "$@" >"$WORK/out" 2>"$WORK/err" </dev/null || status=$?
  [ "$status" -ne 124 ] || fail "[$what] nimbrel $* still ran after a minute"
  [ "$status" -eq "$want" ] ||
    fail "[$what] nimbrel $* ended with status $status, not $want: $(head -c 300 "$WORK/err")"
  [ "$(wc -l <"$WORK/err")" -eq 1 ] && [ ! -s "$WORK/out" ] ||
    fail "[$what] nimbrel $*: expected one line on stderr, got: $(head -c 500 "$WORK/err")"
  echo "[$what] nimbrel $*: $(cat "$WORK/err")"
}

for layer in overlay background; do
  expect_end 1 "no Wayland, no X" --layer "$layer"
  WAYLAND_DISPLAY=wayland-nobody expect_end 1 "WAYLAND_DISPLAY nobody serves" --layer "$layer"
  WAYLAND_DISPLAY="$WORK/runtime/absent" expect_end 1 "WAYLAND_DISPLAY path nobody serves" --layer "$layer"
done
expect_end 1 "no Wayland, no X" --seed 2
expect_end 2 "no such layer" --layer top
expect_end 2 "no layer named" --layer

# Layers exist only on Wayland: with an X display alone, a line that says so.
start_xvfb 640x480x24
for layer in overlay background; do
  expect_end 1 "X display alone" --layer "$layer"
done
echo PASS
