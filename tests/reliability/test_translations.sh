#!/usr/bin/env bash
# The translations of po/ are whole: every text of the sources has a finished translation in
# every language, with the same placeholders, and the access keys of each window are unique in
# it. The programs speak the user's language, headings included, and plain English in the C
# locale or without their catalogues; numbers stay as the C locale writes them.
source "$(dirname "$0")/lib.sh"
export LC_ALL=C.UTF-8
PO="$NIMBREL_SOURCE/po"

cmake -D SOURCE="$NIMBREL_SOURCE" -D POT="$SCRATCH/nimbrel.pot" -D XGETTEXT="$(command -v xgettext)" \
  -P "$PO/MakePot.cmake" 2>"$SCRATCH/xgettext.log" || fail "xgettext: $(<"$SCRATCH/xgettext.log")"
for lang in $(grep -v '^#' "$PO/LINGUAS"); do
  msgcmp "$PO/$lang.po" "$SCRATCH/nimbrel.pot" 2>"$SCRATCH/out" || fail "$lang: $(<"$SCRATCH/out")"
  stats=$(msgfmt --check --statistics -o /dev/null "$PO/$lang.po" 2>&1) || fail "$lang: $stats"
  [[ "$stats" =~ ^[0-9]+\ translated\ messages\.$ ]] || fail "$lang: $stats"
  for window in resources/Prefs.ui resources/SettingsWindow.ui; do
    keys=$(msggrep --location="$window" --no-wrap "$PO/$lang.po" | sed -n 's/^msgstr "\(.*\)"$/\1/p' |
      grep -o '_.' | sed 's/.*/\L&/' | sort | uniq -d | tr '\n' ' ')
    [ -z "$keys" ] || fail "$lang: $window has the access keys $keys more than once"
  done
done

for locale in de_DE.UTF-8 fr_FR.UTF-8; do
  locale -a | grep -qix "${locale%.UTF-8}.utf-\?8" ||
    { fail "no locale $locale: scripts/deps.sh --test makes it" && finish; }
done
help() { LC_ALL= LANG=$1 "${@:2}" --help; }
# Without a catalogue beside it (a copy outside any installation) the program speaks English.
mkdir "$SCRATCH/bin" && cp "$NIMBREL" "$SCRATCH/bin/"
cmp <(help C "$NIMBREL") <(help de_DE.UTF-8 "$SCRATCH/bin/nimbrel") ||
  fail "the English help differs between the C locale and no catalogue"
while IFS='|' read -r locale words; do
  out=$(help "$locale" "$NIMBREL")
  IFS=';' read -ra lines <<<"$words"
  for line in "${lines[@]}"; do
    grep -qxF -- "$line" <<<"$out" || fail "$locale: no line '$line' in: $out"
  done
done <<'LINES'  # French has a no-break space before a colon
de_DE.UTF-8|Aufruf: nimbrel [OPTIONEN];Optionen:;  --petals N                  Blütenblätter je Ring, 2 bis 16;  --mirror                    ein gespiegelter zweiter Ring von Blütenblättern;  --no-mirror                 nicht --mirror
fr_FR.UTF-8|Utilisation : nimbrel [OPTIONS];Options :;  --petals N                  pétales par anneau, de 2 à 16;  --mirror                    un second anneau de pétales en miroir;  --no-mirror                 pas --mirror
LINES
# The render options' headings are the same texts; its error messages are translated too.
out=$(LC_ALL= LANG=de_DE.UTF-8 "$NIMBREL" render -o "$SCRATCH/p.png" --seed x 2>&1) || true
[ "$out" = "nimbrel render: ungültiger Startwert „x“: erwartet wird 0 bis 4294967295" ] ||
  fail "German error: $out"
# A German locale reads and writes numbers as the C locale does.
LC_ALL=de_DE.UTF-8 "$NIMBREL" render -o "$SCRATCH/p.png" --size 4x4 --frames 1 --scale 1.5 \
  --seed 1 2>"$SCRATCH/out" || fail "German --scale 1.5: $(<"$SCRATCH/out")"
finish
