#!/usr/bin/env bash
# What the saver hosts put on an X11 screen is the frame's rectangles of the canvas and nothing
# else: through shared memory (one request, clipped to the rectangles) and, on a server without
# MIT-SHM (a private one), over the connection. The probe reads the screen back after every frame.
source "$(dirname "$0")/lib.sh"

for server in use_x "start_xvfb 640x480x24 -extension MIT-SHM"; do
  $server
  out=$("$PROBES/nimbrel_present_probe" 2>"$WORK/probe.log") || fail "$out: $(cat "$WORK/probe.log")"
  expected=shared
  [ "$server" = use_x ] || expected=copied
  [ "$out" = "$expected" ] || fail "the probe's frames were $out, not $expected"
  echo "$out frames show exactly their rectangles"
done
