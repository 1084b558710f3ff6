#!/usr/bin/env bash
# Every option that `nimbrel` and `nimbrel render` take, as their --help lists them, is known to
# the bash completion and described in nimbrel(6), as the build writes them; and the completion
# offers nothing the programs would refuse.
source "$(dirname "$0")/lib.sh"
COMPLETION="$NIMBREL_BUILD/resources/completion/nimbrel"
MAN="$NIMBREL_BUILD/resources/man/nimbrel.6"

options() { grep -oE -- '(^|[ ,"])--[a-z][a-z0-9-]*' | tr -d ' ,"' | sort -u; }
{ "$NIMBREL" --help && "$NIMBREL" render --help; } | options >"$SCRATCH/taken"
[ "$(wc -l <"$SCRATCH/taken")" -gt 30 ] || fail "--help lists only: $(tr '\n' ' ' <"$SCRATCH/taken")"
# What the completion offers: the words of its quoted lists, not the options its cases name.
tr '\n' ' ' <"$COMPLETION" | grep -oE '(compgen -W |settings=)"[^"]*"' | options >"$SCRATCH/completed"
# roff writes a hyphen as \-.
sed 's/\\-/-/g' "$MAN" | options >"$SCRATCH/described"
for list in completed described; do
  missing=$(comm -23 "$SCRATCH/taken" "$SCRATCH/$list" | tr '\n' ' ')
  [ -z "$missing" ] || fail "not $list: $missing"
done
extra=$(comm -13 "$SCRATCH/taken" "$SCRATCH/completed" | tr '\n' ' ')
[ -z "$extra" ] || fail "completed, but no program takes: $extra"
finish
