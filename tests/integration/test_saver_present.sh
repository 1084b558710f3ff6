#!/usr/bin/env bash
# What the saver hosts put on an X11 screen is the frame's rectangles of the canvas and nothing
# else: through shared memory (one request, clipped to the rectangles) and, on a server without
# MIT-SHM, over the connection. The probe reads the screen back after every frame.
source "$(dirname "$0")/lib.sh"

probe="$NIMBREL_BUILD/tests/integration/nimbrel_present_probe"
start_xvfb 640x480x24
out=$("$probe" 2>"$WORK/shared.log") || fail "with shared memory: $(cat "$WORK/shared.log")"
[ "$out" = shared ] || fail "the probe did not share memory with Xvfb: $out"
kill "$XVFB_PID"
wait "$XVFB_PID" 2>/dev/null || true

start_xvfb 640x480x24 -extension MIT-SHM
out=$("$probe" 2>"$WORK/copied.log") || fail "without shared memory: $(cat "$WORK/copied.log")"
[ "$out" = copied ] || fail "the probe shared memory with a server without MIT-SHM: $out"
echo "present: shared and copied frames show exactly their rectangles"
