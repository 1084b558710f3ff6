#!/usr/bin/env bash
# The X server going away under a running saver, in each of its modes (private servers): the
# saver ends by itself with status 1 and one line on stderr, no crash and no hang.
source "$(dirname "$0")/lib.sh"

# The saver runs once it has drawn: its black canvas over the white root (Xvfb -wr) in the
# top-left corner, and the title's light grey in the middle.
drawn() {
  screenshot "$WORK/shown.png" "$1" && below "$(measure "$WORK/shown.png" 32x32+0+0 | tail -1)" 0.001 &&
    greater "$(convert "$WORK/shown.png" -colorspace Gray -format '%[fx:maxima]' info:)" 0.5
}

for mode in "--window 400x300" --root ""; do
  start_xvfb 800x600x24 -wr
  # shellcheck disable=SC2086  # the mode is two words or none on purpose
  "$NIMBREL" $mode --seed 2 2>"$WORK/err" &
  saver=$!
  track "$saver"
  target=root
  [ "$mode" = --root ] || target=$(window_named Nimbrel) || fail "[$mode] no window"
  wait_for "drawn $target" || fail "[$mode] nothing drawn"
  kill "$XVFB_PID"
  ended_with 1 "$saver" && [ "$(wc -l <"$WORK/err")" -eq 1 ] || fail "[$mode] stderr: $(cat "$WORK/err")"
  echo "[$mode] $(cat "$WORK/err")"
done
