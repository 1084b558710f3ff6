#!/usr/bin/env bash
# The settings window when things go wrong, under Xvfb with the real GTK sheet:
# - every damaged copy of Prefs.ui (each object removed in turn, a wrong class, the file cut in
#   half) is refused with a reason naming the object and the file, and leaves no window;
# - 200 openings of the sheet leave one sheet alive, none once its view is gone;
# - nimbrel-settings with a damaged Prefs.ui shows no sheet, says why in its window and stores
#   nothing;
# - nimbrel-settings with a damaged SettingsWindow.ui (each object removed in turn, a button of
#   the wrong class, the file cut in half) names the object and the file on standard error,
#   and shows its window anyway, or ends with a failure when the file has no window to show;
# - OK with a store that cannot be written keeps the sheet open, says so in it, stores nothing.
source "$(dirname "$0")/lib.sh"
with_private_session_bus "$@"

SOURCE=${NIMBREL_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}
PROBE=$NIMBREL_BUILD/tests/integration/nimbrel_sheet_probe
[ -x "$PROBE" ] || fail "no $PROBE"
settings_on_xvfb

# --- the toolkit alone ------------------------------------------------------------------------
mkdir -p "$WORK/damaged" "$WORK/probe-config"
XDG_CONFIG_HOME=$WORK/probe-config "$PROBE" damaged "$SOURCE/resources/Prefs.ui" "$WORK/damaged" \
  >"$WORK/damaged.log" 2>"$WORK/damaged.err" || fail "damaged files: $(grep -v '^ok' "$WORK/damaged.log")"
[ "$(grep -c '^ok without ' "$WORK/damaged.log")" -ge 16 ] || fail "too few damaged files tried"
XDG_CONFIG_HOME=$WORK/probe-config "$PROBE" opens 200 >"$WORK/opens.log" 2>&1 ||
  fail "sheets kept alive: $(cat "$WORK/opens.log")"
cat "$WORK/opens.log"

# --- the settings program -----------------------------------------------------------------------
MAIN_X=0 MAIN_Y=0
start_settings() {
  "$SETTINGS" 2>"$WORK/settings.log" &
  SETTINGS_PID=$!
  track "$SETTINGS_PID"
  shown_window
  MAIN=$WIN MAIN_X=$X MAIN_Y=$Y MAIN_H=$HEIGHT
  sleep 0.5
}
APP_ID=org.nimbrel.Nimbrel.Settings
stop_settings() {
  kill "$SETTINGS_PID"
  wait "$SETTINGS_PID" 2>/dev/null || true
  wait_bus_name_released $APP_ID
}
at_main() { xdotool mousemove $((MAIN_X + $1)) $((MAIN_Y + $2)) click 1; }
height_of() { xdotool getwindowgeometry --shell "$1" | sed -n 's/^HEIGHT=//p'; }

# A damaged Prefs.ui: no sheet, the reason in the window, the store as it was.
export XDG_CONFIG_HOME=$WORK/config
STORE=$XDG_CONFIG_HOME/nimbrel/preferences.ini
mkdir -p "$(dirname "$STORE")"
printf '[org.nimbrel.Nimbrel]\npetalCount=5\nmirrorPetals=false\nspeed=30\nframeEdge=true\ndrawStars=true\nuseHuePhase=false\nrandomizeSettings=false\nrandomizeInterval=20\nrandomizeColors=false\ncolorTheme=4\n' >"$STORE"
cp "$STORE" "$WORK/before.ini"
mkdir -p "$WORK/resources"
sed 's/id="speedField"/id="speedEntry"/' "$SOURCE/resources/Prefs.ui" >"$WORK/resources/Prefs.ui"
cp "$SOURCE/resources/SettingsWindow.ui" "$WORK/resources/"
NIMBREL_RESOURCES=$WORK/resources start_settings
at_main 456 427  # Options…
wait_for "grep -q 'cannot be shown' '$WORK/settings.log'" 10 || fail "no reason given: $(cat "$WORK/settings.log")"
grep -q "$WORK/resources/Prefs.ui" "$WORK/settings.log" || fail "the file is not named: $(cat "$WORK/settings.log")"
# The reason appears in the window, which grows to show it.
wait_for "[ \$(height_of $MAIN) -gt $MAIN_H ]" 10 || fail "the window shows no reason"
sleep 0.3
screenshot "$SHOTS/settings-damaged-ui.png" "$MAIN"
xdotool search --onlyvisible --name '^Nimbrel Options$' >/dev/null && fail "a sheet was shown"
cmp -s "$STORE" "$WORK/before.ini" || fail "the store changed: $(cat "$STORE")"
stop_settings

# OK with a store that cannot be written (a directory in its place): the sheet stays open and
# says why; nothing is stored; Cancel then closes it.
rm -f "$STORE"
mkdir -p "$STORE/inside"
start_settings
at_main 456 427
shown_window "Nimbrel Options"
SHEET=$WIN SHEET_X=$X SHEET_Y=$Y SHEET_H=$HEIGHT
sleep 0.5
xdotool mousemove $((SHEET_X + 112)) $((SHEET_Y + 85)) click 1
xdotool key ctrl+a
xdotool type --delay 40 12
xdotool mousemove $((SHEET_X + 460)) $((SHEET_Y + 26)) click 1  # OK
wait_for "[ \$(height_of $SHEET) -gt $SHEET_H ]" 10 || fail "the sheet shows no reason"
sleep 0.3
screenshot "$SHOTS/settings-save-failed.png" "$SHEET"
xdotool search --onlyvisible --name '^Nimbrel Options$' >/dev/null || fail "the sheet closed"
[ -d "$STORE/inside" ] || fail "the store's place changed"
xdotool mousemove $((SHEET_X + 48)) $((SHEET_Y + 26)) click 1  # Cancel
wait_for "! xdotool search --onlyvisible --name '^Nimbrel Options\$'" 5 || fail "Cancel did not close"
stop_settings
if grep -qE 'CRITICAL' "$WORK/settings.log"; then fail "GTK complained: $(cat "$WORK/settings.log")"; fi

# --- a damaged settings window ----------------------------------------------------------------
"$PROBE" variants "$SOURCE/resources/SettingsWindow.ui" "$WORK/window" >"$WORK/variants.txt"
[ "$(wc -l <"$WORK/variants.txt")" -ge 8 ] || fail "too few damaged windows: $(cat "$WORK/variants.txt")"
while read -r what; do
  dir=$WORK/window/$what
  cp "$SOURCE/resources/Prefs.ui" "$dir/"
  NIMBREL_RESOURCES=$dir "$SETTINGS" 2>"$WORK/window.log" &
  pid=$!
  track "$pid"
  case $what in
  without-settingsWindow | cut-in-half)
    ended_with 1 "$pid" 15 || fail "$what: $(cat "$WORK/window.log")"
    ;;
  *)
    wait_for "xdotool search --onlyvisible --name '^Nimbrel\$'" 15 || fail "$what: no window: $(cat "$WORK/window.log")"
    [ "$what" = without-optionsButton ] && screenshot "$SHOTS/settings-damaged-window.png" \
      "$(xdotool search --onlyvisible --name '^Nimbrel$' | head -1)"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    ;;
  esac
  wait_bus_name_released $APP_ID
  grep -q "$dir/SettingsWindow.ui" "$WORK/window.log" || fail "$what: the file is not named: $(cat "$WORK/window.log")"
  id=${what#without-}
  id=${id%-as-*}
  [ "$what" = cut-in-half ] || grep -q "\"$id\"" "$WORK/window.log" ||
    fail "$what: the object is not named: $(cat "$WORK/window.log")"
  echo "ok $what: $(head -1 "$WORK/window.log")"
done <"$WORK/variants.txt"
echo "settings faults: damaged files refused, sheets freed, reasons shown"
