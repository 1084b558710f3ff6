#!/usr/bin/env bash
# The servers that the integration scripts share (the CTest fixture integration_servers):
# `servers.sh start` starts one Xvfb, one headless sway with two outputs (when sway is
# installed) and one session bus, and writes their addresses to lib.sh's SERVERS_ENV;
# `servers.sh stop` stops them. A keeper process owns them and stops them when the file goes,
# or when the process that ran `start` (CTest) is gone, so that an interrupted run leaves none.
source "$(dirname "$0")/lib.sh"
dir=$(dirname "$SERVERS_ENV")

case ${1:-} in
start)
  mkdir -p "$dir"
  rm -f "$SERVERS_ENV" "$dir/keeper.pid"
  # Detached, holding none of CTest's pipes: CTest waits until a test's output is closed.
  setsid -f bash "$0" keep "$PPID" >"$dir/keeper.log" 2>&1 </dev/null
  wait_for "[ -s '$SERVERS_ENV' ] || { [ -s '$dir/keeper.pid' ] && ! kill -0 \$(<'$dir/keeper.pid'); }" &&
    [ -s "$SERVERS_ENV" ] || fail "the servers did not start: $(cat "$dir/keeper.log")"
  cat "$SERVERS_ENV"
  ;;
keep)
  echo $$ >"$dir/keeper.pid"
  use_x
  use_bus
  echo "SHARED_KEEPER=$$ SHARED_DISPLAY=$DISPLAY SHARED_BUS='$DBUS_SESSION_BUS_ADDRESS'" >"$dir/env.new"
  if command -v sway >/dev/null; then start_sway; fi
  echo "SHARED_WAYLAND=${WAYLAND_DISPLAY:-} SHARED_RUNTIME=$RUNTIME SHARED_SWAYSOCK=${SWAYSOCK:-}" \
    >>"$dir/env.new"
  mv "$dir/env.new" "$SERVERS_ENV"
  while [ -e "$SERVERS_ENV" ] && kill -0 "$2" 2>/dev/null && kill -0 "$XVFB_PID" 2>/dev/null; do
    sleep 1
  done
  rm -f "$SERVERS_ENV"
  ;;
stop)
  shared || exit 0
  rm -f "$SERVERS_ENV"
  wait_for "! kill -0 $SHARED_KEEPER" || fail "the servers' keeper $SHARED_KEEPER did not end"
  echo "stopped the shared servers"
  ;;
*)
  fail "usage: $0 start|stop"
  ;;
esac
