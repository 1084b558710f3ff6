#!/usr/bin/env bash
# The controls that XScreenSaver's settings dialog builds from the nimbrel.xml that the build
# writes from the table of settings: the file holds together
# (tests/support/xscreensaver_controls.py), and every addition to the command line that a
# control can make, and all of them at once, is taken by the saver and by
# `nimbrel render`, which draws with it, while the stored settings stay byte for byte as
# they were.
source "$(dirname "$0")/lib.sh"
source "$NIMBREL_SOURCE/tests/support/run_additions.sh"

command -v python3 >/dev/null || { echo "skipped: no python3" >&2; exit 77; }
CONTROLS="$NIMBREL_SOURCE/tests/support/xscreensaver_controls.py"
XML="$NIMBREL_BUILD/resources/nimbrel.xml"
SHEET="$NIMBREL_SOURCE/resources/Prefs.ui"

"$DESCRIBE" store >"$SCRATCH/defaults.ini"
python3 "$CONTROLS" "$XML" --store "$SCRATCH/defaults.ini" --sheet "$SHEET" --all-changed \
  >"$SCRATCH/additions" || fail "the description does not hold together"

# The checks catch what would break the dialog or mislead its user.
mutations=(
  's/high="16"/high="17"/'                                            # a petal count refused
  's/default="18"/default="20"/'                                      # not the stored default
  's/arg-set="--colours 3"/arg-set="--theme 3 --no-random-colours"/'  # a choice of two options
  's/_label="Vivid colours"/_label="Pastel colours"/'                 # a theme under another name
  's/<option id="stars-stored"[^>]*>//'                               # no way to keep the stored
  's/arg-set="--no-hue-shift"/arg-set="--hue-shift"/'                 # one way only
  's/<command arg="--root"\/>//'                                      # no window of XScreenSaver
  's/arg="--petals %"/arg="--petals"/'                                # the value left out
)
for mutation in "${mutations[@]}"; do
  sed "$mutation" "$XML" >"$SCRATCH/mutated.xml"
  cmp -s "$XML" "$SCRATCH/mutated.xml" && fail "mutation $mutation changed nothing"
  if python3 "$CONTROLS" "$SCRATCH/mutated.xml" --store "$SCRATCH/defaults.ini" \
    --sheet "$SHEET" >/dev/null 2>&1; then
    fail "the checks let through: $mutation"
  fi
done

# A store away from the defaults, which no run may touch.
write_prefs petalCount=3 mirrorPetals=false drawStars=true speed=40 colorTheme=2 \
  randomizeColors=false
STORE="$XDG_CONFIG_HOME/nimbrel/preferences.ini"
cp "$STORE" "$SCRATCH/store.before"

unset DISPLAY WAYLAND_DISPLAY XSCREENSAVER_WINDOW SDL_VIDEODRIVER
run_additions "$NIMBREL" "$SCRATCH/additions"
echo "$runs additions run by the saver and by nimbrel render"

cmp -s "$STORE" "$SCRATCH/store.before" || fail "a run changed the stored settings"
for kept in "$STORE".bad*; do
  [ -e "$kept" ] && fail "a run set the store aside as $kept"
done
finish
