#!/usr/bin/env bash
# nimbrel-settings from an installation moved to another prefix (it finds its files beside
# itself) on X and a session bus of its own: WM_CLASS, one instance (a second start presents the
# first window and ends), a live preview, and the options sheet driven by real input: OK stores
# every change, Cancel and Escape store nothing, closing the window ends it. Then damaged
# interface files, each refused naming the file and the object, and 200 openings of the sheet
# that leave one alive.
source "$(dirname "$0")/lib.sh"
use_x
use_bus
export GDK_BACKEND=x11 GSK_RENDERER=cairo NO_AT_BRIDGE=1 GTK_A11Y=none
unset NIMBREL_RESOURCES
STORE=$XDG_CONFIG_HOME/nimbrel/preferences.ini
UI=$NIMBREL_SOURCE/resources

env -u DISPLAY "$NIMBREL_BUILD/programs/nimbrel-settings/nimbrel-settings" 2>"$WORK/err" &&
  fail "started without a display"
grep -q 'cannot open a display' "$WORK/err" || fail "without a display: $(cat "$WORK/err")"

# Installed as the one default component, which writes its list beside the build's
# install_manifest.txt (`make uninstall` goes by that), not over it.
cmake --install "$NIMBREL_BUILD" --component Unspecified --prefix "$WORK/first" >/dev/null
mv "$WORK/first" "$WORK/moved"
SETTINGS=$WORK/moved/bin/nimbrel-settings

# Starts nimbrel-settings (pid: settings); a start before the last one's bus name is released
# would hand itself over to the instance that is going.
start_settings() {
  wait_for "! dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.nimbrel.Nimbrel.Settings | grep -q 'boolean true'" ||
    fail "the bus name is still owned"
  "$SETTINGS" 2>"$WORK/settings.log" &
  settings=$!
  track "$settings"
}
# Waits for the window named $1 to be shown, and drawn where crop $2 (WxH+X+Y) is: laid out, it
# takes clicks. Sets WIN, X, Y, HEIGHT.
shown() {
  wait_for "xdotool search --onlyvisible --name '^$1\$'" || fail "no window '$1'"
  WIN=$(xdotool search --onlyvisible --name "^$1\$" | head -n 1)
  eval "$(xdotool getwindowgeometry --shell "$WIN")"
  wait_for "import -window $WIN -crop $2 +repage '$WORK/crop.png' && greater \
    \$(convert '$WORK/crop.png' -colorspace Gray -format '%[fx:standard_deviation]' info:) 0.05" ||
    fail "'$1' was never drawn"
}
click() { xdotool mousemove $((X + $1)) $((Y + $2)) click 1; }
gone() { wait_for "! xdotool search --onlyvisible --name '^$1\$'" || fail "'$1' is still shown"; }
open_sheet() {
  shown Nimbrel 95x33+410+411
  click 456 427 # Options…
  shown "Nimbrel Options" 50x30+435+11
}
# The colour pop-up: opened, keys $@ typed into it once it shows, closed.
pick_colour() {
  click 157 205
  wait_for "xdotool search --onlyvisible --name '^nimbrel-settings\$'" || fail "no colour pop-up"
  xdotool key "$@"
  gone nimbrel-settings
}
# Replaces the text of the field at $1,$2 by $3.
type_into() { click "$1" "$2" && xdotool key ctrl+a type --delay 40 "$3"; }

# --- the window -----------------------------------------------------------------------------
start_settings
first=$settings
shown Nimbrel 95x33+410+411
main=$WIN
wm_class=$(xprop -id "$main" WM_CLASS)
[ "$wm_class" = 'WM_CLASS(STRING) = "nimbrel-settings", "org.nimbrel.Nimbrel.Settings"' ] || fail "$wm_class"
# The preview found an empty store and wrote the defaults.
wait_for "grep -q '^petalCount=8$' '$STORE'" || fail "no defaults stored: $(cat "$STORE")"
# The preview draws frame after frame: its pictures change, and they are many-coloured.
import -window "$main" -crop 480x300+24+70 +repage "$WORK/preview-0.png"
wait_for "import -window $main -crop 480x300+24+70 +repage '$WORK/preview.png' &&
  ! cmp -s '$WORK/preview-0.png' '$WORK/preview.png' && [ \$(colours '$WORK/preview.png') -gt 40 ]" ||
  fail "the preview does not draw: $(colours "$WORK/preview.png") colours"

# Another window on top with the focus: a second start hands itself over to the first, which
# presents its window (raised, focused), and ends.
start_probe "$PROBES/nimbrel_test_window" 200x200
xdotool windowfocus --sync "$PROBE_SAID"
"$SETTINGS" 2>"$WORK/second.log" &
ended_with 0 $! || fail "the second start did not end: $(cat "$WORK/second.log")"
wait_for "[ \$(xdotool getwindowfocus) = $main ]" || fail "the first window was not presented"
[ "$(xdotool search --onlyvisible --name '^Nimbrel$')" = "$main" ] || fail "a second settings window"
kill "$PROBE_PID"

# --- the options sheet --------------------------------------------------------------------------
open_sheet
type_into 112 85 40  # petals: beyond 16
click 96 124         # mirror petals: off
click 96 278         # stars: on
type_into 112 325 75 # speed: beyond 60
click 200 403        # interval stepper "+": 8 -> 9
pick_colour Down Down Down Return # the fourth entry, "Vivid": theme 3
screenshot "$WORK/sheet.png" "$WIN"
click 460 26 # OK
gone "Nimbrel Options"
wait_for "grep -q '^colorTheme=3\$' '$STORE'" || fail "OK did not store the theme: $(cat "$STORE")"
for kv in petalCount=16 mirrorPetals=false frameEdge=true drawStars=true speed=60 randomizeInterval=9 \
  randomizeColors=false; do
  grep -qx "$kv" "$STORE" || fail "no $kv in: $(cat "$STORE")"
done
cp "$STORE" "$WORK/stored.ini"

open_sheet
screenshot "$WORK/reopened.png" "$WIN"
type_into 112 85 5
click 96 158 # outline petals: off
pick_colour Up Return
click 48 26 # Cancel
gone "Nimbrel Options"
open_sheet
type_into 112 325 12
xdotool key Escape
gone "Nimbrel Options"

grep -E 'CRITICAL|WARNING' "$WORK/settings.log" && fail "GTK complained"
# Closing the window ends the application; nothing after OK was stored.
"$PROBES/nimbrel_test_window" close "$main"
ended_with 0 "$first" || fail "closing the window did not end the application"
cmp -s "$STORE" "$WORK/stored.ini" || fail "Cancel or Escape stored: $(cat "$STORE")"

# --- damaged interface files --------------------------------------------------------------------
# The GTK sheet toolkit alone: every damaged Prefs.ui refused; 200 openings leave one sheet.
mkdir "$WORK/damaged"
"$PROBES/nimbrel_sheet_probe" "$UI/Prefs.ui" "$WORK/damaged" 200 >"$WORK/probe.log" 2>&1 &&
  [ "$(grep -c '^ok without ' "$WORK/probe.log")" -ge 16 ] || fail "$(grep -v '^ok' "$WORK/probe.log")"

# The settings program with a damaged Prefs.ui: Options… shows the reason in the window, which
# grows, and no sheet; the store stays as it was.
mkdir "$WORK/prefs"
sed 's/id="speedField"/id="speedEntry"/' "$UI/Prefs.ui" >"$WORK/prefs/Prefs.ui"
cp "$UI/SettingsWindow.ui" "$WORK/prefs/"
NIMBREL_RESOURCES=$WORK/prefs start_settings
shown Nimbrel 95x33+410+411
click 456 427
wait_for "grep -q 'cannot be shown.*$WORK/prefs/Prefs.ui' '$WORK/settings.log'" ||
  fail "no reason given: $(cat "$WORK/settings.log")"
wait_for "[ \$(xdotool getwindowgeometry --shell $WIN | sed -n 's/^HEIGHT=//p') -gt $HEIGHT ]" ||
  fail "the window shows no reason"
screenshot "$WORK/damaged-prefs.png" "$WIN"
xdotool search --onlyvisible --name '^Nimbrel Options$' && fail "a sheet was shown"
cmp -s "$STORE" "$WORK/stored.ini" || fail "the store changed: $(cat "$STORE")"
kill "$settings"

# A damaged SettingsWindow.ui: each object's id changed in turn, a button as a label, the file
# cut in half, 20,000 nested boxes (which crashed GTK). Each names the file, and the object, on
# stderr; without its window the program ends with status 1, otherwise it shows the window anyway.
for what in settingsWindow preview problem problemText tryButton optionsButton tryButton-as-label \
  cut-in-half nested; do
  mkdir "$WORK/$what"
  case $what in
  *-as-label) sed 's/class="GtkButton" id="tryButton"/class="GtkLabel" id="tryButton"/' ;;
  cut-in-half) head -c $(($(wc -c <"$UI/SettingsWindow.ui") / 2)) ;;
  nested) printf '<interface>%s%s</interface>' "$(printf '<object class="GtkBox"><child>%.0s' \
    $(seq 20000))" "$(printf '</child></object>%.0s' $(seq 20000))" ;;
  *) sed "s/id=\"$what\"/id=\"renamed\"/" ;;
  esac <"$UI/SettingsWindow.ui" >"$WORK/$what/SettingsWindow.ui"
  cp "$UI/Prefs.ui" "$WORK/$what/"
  NIMBREL_RESOURCES=$WORK/$what start_settings
  case $what in
  settingsWindow | cut-in-half | nested)
    ended_with 1 "$settings" || fail "$what: $(cat "$WORK/settings.log")"
    ;;
  *)
    wait_for "xdotool search --onlyvisible --name '^Nimbrel\$'" || fail "$what: no window"
    kill "$settings"
    # Gone before the next one starts, or its window would be taken for the next one's.
    wait_for "! xdotool search --onlyvisible --name '^Nimbrel\$'" || fail "$what: the window stayed"
    ;;
  esac
  grep -q "$WORK/$what/SettingsWindow.ui" "$WORK/settings.log" && { [ "$what" = cut-in-half ] ||
    [ "$what" = nested ] ||
    grep -q "\"${what%-as-label}\"" "$WORK/settings.log"; } || fail "$what: $(cat "$WORK/settings.log")"
  echo "$what: $(head -n 1 "$WORK/settings.log")"
done
echo PASS
