#!/usr/bin/env bash
# nimbrel-settings with the real GTK sheet under Xvfb, driven by real input (xdotool): confirm
# a set of changes and check the key file; dismiss changes and check nothing was written.
source "$(dirname "$0")/lib.sh"

BUILD=${NIMBREL_BUILD:?}
SETTINGS=$BUILD/hosts/settings/nimbrel-settings
[ -x "$SETTINGS" ] || fail "no $SETTINGS"
SHOTS=${NIMBREL_SHOTS:-$WORK}  # set it to keep the screenshots

start_xvfb 1024x768x24
export GDK_BACKEND=x11 GSK_RENDERER=cairo NO_AT_BRIDGE=1 GTK_A11Y=none
export XDG_CONFIG_HOME=$WORK/config
STORE=$XDG_CONFIG_HOME/nimbrel/preferences.ini

"$SETTINGS" 2>"$WORK/settings.log" &
track $!
wait_for "xdotool search --onlyvisible --name '^Nimbrel\$'" 15 || fail "no settings window"
MAIN=$(xdotool search --onlyvisible --name '^Nimbrel$' | head -1)
# The preview view found an empty store and wrote the defaults.
wait_for "[ -s '$STORE' ]" 10 || fail "defaults were not written"
grep -q '^petalCount=8$' "$STORE" || fail "unexpected defaults: $(cat "$STORE")"

# Positions inside the windows, from their layout (Prefs.ui and the settings window).
eval "$(xdotool getwindowgeometry --shell "$MAIN")"
MAIN_X=$X MAIN_Y=$Y
at_main() { xdotool mousemove $((MAIN_X + $1)) $((MAIN_Y + $2)) click 1; sleep 0.3; }

open_sheet() {
  at_main 456 427  # Options…
  wait_for "xdotool search --onlyvisible --name '^Nimbrel Options\$'" 10 || fail "no sheet"
  SHEET=$(xdotool search --onlyvisible --name '^Nimbrel Options$' | head -1)
  eval "$(xdotool getwindowgeometry --shell "$SHEET")"
  SHEET_X=$X SHEET_Y=$Y
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
sleep 0.5
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
echo "settings: confirm and dismiss behave; $colours colours in the settings window"
