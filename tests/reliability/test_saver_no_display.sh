#!/usr/bin/env bash
# The saver without a display it can show anything on: DISPLAY naming a server that is not
# there, or no DISPLAY at all, and no Wayland. Every mode must end at once with status 1 and one
# line on stderr, never fall back to drawing off screen until killed. A bad argument ends with
# status 2 and one line before any display is looked for (which ones: CommandLineTest.cpp).
source "$(dirname "$0")/lib.sh"

# expect_end STATUS WHAT ARGS...: the saver ends within a minute with STATUS and exactly one
# line on stderr, nothing on stdout.
expect_end() {
  local want=$1 what=$2 status=0
  shift 2
  timeout 60 "$NIMBREL" "$@" >"$SCRATCH/out" 2>"$SCRATCH/err" </dev/null || status=$?
  [ "$status" -eq "$want" ] && [ "$(wc -l <"$SCRATCH/err")" -eq 1 ] && [ ! -s "$SCRATCH/out" ] ||
    fail "[$what] nimbrel $*: status $status (124: still running), expected $want with one" \
      "line on stderr: $(head -c 500 "$SCRATCH/err")"
}

# No Wayland either: SDL would otherwise find a compositor's socket in the runtime directory.
unset WAYLAND_DISPLAY SDL_VIDEODRIVER XSCREENSAVER_WINDOW
export XDG_RUNTIME_DIR="$SCRATCH/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
# A display number nobody serves: neither its socket file nor its abstract socket exists.
for ((n = 97; ; n++)); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] ||
    grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix 2>/dev/null || break
done

for where in "DISPLAY=:$n" "no DISPLAY"; do
  if [ "$where" = "no DISPLAY" ]; then unset DISPLAY; else export DISPLAY=:$n; fi
  expect_end 1 "$where" --seed 3
  expect_end 1 "$where" --window 640x480
  # Without a runtime directory no library adds a line of its own.
  XDG_RUNTIME_DIR='' expect_end 1 "$where, no XDG_RUNTIME_DIR" --window
  XDG_RUNTIME_DIR=run WAYLAND_DISPLAY=wayland-9 expect_end 1 "$where, Wayland but no runtime" --seed 3
  expect_end 1 "$where" -root -fps
  expect_end 1 "$where" --window-id 0x200001
  XSCREENSAVER_WINDOW=0x200001 expect_end 1 "$where, XSCREENSAVER_WINDOW"
  # Drivers that draw only into memory count as no display even when asked for by name.
  SDL_VIDEODRIVER=offscreen expect_end 1 "$where, offscreen driver" --window
  SDL_VIDEODRIVER=dummy expect_end 1 "$where, dummy driver" --window
done
expect_end 2 "size '-1x5'" --window=-1x5
finish
