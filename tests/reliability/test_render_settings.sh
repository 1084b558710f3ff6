#!/usr/bin/env bash
# Settings on the command line: `nimbrel render` draws with them (the trace shows the petals of
# every frame) and leaves the store byte for byte as it was; --default-settings draws the same
# picture whatever the store holds and touches no file of the configuration home; bad values
# end with status 2; the y4m stream is 4:2:0.
source "$(dirname "$0")/lib.sh"

RENDER=("$NIMBREL" render --size 64x48 --frames 12 --seed 1 --preview)
store="$XDG_CONFIG_HOME/nimbrel/preferences.ini"
write_prefs petalCount=9 drawStars=true randomizeSettings=true randomizeInterval=1
cp "$store" "$SCRATCH/store.before"

# Fills and strokes of each frame of trace $1, one "fills strokes" line per frame.
per_frame() {
  awk '/"frame":/ { if (n++) print f, s; f = 0; s = 0 }
       /"op":"fill"/ { f++ } /"op":"stroke"/ { s++ } END { if (n) print f, s }' "$1"
}

# expect_frames WHAT "FILLS STROKES" ARGS...: every frame of the run draws exactly that.
expect_frames() {
  local what=$1 want=$2
  shift 2
  "${RENDER[@]}" -o "$SCRATCH/p.png" --trace "$SCRATCH/t.jsonl" "$@" 2>"$SCRATCH/err" ||
    { fail "$what: $(cat "$SCRATCH/err")"; return; }
  local got
  got=$(per_frame "$SCRATCH/t.jsonl" | sort -u)
  [ "$got" = "$want" ] || fail "$what: frames drew '$got', expected '$want' each"
  cmp -s "$store" "$SCRATCH/store.before" || fail "$what changed the store"
}

# Four organisms a frame; a mirrored ring doubles the petals, outlines stroke each one.
expect_frames "five petals" "20 0" --petals 5 --no-mirror --no-outline --no-stars \
  --no-random-settings
expect_frames "single-dash spellings" "56 56" -petals 7 -mirror -outline -no-stars \
  -no-random-settings
expect_frames "sixteen petals, theme and speed" "64 0" --petals=16 --no-mirror --no-outline \
  --no-stars --no-random-settings --theme 2 --speed 60 --interval 10000 --no-random-colours
ls "$XDG_CONFIG_HOME/nimbrel" >"$SCRATCH/files"
[ "$(cat "$SCRATCH/files")" = preferences.ini ] ||
  fail "runs with settings left files in the configuration home: $(cat "$SCRATCH/files")"

# Refused (the ranges are the unit tests'): status 2, nothing written, the store as it was.
status=0
"${RENDER[@]}" -o "$SCRATCH/bad.png" -petals 17 2>/dev/null || status=$?
[ "$status" -eq 2 ] && [ ! -e "$SCRATCH/bad.png" ] || fail "--petals 17: status $status"
cmp -s "$store" "$SCRATCH/store.before" || fail "a refused run changed the store"

# --default-settings: the same picture from a populated store and from an empty home, where
# not even the directory is made.
"${RENDER[@]}" -o "$SCRATCH/populated.png" --default-settings 2>"$SCRATCH/err" ||
  fail "default settings over a store: $(cat "$SCRATCH/err")"
cmp -s "$store" "$SCRATCH/store.before" || fail "--default-settings changed the store"
mkdir "$SCRATCH/empty"
XDG_CONFIG_HOME="$SCRATCH/empty" "${RENDER[@]}" -o "$SCRATCH/empty.png" --default-settings \
  2>"$SCRATCH/err" || fail "default settings in an empty home: $(cat "$SCRATCH/err")"
[ -z "$(ls -A "$SCRATCH/empty")" ] || fail "--default-settings made $(ls -A "$SCRATCH/empty")"
cmp -s "$SCRATCH/populated.png" "$SCRATCH/empty.png" ||
  fail "--default-settings drew differently with a store"
# Without the option, an empty home gets the defaults written: the same picture again.
XDG_CONFIG_HOME="$SCRATCH/empty" "${RENDER[@]}" -o "$SCRATCH/stored.png" 2>/dev/null
cmp -s "$SCRATCH/populated.png" "$SCRATCH/stored.png" ||
  fail "--default-settings differs from the stored defaults"

# Every setting given is exactly a stored one: the same picture as from a store holding them.
all=(-petals 5 --no-mirror --outline -stars --hue-shift --random-settings --interval 2 --speed 30
  --no-random-colours --theme 3)
"${RENDER[@]}" -o "$SCRATCH/given.png" --default-settings "${all[@]}" 2>/dev/null
mkdir -p "$SCRATCH/other/nimbrel"
"$DEFAULT_STORE" petalCount=5 mirrorPetals=false frameEdge=true drawStars=true useHuePhase=true \
  randomizeSettings=true randomizeInterval=2 speed=30 randomizeColors=false colorTheme=3 \
  >"$SCRATCH/other/nimbrel/preferences.ini"
XDG_CONFIG_HOME="$SCRATCH/other" "${RENDER[@]}" -o "$SCRATCH/from-store.png" 2>/dev/null
cmp -s "$SCRATCH/given.png" "$SCRATCH/from-store.png" ||
  fail "settings given on the command line draw otherwise than the same settings stored"

# The y4m stream: a 4:2:0 header, and each frame a FRAME line and planes of W*H + 2*ceil(W/2)*
# ceil(H/2) bytes, odd sizes included.
"$NIMBREL" render --size 63x47 --frames 3 --seed 1 -o "$SCRATCH/v.png" --y4m "$SCRATCH/v.y4m" \
  --default-settings --speed 30 2>"$SCRATCH/err" || fail "y4m run: $(cat "$SCRATCH/err")"
header="YUV4MPEG2 W63 H47 F30:1 Ip A1:1 C420jpeg"
[ "$(head -n 1 "$SCRATCH/v.y4m")" = "$header" ] ||
  fail "y4m header: $(head -n 1 "$SCRATCH/v.y4m")"
frame=$((63 * 47 + 2 * 32 * 24))
[ "$(stat -c %s "$SCRATCH/v.y4m")" -eq $((${#header} + 1 + 3 * (6 + frame))) ] ||
  fail "y4m stream of $(stat -c %s "$SCRATCH/v.y4m") bytes"

# Binary output to a terminal is refused before anything is drawn.
if command -v script >/dev/null; then
  script -qec "$NIMBREL render --frames 1 -o $SCRATCH/t.png --y4m -" /dev/null \
    >"$SCRATCH/tty" 2>&1 && fail "--y4m - on a terminal succeeded"
  grep -q "terminal" "$SCRATCH/tty" || fail "--y4m - on a terminal: $(cat "$SCRATCH/tty")"
fi

for program in "$NIMBREL" "$NIMBREL render"; do
  $program --version | grep -qx 'nimbrel [0-9][0-9.]*' || fail "$program --version"
done
"$NIMBREL" render --help | grep -q -- '--size WxH' || fail "render --help lacks --size WxH"

finish
