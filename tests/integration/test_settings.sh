#!/usr/bin/env bash
# nimbrel-settings as an application under Xvfb, on a session bus of its own: --version and
# --help without a display, its WM_CLASS, one instance (a second start presents the first
# window and ends). Then the real GTK sheet driven by real input (xdotool): confirm a set of
# changes and check the key file; dismiss changes and check nothing was written.
source "$(dirname "$0")/lib.sh"
with_private_session_bus "$@"

BUILD=${NIMBREL_BUILD:?}
SOURCE=${NIMBREL_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}
settings_on_xvfb

# --- options, answered before any display is needed ---------------------------------------------
VERSION=$(sed -n 's/^project(Nimbrel VERSION \([0-9.]*\).*/\1/p' "$SOURCE/CMakeLists.txt")
out=$(env -u DISPLAY "$SETTINGS" --version) || fail "--version failed"
[ "$out" = "nimbrel-settings $VERSION" ] || fail "--version says: $out"
env -u DISPLAY "$SETTINGS" --help >"$WORK/help.txt" || fail "--help failed"
grep -q '^Usage:' "$WORK/help.txt" && grep -q -- '--version' "$WORK/help.txt" &&
  grep -q 'preview' "$WORK/help.txt" || fail "--help says: $(cat "$WORK/help.txt")"
if env -u DISPLAY "$SETTINGS" --no-such-option 2>"$WORK/bad.txt"; then fail "an unknown option was taken"; fi
grep -q 'no-such-option' "$WORK/bad.txt" || fail "an unknown option is not named: $(cat "$WORK/bad.txt")"
if env -u DISPLAY "$SETTINGS" 2>"$WORK/nodisplay.txt"; then fail "started without a display"; fi
grep -q 'cannot open a display' "$WORK/nodisplay.txt" || fail "no display: $(cat "$WORK/nodisplay.txt")"

export XDG_CONFIG_HOME=$WORK/config
STORE=$XDG_CONFIG_HOME/nimbrel/preferences.ini

"$SETTINGS" 2>"$WORK/settings.log" &
FIRST=$!
track $FIRST
shown_window
MAIN=$WIN MAIN_X=$X MAIN_Y=$Y
wm_class=$(xprop -id "$MAIN" WM_CLASS)
[ "$wm_class" = 'WM_CLASS(STRING) = "nimbrel-settings", "org.nimbrel.Nimbrel.Settings"' ] ||
  fail "unexpected $wm_class"

# --- one instance ---------------------------------------------------------------------------------
# Another window on top with the focus: the second start hands itself over to the first, which
# presents its window (raised, focused), and ends; no second settings window appears.
coproc OTHER { exec "$BUILD/tests/integration/nimbrel_test_window" 200x200; }
# Bash unsets OTHER_PID as soon as it reaps the coprocess, which may be between a kill and the
# wait after it: keep the pid under a name of our own.
other_pid=$OTHER_PID
track "$other_pid"
read -r -t 10 OTHER_ID <&"${OTHER[0]}" || fail "no other window"
xdotool windowfocus --sync "$OTHER_ID"
"$SETTINGS" 2>"$WORK/second.log" &
SECOND=$!
track $SECOND
ended_with 0 "$SECOND" 15 || fail "the second start did not end: $(cat "$WORK/second.log")"
wait_for "[ \$(xdotool getwindowfocus) = $MAIN ]" 15 || fail "the first window was not presented"
[ "$(xdotool search --onlyvisible --name '^Nimbrel$')" = "$MAIN" ] ||
  fail "windows now: $(xdotool search --onlyvisible --name '^Nimbrel$' | tr '\n' ' ')"
kill -0 "$FIRST" || fail "the first instance ended"
kill "$other_pid"
wait "$other_pid" 2>/dev/null || true
# The preview view found an empty store and wrote the defaults.
wait_for "[ -s '$STORE' ]" 10 || fail "defaults were not written"
grep -q '^petalCount=8$' "$STORE" || fail "unexpected defaults: $(cat "$STORE")"

# Positions inside the windows, from their layout (Prefs.ui and the settings window).
at_main() { xdotool mousemove $((MAIN_X + $1)) $((MAIN_Y + $2)) click 1; sleep 0.3; }

open_sheet() {
  at_main 456 427  # Options…
  shown_window "Nimbrel Options"
  SHEET=$WIN SHEET_X=$X SHEET_Y=$Y
  sleep 0.5
}
at_sheet() { xdotool mousemove $((SHEET_X + $1)) $((SHEET_Y + $2)) click 1; sleep 0.3; }
# Replaces a field's text by typing.
type_into() {
  at_sheet "$1" "$2"
  xdotool key ctrl+a
  xdotool type --delay 40 "$3"
  sleep 0.2
}
key_is() { grep -q "^$1=$2\$" "$STORE" || fail "$1 is not $2 in: $(cat "$STORE")"; }
sheet_gone() {
  wait_for "! xdotool search --onlyvisible --name '^Nimbrel Options\$'" 5 || fail "sheet still shown"
}

# --- confirm ------------------------------------------------------------------------------
open_sheet
type_into 112 85 40    # petals: beyond 16
at_sheet 96 124        # mirror petals: off
at_sheet 96 278        # stars: on
type_into 112 325 75   # speed: beyond 60
at_sheet 200 403       # interval stepper "+": 8 -> 9 in the field
at_sheet 157 205       # colour pop-up: open, then the fourth entry ("Vivid", theme 3)
xdotool key Down Down Down Return
sleep 0.8
screenshot "$SHOTS/settings-sheet.png"
at_sheet 460 26        # OK
sheet_gone
# The store is written before the sheet closes; waiting on its content still holds if that
# ever moves behind the closing.
wait_for "grep -q '^colorTheme=3\$' '$STORE'" 10 || fail "OK did not store the theme: $(cat "$STORE")"
key_is petalCount 16
key_is mirrorPetals false
key_is frameEdge true
key_is drawStars true
key_is speed 60
key_is randomizeInterval 9
key_is randomizeColors false
key_is colorTheme 3

# The reopened sheet shows what was stored.
open_sheet
screenshot "$SHOTS/settings-reopened.png"
# --- dismiss ------------------------------------------------------------------------------
cp "$STORE" "$WORK/before.ini"
type_into 112 85 5
at_sheet 96 158        # outline petals: off
at_sheet 157 205
xdotool key Up Return  # a theme picked and shown in the preview, not stored
sleep 0.5
at_sheet 48 26         # Cancel
sheet_gone
sleep 0.5
cmp -s "$STORE" "$WORK/before.ini" || fail "dismissing wrote the store: $(cat "$STORE")"

# Escape dismisses too.
open_sheet
type_into 112 325 12
xdotool key Escape
sheet_gone
sleep 0.5
cmp -s "$STORE" "$WORK/before.ini" || fail "Escape wrote the store: $(cat "$STORE")"

screenshot "$SHOTS/settings-window.png" "$MAIN"
colours=$(distinct_colours "$SHOTS/settings-window.png")
[ "$colours" -gt 40 ] || fail "the preview pane looks empty ($colours colours)"
if grep -qE 'CRITICAL|WARNING' "$WORK/settings.log"; then fail "GTK complained: $(cat "$WORK/settings.log")"; fi

# Closing the window ends the application.
"$BUILD/tests/integration/nimbrel_test_window" close "$MAIN"
ended_with 0 "$FIRST" 15 || fail "closing the window did not end the application"
echo "settings: one instance with WM_CLASS $wm_class; confirm and dismiss behave; $colours colours in the settings window"
