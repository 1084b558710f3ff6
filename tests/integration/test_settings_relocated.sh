#!/usr/bin/env bash
# An installation moved to another prefix: its nimbrel-settings finds Prefs.ui beside itself
# and Options… opens the sheet.
source "$(dirname "$0")/lib.sh"

BUILD=${NIMBREL_BUILD:?}
unset NIMBREL_RESOURCES
cmake --install "$BUILD" --prefix "$WORK/first" >"$WORK/install.log" ||
  fail "install: $(cat "$WORK/install.log")"
mv "$WORK/first" "$WORK/moved"
SETTINGS=$WORK/moved/bin/nimbrel-settings
[ -x "$SETTINGS" ] || fail "no $SETTINGS"

start_xvfb 1024x768x24
export GDK_BACKEND=x11 GSK_RENDERER=cairo NO_AT_BRIDGE=1 GTK_A11Y=none
export XDG_CONFIG_HOME=$WORK/config

"$SETTINGS" 2>"$WORK/settings.log" &
track $!
wait_for "xdotool search --onlyvisible --name '^Nimbrel\$'" 15 || fail "no settings window"
MAIN=$(xdotool search --onlyvisible --name '^Nimbrel$' | head -1)
eval "$(xdotool getwindowgeometry --shell "$MAIN")"

# Options… (the same place as in test_settings.sh); a click that comes before the window
# takes input is simply given again.
opened=0
for attempt in 1 2 3 4 5; do
  xdotool mousemove $((X + 456)) $((Y + 427)) click 1
  if wait_for "xdotool search --onlyvisible --name '^Nimbrel Options\$'" 3; then
    opened=1
    break
  fi
  grep -q 'cannot be shown' "$WORK/settings.log" && break
done
[ "$opened" = 1 ] || fail "no sheet from the moved install: $(cat "$WORK/settings.log")"
echo "the moved install opened its sheet"
