#!/usr/bin/env bash
# The saver without a display it can show anything on: DISPLAY naming a server that is not
# there, or no DISPLAY at all, and no Wayland. Every mode must end at once with status 1 and one
# line on stderr, never fall back to drawing off screen until killed. Bad sizes end with status
# 2 and one line before any display is looked for.
source "$(dirname "$0")/lib.sh"

# A display number nobody serves: neither its socket file nor its abstract socket exists.
free_display() {
  local n
  for ((n = 97; n < 1000; n++)); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ] &&
      ! grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix 2>/dev/null; then
      echo ":$n"
      return 0
    fi
  done
  return 1
}

# expect_end STATUS WHAT ARGS...: the saver ends within a minute with STATUS and exactly one
# line on stderr, nothing on stdout.
expect_end() {
  local want=$1 what=$2 status=0
  shift 2
  timeout 60 "$NIMBREL" "$@" >"$SCRATCH/out" 2>"$SCRATCH/err" </dev/null || status=$?
  if [ "$status" -eq 124 ]; then
    fail "[$what] nimbrel $* still ran after a minute"
  elif [ "$status" -ne "$want" ]; then
    fail "[$what] nimbrel $* ended with status $status, expected $want: $(head -c 300 "$SCRATCH/err")"
  elif [ "$(wc -l <"$SCRATCH/err")" -ne 1 ] || [ -s "$SCRATCH/out" ]; then
    fail "[$what] nimbrel $*: expected one line on stderr, got: $(head -c 500 "$SCRATCH/err")"
  else
    echo "[$what] nimbrel $*: $(cat "$SCRATCH/err")"
  fi
}

# No Wayland either: SDL would otherwise find a compositor's default socket in the runtime
# directory of the person running the tests.
unset WAYLAND_DISPLAY SDL_VIDEODRIVER XSCREENSAVER_WINDOW
export XDG_RUNTIME_DIR="$SCRATCH/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

display=$(free_display) || { echo "no free display number" >&2; exit 1; }
for where in "DISPLAY=$display" "no DISPLAY"; do
  if [ "$where" = "no DISPLAY" ]; then unset DISPLAY; else export DISPLAY=$display; fi
  expect_end 1 "$where" --seed 3
  expect_end 1 "$where" --window
  expect_end 1 "$where" --window 640x480
  expect_end 1 "$where" --root
  expect_end 1 "$where" -root -fps
  expect_end 1 "$where" --window-id 0x200001
  XSCREENSAVER_WINDOW=0x200001 expect_end 1 "$where, XSCREENSAVER_WINDOW"
  # Drivers that draw only into memory count as no display even when asked for by name.
  SDL_VIDEODRIVER=offscreen expect_end 1 "$where, offscreen driver" --window
  SDL_VIDEODRIVER=dummy expect_end 1 "$where, dummy driver" --window
done

# Sizes the one size parser refuses (SizeArgument.EveryProgramTakesExactlyThePlainSizes has
# them all): overflow, a sign, a blank, a missing side.
export DISPLAY=$display
for size in 4294967297x1 16385x1 " 1x5" 5x ""; do
  expect_end 2 "size '$size'" --window "$size"
done
expect_end 2 "size '-1x5'" --window=-1x5
finish
