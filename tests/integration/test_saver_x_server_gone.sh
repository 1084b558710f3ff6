#!/usr/bin/env bash
# The X server going away under a running saver, in each of its modes: the saver ends by
# itself within a few seconds, with status 0 or one clear line on stderr, and no core dump.
source "$(dirname "$0")/lib.sh"

nimbrel="$NIMBREL_BUILD/programs/nimbrel/nimbrel"
export XDG_CONFIG_HOME="$WORK/config"

# The saver has covered the white root (Xvfb -wr) with its black canvas; the title comes later,
# in the middle.
root_painted() {
  screenshot "$WORK/root.png" &&
    awk -v b="$(mean_brightness "$WORK/root.png" 64x64+0+0)" 'BEGIN { exit !(b < 0.001) }'
}

for mode in "--window 400x300" "--root" ""; do
  start_xvfb 800x600x24 -wr
  # shellcheck disable=SC2086  # the mode is two words or none on purpose
  "$nimbrel" $mode --seed 2 2>"$WORK/err" &
  saver=$!
  track "$saver"
  # Running means drawing: its own window exists, or the root window shows its canvas.
  if [ "$mode" = --root ]; then
    wait_for "root_painted" 60 || fail "[$mode] nothing drawn on the root window"
  else
    timeout 60 xdotool search --sync --name '^Nimbrel$' >/dev/null || fail "[$mode] no window"
  fi
  kill -0 "$saver" 2>/dev/null || fail "[$mode] saver ended before the server went away"

  kill "$XVFB_PID"
  wait "$XVFB_PID" 2>/dev/null || true
  wait_for "! kill -0 $saver" 10 || fail "[$mode] saver still running after the server went away"
  status=0
  wait "$saver" || status=$?
  lines=$(wc -l <"$WORK/err")
  if [ "$status" -ne 0 ]; then
    [ "$status" -lt 128 ] || fail "[$mode] saver died of signal $((status - 128))"
    [ "$lines" -eq 1 ] || fail "[$mode] status $status with $lines lines on stderr: $(cat "$WORK/err")"
  fi
  echo "[$mode] status $status: $(cat "$WORK/err")"
done
echo "PASS: the saver ends cleanly when the X server goes away"
