#!/usr/bin/env bash
# An installation moved to another prefix: its nimbrel-settings finds Prefs.ui beside itself
# and Options… opens the sheet.
source "$(dirname "$0")/lib.sh"

BUILD=${NIMBREL_BUILD:?}
unset NIMBREL_RESOURCES
# Every file is in the one default component; installing it by name writes its list beside the
# build's own install_manifest.txt, which `make uninstall` goes by, instead of over it.
cmake --install "$BUILD" --component Unspecified --prefix "$WORK/first" >"$WORK/install.log" ||
  fail "install: $(cat "$WORK/install.log")"
mv "$WORK/first" "$WORK/moved"
settings_on_xvfb "$WORK/moved/bin/nimbrel-settings"
export XDG_CONFIG_HOME=$WORK/config

"$SETTINGS" 2>"$WORK/settings.log" &
track $!
shown_window

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
