#!/usr/bin/env bash
# `swayidle -w timeout 1 'nimbrel --layer overlay'` under a Wayland compositor (headless sway,
# two outputs): after a second without input the overlay shows on both outputs, and a key from
# a new keyboard ends it with status 0.
source "$(dirname "$0")/wayland_lib.sh"
start_sway

# What swayidle runs: the overlay, with its PID and, when it ends, its status written down.
cat >"$WORK/idle-saver.sh" <<SCRIPT
#!/bin/sh
WAYLAND_DEBUG=client "$NIMBREL" --layer overlay --seed 3 2>"$WORK/saver.log" &
echo \$! >>"$WORK/idle-saver.pids"
wait \$!
echo \$? >"$WORK/idle-saver.status"
SCRIPT
swayidle -w timeout 1 "sh $WORK/idle-saver.sh" 2>"$WORK/swayidle.log" &
track $!

wait_for "[ -s '$WORK/idle-saver.pids' ]" || fail "swayidle never started the overlay: $(cat "$WORK/swayidle.log")"
SAVER=$(head -n 1 "$WORK/idle-saver.pids")
wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "the overlay that swayidle started did not show on both outputs"
echo "swayidle started the overlay after its timeout"

quick_key
kill -0 "$SAVER" 2>/dev/null && patient_key
wait_for "[ -s '$WORK/idle-saver.status' ]" || fail "a key did not end the overlay"
[ "$(cat "$WORK/idle-saver.status")" = 0 ] ||
  fail "the overlay ended with status $(cat "$WORK/idle-saver.status"), not 0"
[ -z "$(saver_stderr)" ] || fail "the overlay wrote to stderr: $(saver_stderr | head -c 300)"
echo PASS
