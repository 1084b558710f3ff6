# Shared helpers of the reliability scripts: a private configuration home and scratch
# directory, the renderer, and the count of failed checks.
set -euo pipefail

NIMBREL="$NIMBREL_BUILD/programs/nimbrel/nimbrel"
[ -x "$NIMBREL" ] || { echo "no nimbrel in $NIMBREL_BUILD" >&2; exit 1; }
DEFAULT_STORE="$NIMBREL_BUILD/tests/reliability/default_store"
[ -x "$DEFAULT_STORE" ] || { echo "no default_store in $NIMBREL_BUILD" >&2; exit 1; }

SCRATCH=$(mktemp -d /tmp/nimbrel-reliability-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT
export XDG_CONFIG_HOME="$SCRATCH/config"
mkdir -p "$XDG_CONFIG_HOME/nimbrel"

failures=0
fail() { echo "FAIL: $*" >&2 && failures=$((failures + 1)); }

# write_prefs KEY=VALUE...: a complete default set with the given keys replaced.
write_prefs() { "$DEFAULT_STORE" "$@" >"$XDG_CONFIG_HOME/nimbrel/preferences.ini"; }

finish() {
  [ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2 && exit 1; }
  echo "all checks passed"
}
