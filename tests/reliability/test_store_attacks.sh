#!/usr/bin/env bash
# Hostile preference stores under the real renderer, which loads the store from
# $XDG_CONFIG_HOME like the saver: a foreign group, a symbolic link in the store's place, a
# read-only configuration directory (the other contents are StoreKeeps' and StoreFaults'). Every run must draw its picture, and
# nothing the user had may be lost: a store that is not a complete, valid set is kept aside byte
# for byte, and foreign groups come through the rewrite.
source "$(dirname "$0")/lib.sh"

DIR="$XDG_CONFIG_HOME/nimbrel"
STORE="$DIR/preferences.ini"
ORIGINAL="$SCRATCH/original"

render() {
  local status=0
  rm -f "$SCRATCH/x.png"
  timeout 120 "$NIMBREL" render --size 32x24 --frames 1 --seed 1 -o "$SCRATCH/x.png" \
    2>"$SCRATCH/err" || status=$?
  [ "$status" -eq 0 ] || fail "$1: render ended with status $status: $(head -c 300 "$SCRATCH/err")"
  [ -s "$SCRATCH/x.png" ] || fail "$1: no picture"
}

fresh_dir() {
  rm -rf "$DIR"
  mkdir -p "$DIR"
}

# kept_somewhere FILE: a kept copy beside the store holds FILE byte for byte.
kept_somewhere() {
  local f
  for f in "$STORE".bad "$STORE".bad.*; do
    [ -f "$f" ] && cmp -s "$f" "$1" && return 0
  done
  return 1
}

holds_defaults() { grep -qx 'petalCount=8' "$STORE" && grep -qx 'colorTheme=6' "$STORE"; }

# bad_store NAME: ORIGINAL as the store; it must be kept aside and the defaults written.
bad_store() {
  fresh_dir
  cp "$ORIGINAL" "$STORE"
  render "$1"
  kept_somewhere "$ORIGINAL" || fail "$1: the store was not kept aside byte for byte"
  holds_defaults || fail "$1: the defaults were not written"
}

# An out-of-range setting beside another program's group: kept aside, and the group and its
# translated key come through the rewrite.
write_prefs petalCount=40
{ cat "$STORE"; printf '[Desktop Entry]\nName[fr]=Économiseur\n'; } >"$ORIGINAL"
bad_store "out of range with a foreign group"
grep -qx 'Name\[fr\]=Économiseur' "$STORE" || fail "the foreign translated key was dropped"

# A valid set with foreign content is taken as it is and not rewritten.
fresh_dir
write_prefs petalCount=5
printf '[Desktop Entry]\nName[fr]=Économiseur\n' >>"$STORE"
cp "$STORE" "$ORIGINAL"
render "valid with a foreign group"
cmp -s "$STORE" "$ORIGINAL" || fail "a valid store was rewritten"
ls "$STORE".bad* >/dev/null 2>&1 && fail "a valid store was kept aside"

# A symbolic link to a bad file elsewhere: the file it points to is never written; the link is
# replaced by a store of its own and the bytes are kept beside it too.
fresh_dir
printf 'elsewhere\0\n' >"$SCRATCH/elsewhere.ini"
cp "$SCRATCH/elsewhere.ini" "$ORIGINAL"
ln -s "$SCRATCH/elsewhere.ini" "$STORE"
render "a symbolic link to a bad file"
cmp -s "$SCRATCH/elsewhere.ini" "$ORIGINAL" || fail "the file behind the link changed"
kept_somewhere "$ORIGINAL" || fail "the file behind the link was not kept aside"
[ -L "$STORE" ] && fail "the link was written through, not replaced"
holds_defaults || fail "symbolic link: the defaults were not written"

# A read-only configuration directory holding a bad store: the picture is drawn and the store
# stays as it was. Root ignores permission bits, so root reads and writes as nobody.
fresh_dir
printf 'bad\0store\n' >"$ORIGINAL"
cp "$ORIGINAL" "$STORE"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R nobody "$XDG_CONFIG_HOME" "$SCRATCH"
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi
chmod 0500 "$DIR"
status=0
"${as_user[@]}" timeout 120 "$NIMBREL" render --size 32x24 --frames 1 --seed 1 \
  -o "$SCRATCH/readonly.png" 2>"$SCRATCH/err" || status=$?
chmod 0700 "$DIR"
[ "$status" -eq 0 ] || fail "read-only directory: status $status: $(head -c 300 "$SCRATCH/err")"
[ -s "$SCRATCH/readonly.png" ] || fail "read-only directory: no picture"
cmp -s "$STORE" "$ORIGINAL" || fail "read-only directory: the store changed"
[ "$(ls -A "$DIR")" = "preferences.ini" ] || fail "read-only directory: files appeared: $(ls -A "$DIR")"
[ "$(id -u)" -eq 0 ] && chown -R root "$XDG_CONFIG_HOME" "$SCRATCH"

finish
