# Shared helpers of the reliability scripts: a private configuration home and scratch
# directory, the renderer, and the count of failed checks.
set -euo pipefail

NIMBREL="$NIMBREL_BUILD/programs/nimbrel/nimbrel"
[ -x "$NIMBREL" ] || { echo "no nimbrel in $NIMBREL_BUILD" >&2; exit 1; }
# The build's own writer of the files that list the settings prints a store of the defaults.
DESCRIBE="$NIMBREL_BUILD/programs/describe-settings/nimbrel-describe"
[ -x "$DESCRIBE" ] || { echo "no nimbrel-describe in $NIMBREL_BUILD" >&2; exit 1; }

SCRATCH=$(mktemp -d /tmp/nimbrel-reliability-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT
export XDG_CONFIG_HOME="$SCRATCH/config"
mkdir -p "$XDG_CONFIG_HOME/nimbrel"

failures=0
fail() { echo "FAIL: $*" >&2 && failures=$((failures + 1)); }

# write_prefs KEY=VALUE...: a complete default set with the given keys replaced.
write_prefs() { "$DESCRIBE" store "$@" >"$XDG_CONFIG_HOME/nimbrel/preferences.ini"; }

finish() {
  [ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2 && exit 1; }
  echo "all checks passed"
}
