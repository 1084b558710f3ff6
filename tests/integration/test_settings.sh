#!/usr/bin/env bash
# nimbrel-settings from an installation moved to another prefix (it finds its files beside
# itself) on X and a session bus of its own, driven as a user of a screen reader or of the
# keyboard drives it: controls found in the accessibility tree by role and name (every one named,
# each window's table checked whole), pressed through their actions, keys typed into the focused
# window. WM_CLASS, one instance (a second start presents the first window and ends), a live
# preview, the About window; in the options sheet the access keys, Up/Down/Page Up/Page Down at
# each field's limits; OK stores every change, Cancel, Escape and Ctrl+W store nothing; Ctrl+W,
# Ctrl+Q and the window manager's close end it. Then damaged interface files, each refused naming
# the file and the object, and 200 openings of the sheet that leave one alive. With
# NIMBREL_LOCALEDIR the names are those of the catalogue there, in the language of LANG.
source "$(dirname "$0")/lib.sh"
use_x
# A bus of its own, which the accessibility bus launcher serves and leaves with.
out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || fail "no session bus"
export DBUS_SESSION_BUS_ADDRESS=${out%%$'\n'*}
track "${out##*$'\n'}"
mkdir -m 0700 "$WORK/runtime"
export XDG_RUNTIME_DIR=$WORK/runtime GDK_BACKEND=x11 GSK_RENDERER=cairo
unset NIMBREL_RESOURCES NO_AT_BRIDGE GTK_A11Y
# Without DISPLAY it leaves the display's root window alone, which other scripts share.
env -u DISPLAY /usr/libexec/at-spi-bus-launcher --launch-immediately 2>"$WORK/a11y.log" &
track $!
a11y_bus() {
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress |
    sed -n 's/^ *string "\(.*\)"$/\1/p'
}
wait_for "[ -n \"\$(a11y_bus)\" ]" || fail "no accessibility bus: $(cat "$WORK/a11y.log")"
AT_SPI_BUS_ADDRESS=$(a11y_bus)
export AT_SPI_BUS_ADDRESS
# The system's Python, which has the accessibility bindings (python3-pyatspi).
a11y() { /usr/bin/python3 -W ignore "$NIMBREL_SOURCE/tests/integration/atspi_driver.py" "$@"; }
STORE=$XDG_CONFIG_HOME/nimbrel/preferences.ini
UI=$NIMBREL_SOURCE/resources
MAIN="Nimbrel Settings"
SHEET="Nimbrel Options"

env -u DISPLAY "$NIMBREL_BUILD/programs/nimbrel-settings/nimbrel-settings" 2>"$WORK/err" &&
  fail "started without a display"
grep -q "$(a11y tr 'cannot open a display')" "$WORK/err" || fail "without a display: $(cat "$WORK/err")"

# Installed as the one default component, which writes its list beside the build's
# install_manifest.txt (`make uninstall` goes by that), not over it.
cmake --install "$NIMBREL_BUILD" --component Unspecified --prefix "$WORK/first" >/dev/null
mv "$WORK/first" "$WORK/moved"
SETTINGS=$WORK/moved/bin/nimbrel-settings
VERSION=$("$SETTINGS" --version | cut -d ' ' -f 2)

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
# Waits for the window titled $1 (English) to be shown, and gives it the keyboard, as a window
# manager would when the window above it closes (there is none here); sets WIN.
focused() {
  a11y wait "$1"
  local title
  title=$(a11y tr "$1")
  wait_for "xdotool search --onlyvisible --name '^$title\$'" || fail "no X window '$title'"
  WIN=$(xdotool search --onlyvisible --name "^$title\$" | head -n 1)
  xdotool windowfocus --sync "$WIN"
}
# Waits for the window titled $1 (English) to be gone from the screen: asked of the X server,
# since GTK 4.8 can crash answering the accessibility tree about a window while it is hidden.
gone() {
  local title
  title=$(a11y tr "$1")
  wait_for "! xdotool search --onlyvisible --name '^$title\$'" || fail "'$title' is still shown"
}
# Presses the access key of the control labelled $1 (English), in the user's language.
alt() { xdotool key "alt+$(a11y key "$1")"; }
open_sheet() {
  focused "$MAIN"
  alt "_Options…"
  focused "$SHEET"
}
# Replaces the text of the field named $1 by $2, reached by its access key.
type_into() {
  alt "$1"
  a11y focus "$SHEET" "$1"
  xdotool key ctrl+a type "$2"
  a11y text "$SHEET" "$1" "$2"
}
# The colour pop-up, opened by its access key: keys $@ typed once its list has the keyboard,
# which comes back to the drop-down once it closes.
pick_colour() {
  alt Co_lours
  a11y list "$SHEET"
  xdotool key "$@"
  a11y focus "$SHEET" Co_lours
}

# --- the window -----------------------------------------------------------------------------
start_settings
first=$settings
focused "$MAIN"
main=$WIN
wm_class=$(xprop -id "$main" WM_CLASS)
[ "$wm_class" = 'WM_CLASS(STRING) = "nimbrel-settings", "org.nimbrel.Nimbrel.Settings"' ] || fail "$wm_class"
a11y names "$MAIN"
# The preview found an empty store and wrote the defaults.
wait_for "grep -q '^petalCount=8$' '$STORE'" || fail "no defaults stored: $(cat "$STORE")"
# The preview draws frame after frame: its pictures change, and they are many-coloured.
PREVIEW=$(a11y extents "$MAIN" Preview)
[ "${PREVIEW%%+*}" = 480x300 ] || fail "the preview is $PREVIEW"
import -window "$main" -crop "$PREVIEW" +repage "$WORK/preview-0.png"
wait_for "import -window $main -crop $PREVIEW +repage '$WORK/preview.png' &&
  ! cmp -s '$WORK/preview-0.png' '$WORK/preview.png' && [ \$(colours '$WORK/preview.png') -gt 40 ]" ||
  fail "the preview does not draw: $(colours "$WORK/preview.png") colours"
screenshot "$WORK/window.png" "$main"

# The About window, from the main menu: the version, the description, the homepage, the licence.
a11y press "$MAIN" "Main Menu"
a11y press "$MAIN" "_About Nimbrel Settings"
a11y about "$VERSION"
xdotool key Escape
# Its title holds the program's name: once it is gone the window is the only one that does.
wait_for "[ \$(xdotool search --onlyvisible --name '$(a11y tr "$MAIN")' | wc -l) = 1 ]" ||
  fail "Escape left the About window"

# Another window on top with the focus: a second start hands itself over to the first, which
# presents its window (raised, focused), and ends.
start_probe "$PROBES/nimbrel_test_window" 200x200
xdotool windowfocus --sync "$PROBE_SAID"
"$SETTINGS" 2>"$WORK/second.log" &
ended_with 0 $! || fail "the second start did not end: $(cat "$WORK/second.log")"
wait_for "[ \$(xdotool getwindowfocus) = $main ]" || fail "the first window was not presented"
[ "$(xdotool search --onlyvisible --name "^$(a11y tr "$MAIN")\$")" = "$main" ] ||
  fail "a second settings window"
kill "$PROBE_PID"

# --- the options sheet --------------------------------------------------------------------------
open_sheet
a11y names "$SHEET"
# Each check box's access key turns it over: from the defaults, and back.
for box_default in "_Mirror petals 1" "O_utline petals 1" "Shift _hues on alternate frames 0" \
  "S_tars 0" "Change settings at _random 0"; do
  box=${box_default% *} default=${box_default##* }
  a11y checked "$SHEET" "$box" "$default"
  alt "$box"
  a11y checked "$SHEET" "$box" $((1 - default))
  [ "$box" = "_Mirror petals" ] || [ "$box" = S_tars ] ||
    { alt "$box" && a11y checked "$SHEET" "$box" "$default"; }
done
# Mirror petals off, stars on: kept for OK.
type_into _Petals 40 # beyond 16
type_into _Speed 75  # beyond 60
a11y press "$SHEET" Increase _Every # 8 -> 9
a11y text "$SHEET" _Every 9
pick_colour Down Down Down Return # the fourth entry, "Vivid": theme 3
screenshot "$WORK/sheet.png" "$WIN"
alt _OK
gone "$SHEET"
wait_for "grep -q '^colorTheme=3\$' '$STORE'" || fail "OK did not store the theme: $(cat "$STORE")"
for kv in petalCount=16 mirrorPetals=false frameEdge=true drawStars=true speed=60 randomizeInterval=9 \
  randomizeColors=false; do
  grep -qx "$kv" "$STORE" || fail "no $kv in: $(cat "$STORE")"
done
cp "$STORE" "$WORK/stored.ini"

open_sheet
screenshot "$WORK/reopened.png" "$WIN"
type_into _Petals 5
alt "O_utline petals" # off
pick_colour Up Return
alt _Cancel
gone "$SHEET"
open_sheet
type_into _Speed 12
xdotool key Escape
gone "$SHEET"

# Up/Down step by one, Page Up/Page Down by ten, each field between its limits: each limit met
# and then pushed against, a step after it showing that the push was taken and refused.
open_sheet
for field_key_lower_upper in "_Petals p 2 16" "_Speed s 10 60" "_Every e 1 10000"; do
  set -- $field_key_lower_upper
  field=$1 lower=$3 upper=$4
  type_into "$field" $((upper - 1)) "$2"
  for key_shown in "Up $upper" "Up $upper" "Page_Down $((upper - 10))" "Page_Up $upper" \
    "Page_Up $upper" "Down $((upper - 1))"; do
    xdotool key "${key_shown% *}"
    a11y text "$SHEET" "$field" "${key_shown#* }"
  done
  type_into "$field" $((lower + 1)) "$2"
  for key_shown in "Down $lower" "Down $lower" "Page_Up $((lower + 10))" "Page_Down $lower" \
    "Page_Down $lower" "Up $((lower + 1))"; do
    xdotool key "${key_shown% *}"
    a11y text "$SHEET" "$field" "${key_shown#* }"
  done
done
xdotool key ctrl+w # as Cancel
gone "$SHEET"

grep -E 'CRITICAL|WARNING' "$WORK/settings.log" && fail "GTK complained"
# Ctrl+W closes the window, which ends the application; nothing after OK was stored.
focused "$MAIN"
xdotool key ctrl+w
ended_with 0 "$first" || fail "Ctrl+W did not end the application"
cmp -s "$STORE" "$WORK/stored.ini" || fail "Cancel, Escape or Ctrl+W stored: $(cat "$STORE")"

# In another language what changes is what the window and the sheet say: the damaged files below
# are the same in every language.
[ -z "${NIMBREL_LOCALEDIR:-}" ] || { echo PASS && exit 0; }

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
focused "$MAIN"
eval "$(xdotool getwindowgeometry --shell "$WIN")"
alt "_Options…"
why=$(a11y tr 'The options cannot be shown: %s.')
wait_for "grep -qF '${why%%%s*}' '$WORK/settings.log' && grep -q '$WORK/prefs/Prefs.ui' '$WORK/settings.log'" ||
  fail "no reason given: $(cat "$WORK/settings.log")"
wait_for "[ \$(xdotool getwindowgeometry --shell $WIN | sed -n 's/^HEIGHT=//p') -gt $HEIGHT ]" ||
  fail "the window shows no reason"
screenshot "$WORK/damaged-prefs.png" "$WIN"
a11y shown "$SHEET" && fail "a sheet was shown"
cmp -s "$STORE" "$WORK/stored.ini" || fail "the store changed: $(cat "$STORE")"
# Closed by the window manager, the window ends the application.
"$PROBES/nimbrel_test_window" close "$WIN"
ended_with 0 "$settings" || fail "closing the window did not end the application"

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
    focused "$MAIN"
    xdotool key ctrl+q
    ended_with 0 "$settings" || fail "$what: Ctrl+Q did not end the application"
    ;;
  esac
  grep -q "$WORK/$what/SettingsWindow.ui" "$WORK/settings.log" && { [ "$what" = cut-in-half ] ||
    [ "$what" = nested ] ||
    grep -q "\"${what%-as-label}\"" "$WORK/settings.log"; } || fail "$what: $(cat "$WORK/settings.log")"
  echo "$what: $(head -n 1 "$WORK/settings.log")"
done
echo PASS
