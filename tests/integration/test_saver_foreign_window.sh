#!/usr/bin/env bash
# Nimbrel in a window that belongs to someone else, as xsecurelock runs a saver (-root and a
# decimal XSCREENSAVER_WINDOW) or as --window-id names one: it draws into the window, makes a
# new view when the window is resized and on SIGUSR1, ends with status 0 when the window is
# destroyed or on SIGTERM; narrow windows get preview views; bad input gets one line and a
# non-zero status.
source "$(dirname "$0")/lib.sh"

nimbrel="$NIMBREL_BUILD/programs/nimbrel/nimbrel"
helper="$NIMBREL_BUILD/tests/integration/nimbrel_test_window"
export XDG_CONFIG_HOME="$WORK/config"
start_xvfb 1280x800x24

# Opens a test window of size $1 as a coprocess; sets HOST_ID.
open_window() {
  coproc HOST { exec "$helper" "$1"; }
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

# Whether the test window shows a full pattern at size $1 that covers all of it: many colours,
# none of its white background left. The pattern only builds up, so this keeps holding.
covered_by_pattern() {
  screenshot "$WORK/drawn.png" "$HOST_ID" || return 1
  [ "$(identify -format '%wx%h' "$WORK/drawn.png")" = "$1" ] &&
    [ "$(distinct_colours "$WORK/drawn.png")" -gt 200 ] &&
    below "$(white_fraction "$WORK/drawn.png")" 0.001
}
title_800x600() { shows_title "$1" 800x600 300x80+250+375 800x350+0+0; }
# ... and, resized, not a patch of the window's white background left.
title_1000x700() {
  shows_title "$1" 1000x700 300x80+350+455 1000x400+0+0 &&
    below "$(white_fraction "xwd:$1")" 0.001
}

# --- xsecurelock's way: -root and a decimal XSCREENSAVER_WINDOW ------------------------------
open_window 800x600
XSCREENSAVER_WINDOW=$HOST_ID "$nimbrel" -root --seed 21 2>"$WORK/saver.err" &
saver=$!
track "$saver"
wait_for "covered_by_pattern 800x600" ||
  fail "no full pattern in the window: $(distinct_colours "$WORK/drawn.png") colours," \
    "white fraction $(white_fraction "$WORK/drawn.png")"
echo "in the foreign window: $(distinct_colours "$WORK/drawn.png") colours"

# SIGUSR1 (xsecurelock: the unlock dialog closed) starts a fresh view: black with its title.
# Its title lasts 1.5 s of the saver's clock, so every distinct picture from now on is looked at.
start_capture "$HOST_ID"
kill -USR1 "$saver"
await_capture title_800x600 "$WORK/reset.png" || fail "SIGUSR1 did not start a fresh view"
kill -0 "$saver" || fail "SIGUSR1 ended the saver"
# The fresh view's title phase is over once the pattern is back; only then is a title that
# appears after the resize the new view's.
wait_for "covered_by_pattern 800x600" || fail "no pattern after SIGUSR1"

# Resized in place: a new view of the new size, starting over with its title on black.
start_capture "$HOST_ID"
tell_window "resize 1000 700"
await_capture title_1000x700 "$WORK/resized.png" ||
  fail "the resized window never showed a new view's title on black, all of it redrawn"
wait_for "covered_by_pattern 1000x700" || fail "no pattern after resizing"
cp "$WORK/drawn.png" "$WORK/resized-later.png"
cp "$WORK/reset.png" "$WORK/resized.png" "$WORK/resized-later.png" \
  "${NIMBREL_KEEP_SHOTS:-$WORK}/" 2>/dev/null || true

# Destroyed under the running saver: it ends quietly with status 0.
tell_window destroy
ended_cleanly "window gone" "$WORK/saver.err"
exec {HOST[1]}>&-

# --- --window-id in hexadecimal, a narrow window: a preview, patterned from its first frame ---
# The window starts white, the saver clears it to black and then draws its first frame. A full
# view's first frame would be the grey title on black; a preview's is coloured petals.
coloured() {
  greater "$(convert "xwd:$1" -colorspace HSL -channel G -separate +channel \
    -format '%[fx:maxima]' info:)" 0.2
}
first_frame() {
  local m
  mapfile -t m < <(measure "$1" 400x300+0+0)
  [ "${m[0]}" = 400x300 ] || return 1
  below "$(white_fraction "xwd:$1")" 0.5 || return 1           # not drawn yet
  greater "$(distinct_colours "xwd:$1")" 2 || return 1         # still the black clear
  coloured "$1" && echo coloured >"$WORK/first" || echo grey >"$WORK/first"
}
open_window 400x300
start_capture "$HOST_ID"
"$nimbrel" --window-id "$(printf '0x%x' "$HOST_ID")" --seed 5 2>"$WORK/preview.err" &
saver=$!
track "$saver"
await_capture first_frame "$WORK/preview.png" || fail "the saver drew nothing in a 400-wide window"
colours=$(distinct_colours "$WORK/preview.png")
echo "preview, first frame: $colours colours, $(cat "$WORK/first")"
[ "$(cat "$WORK/first")" = coloured ] ||
  fail "a 400-wide window did not get a preview view: its first frame is not coloured"
ended_cleanly TERM "$WORK/preview.err"
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
