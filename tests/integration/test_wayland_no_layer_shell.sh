#!/usr/bin/env bash
# A compositor without layer-shell (as GNOME's): the headless sway seen through a filter that
# hides its layer-shell global. `--layer overlay` and `--layer background` end at once with one
# line and status 1; full screen still runs on both outputs and ends on a key with status 0.
source "$(dirname "$0")/wayland_lib.sh"
start_sway

coproc FILTER {
  exec "$NIMBREL_BUILD/tests/integration/nimbrel_wayland_filter" "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" \
    "$WORK/no-layer-shell" zwlr_layer_shell_v1
}
track "$FILTER_PID"
read -r -t 60 line <&"${FILTER[0]}" || true
[ "${line:-}" = ready ] || fail "the filter did not start"
export WAYLAND_DISPLAY="$WORK/no-layer-shell"

for layer in overlay background; do
  status=0
  timeout 60 "$NIMBREL" --layer "$layer" >"$WORK/out" 2>"$WORK/err" </dev/null || status=$?
  [ "$status" = 1 ] || fail "--layer $layer ended with status $status, not 1: $(head -c 300 "$WORK/err")"
  [ "$(wc -l <"$WORK/err")" = 1 ] && [ ! -s "$WORK/out" ] ||
    fail "--layer $layer: expected one line on stderr, got: $(head -c 500 "$WORK/err")"
  grep -qi 'layer' "$WORK/err" || fail "--layer $layer: the line does not say what is missing: $(cat "$WORK/err")"
  echo "--layer $layer: $(cat "$WORK/err")"
done

# Everything else passes the filter: full screen shows on both outputs and a key ends it.
start_saver --seed 4
wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "full screen did not show on both outputs through the filter"
end_with_key || fail "a key did not end full screen through the filter with status 0"
[ -z "$(saver_stderr)" ] || fail "full screen wrote to stderr: $(saver_stderr | head -c 300)"
echo PASS
