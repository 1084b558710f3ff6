#!/usr/bin/env bash
# The real program with a store it rejects: it draws its picture, keeps the store aside byte for
# byte, writes the defaults in its place and keeps another program's group through the rewrite.
# Then every special file at every name the store uses: the program neither blocks, nor opens
# or replaces what is there, nor crashes. How the store itself treats bad content, links and
# unwritable directories is StoreKeeps' and StoreFaults' (tests/unit/StoreTest.cpp).
source "$(dirname "$0")/lib.sh"

STORE="$XDG_CONFIG_HOME/nimbrel/preferences.ini"
write_prefs petalCount=40
printf '[Desktop Entry]\nName[fr]=Économiseur\n' >>"$STORE"
cp "$STORE" "$SCRATCH/original"

status=0
timeout 120 "$NIMBREL" render --size 32x24 --frames 1 --seed 1 -o "$SCRATCH/x.png" \
  2>"$SCRATCH/err" || status=$?
[ "$status" -eq 0 ] || fail "render ended with status $status: $(head -c 300 "$SCRATCH/err")"
[ -s "$SCRATCH/x.png" ] || fail "no picture"
cmp -s "$STORE.bad" "$SCRATCH/original" || fail "the store was not kept aside byte for byte"
grep -qx 'petalCount=8' "$STORE" && grep -qx 'colorTheme=6' "$STORE" ||
  fail "the defaults were not written"
grep -qx 'Name\[fr\]=Économiseur' "$STORE" || fail "the other program's group was dropped"

# A FIFO that the program opened would hold it until the timeout (a safety net, never reached
# when it passes); the FIFOs are never opened at all, so no reader is needed.
DIR="$XDG_CONFIG_HOME/nimbrel"
for name in preferences.ini preferences.ini.bad preferences.ini.bad.1 preferences.ini.AAAAAA; do
  for kind in fifo device directory; do
    rm -rf "$DIR" && mkdir -p "$DIR"
    [ "$name" = preferences.ini ] || printf 'not a key file\n' >"$STORE"
    case $kind in
    fifo) mkfifo "$DIR/$name" ;;
    device) ln -s /dev/null "$DIR/$name" ;;
    directory) mkdir "$DIR/$name" ;;
    esac
    status=0
    timeout 60 "$NIMBREL" render --size 8x8 --frames 1 -o "$SCRATCH/y.png" 2>"$SCRATCH/err" ||
      status=$?
    [ "$status" -eq 0 ] || fail "$kind at $name: status $status: $(head -c 300 "$SCRATCH/err")"
    [ "$name" = preferences.ini ] && continue
    [ "$(find "$DIR/$name" -maxdepth 0 -printf %y)" = "$(case $kind in fifo) echo p ;;
      device) echo l ;; directory) echo d ;; esac)" ] || fail "$kind at $name was replaced"
    kept=preferences.ini.bad
    [ "$name" = "$kept" ] && kept=preferences.ini.bad.1
    grep -qx 'not a key file' "$DIR/$kept" || fail "$kind at $name: the store was not kept aside"
  done
done

finish
