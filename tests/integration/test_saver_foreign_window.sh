#!/usr/bin/env bash
# Nimbrel in a window that belongs to someone else, as xsecurelock runs a saver (-root and a
# decimal XSCREENSAVER_WINDOW) or as --window-id names one: it draws into the window, makes a
# new view when the window is resized and on SIGUSR1, ends with status 0 when the window is
# destroyed or on SIGTERM; narrow windows get preview views; bad input gets one line and a
# non-zero status.
source "$(dirname "$0")/lib.sh"

nimbrel="$NIMBREL_BUILD/hosts/saver/nimbrel"
helper="$NIMBREL_BUILD/tests/integration/nimbrel_test_window"
export XDG_CONFIG_HOME="$WORK/config"
start_xvfb 1280x800x24

# Opens a test window of size $1 as a coprocess; sets HOST_ID and HOST_PID.
open_window() {
  coproc HOST { exec "$helper" "$1"; }
  HOST_PID=$HOST_PID
  track "$HOST_PID"
  read -r -t 10 HOST_ID <&"${HOST[0]}" || fail "the test window did not open"
}
# Sends a command to the test window and waits until it was carried out.
tell_window() {
  echo "$1" >&"${HOST[1]}"
  local reply
  read -r -t 10 reply <&"${HOST[0]}" || fail "the test window did not answer '$1'"
}
# Fraction of a PNG covered by pure white patches of 7x7 pixels or more: the test window's own
# background showing through (white stars are at most 3 pixels wide).
white_fraction() {
  convert "$1" -fill black +opaque white -colorspace Gray -morphology Erode Square:3 \
    -format '%[fx:mean]' info:
}
below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

# --- xsecurelock's way: -root and a decimal XSCREENSAVER_WINDOW ------------------------------
open_window 800x600
XSCREENSAVER_WINDOW=$HOST_ID "$nimbrel" -root --seed 21 2>"$WORK/saver.err" &
saver=$!
track "$saver"
sleep 4
screenshot "$WORK/drawn.png" "$HOST_ID"
colours=$(distinct_colours "$WORK/drawn.png")
white=$(white_fraction "$WORK/drawn.png")
echo "in the foreign window: $colours colours, white fraction $white"
[ "$(identify -format '%wx%h' "$WORK/drawn.png")" = 800x600 ] || fail "window size changed"
[ "$colours" -gt 200 ] || fail "only $colours colours in the window"
below "$white" 0.001 || fail "the window's white background still shows ($white)"

# SIGUSR1 (xsecurelock: the unlock dialog closed) starts a fresh view: black with its title.
kill -USR1 "$saver"
sleep 0.5
screenshot "$WORK/reset.png" "$HOST_ID"
above=$(mean_brightness "$WORK/reset.png" 800x350+0+0)
below "$above" 0.001 || fail "SIGUSR1 did not start a fresh view ($above)"
kill -0 "$saver" || fail "SIGUSR1 ended the saver"
sleep 2

# Resized in place: a new view of the new size, starting over with its title on black.
tell_window "resize 1000 700"
sleep 0.7
screenshot "$WORK/resized.png" "$HOST_ID"
[ "$(identify -format '%wx%h' "$WORK/resized.png")" = 1000x700 ] || fail "resize did not happen"
title=$(mean_brightness "$WORK/resized.png" 300x80+350+455)
above=$(mean_brightness "$WORK/resized.png" 1000x400+0+0)
white=$(white_fraction "$WORK/resized.png")
echo "after resizing: title region $title, above it $above, white fraction $white"
awk -v t="$title" 'BEGIN { exit !(t > 0.03) }' || fail "no title of a new view at the new centre"
below "$above" 0.001 || fail "the new view did not start on black ($above)"
below "$white" 0.001 || fail "part of the resized window was not redrawn ($white)"
sleep 3
screenshot "$WORK/resized-later.png" "$HOST_ID"
[ "$(distinct_colours "$WORK/resized-later.png")" -gt 200 ] || fail "no pattern after resizing"
cp "$WORK/drawn.png" "$WORK/resized.png" "$WORK/resized-later.png" \
  "${NIMBREL_KEEP_SHOTS:-$WORK}/" 2>/dev/null || true

# Destroyed under the running saver: it ends quietly with status 0.
tell_window destroy
ended_with 0 "$saver" 3 || fail "the saver did not end with status 0 when its window went"
[ ! -s "$WORK/saver.err" ] || fail "the saver wrote to stderr: $(cat "$WORK/saver.err")"
exec {HOST[1]}>&-

# --- --window-id in hexadecimal, a narrow window: a preview, patterned from its first frame ---
open_window 400x300
"$nimbrel" --window-id "$(printf '0x%x' "$HOST_ID")" --seed 5 2>"$WORK/preview.err" &
saver=$!
track "$saver"
sleep 0.8
screenshot "$WORK/preview.png" "$HOST_ID"
colours=$(distinct_colours "$WORK/preview.png")
echo "preview after 0.8 s: $colours colours"
[ "$colours" -gt 20 ] || fail "a 400-wide window did not get a preview view ($colours colours)"
kill -TERM "$saver"
ended_with 0 "$saver" 3 || fail "SIGTERM did not end the saver with status 0"
[ ! -s "$WORK/preview.err" ] || fail "the saver wrote to stderr: $(cat "$WORK/preview.err")"
cp "$WORK/preview.png" "${NIMBREL_KEEP_SHOTS:-$WORK}/" 2>/dev/null || true

# --- bad input: one line on stderr, nothing on stdout, a non-zero status --------------------
bad() {
  local status=0
  "$@" >"$WORK/out" 2>"$WORK/err" </dev/null || status=$?
  [ "$status" -ne 0 ] || fail "'$*' succeeded"
  [ ! -s "$WORK/out" ] || fail "'$*' wrote to stdout"
  [ "$(wc -l <"$WORK/err")" -eq 1 ] || fail "'$*' did not write exactly one line: $(cat "$WORK/err")"
  echo "  $(cat "$WORK/err")"
}
echo "bad input:"
bad "$nimbrel" --window-id 0x1fffff0
bad env XSCREENSAVER_WINDOW=12345678 "$nimbrel" -root
bad env XSCREENSAVER_WINDOW=bogus "$nimbrel" -root
bad "$nimbrel" --window 0x0
bad "$nimbrel" --window 640
bad "$nimbrel" --frobnicate
bad env -u DISPLAY -u WAYLAND_DISPLAY "$nimbrel"
bad env -u DISPLAY "$nimbrel" --root
bad env DISPLAY=:999 "$nimbrel" --root
echo "PASS"
