#!/usr/bin/env bash
# The real program with a store it rejects: it draws its picture, keeps the store aside byte for
# byte, writes the defaults in its place and keeps another program's group through the rewrite.
# How the store itself treats bad content, links and unwritable directories is StoreKeeps' and
# StoreFaults' (tests/unit/StoreTest.cpp).
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

finish
