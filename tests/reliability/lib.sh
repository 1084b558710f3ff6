# Shared helpers of the reliability scripts: a private configuration home and scratch
# directory, and the renderer.
set -euo pipefail

NIMBREL="$NIMBREL_BUILD/hosts/saver/nimbrel"
[ -x "$NIMBREL" ] || { echo "no nimbrel in $NIMBREL_BUILD" >&2; exit 1; }

SCRATCH=$(mktemp -d /tmp/nimbrel-reliability-XXXXXX)
trap 'rm -rf "$SCRATCH"' EXIT
export XDG_CONFIG_HOME="$SCRATCH/config"
mkdir -p "$XDG_CONFIG_HOME/nimbrel"

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# write_prefs KEY=VALUE...: a complete default set with the given keys replaced.
write_prefs() {
  local -A v=([petalCount]=8 [mirrorPetals]=true [frameEdge]=true [drawStars]=false
    [useHuePhase]=false [randomizeSettings]=false [randomizeInterval]=8 [speed]=18
    [randomizeColors]=true [colorTheme]=6)
  local kv
  for kv in "$@"; do v[${kv%%=*}]=${kv#*=}; done
  {
    echo "[org.nimbrel.Nimbrel]"
    for k in petalCount mirrorPetals frameEdge drawStars useHuePhase randomizeSettings \
      randomizeInterval speed randomizeColors colorTheme; do
      echo "$k=${v[$k]}"
    done
  } >"$XDG_CONFIG_HOME/nimbrel/preferences.ini"
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}
