# Shared helpers for integration tests: a private Xvfb on a free display, processes tracked by
# PID and stopped on exit, screenshots and simple picture checks. Source it from a test script.
set -euo pipefail

NIMBREL_PIDS=()
WORK=$(mktemp -d /tmp/nimbrel-it-XXXXXX)

cleanup() {
  local pid
  for pid in "${NIMBREL_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${NIMBREL_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

# Runs the calling script again, once, inside a private D-Bus session bus (dbus-run-session),
# which ends with it: for programs that register on the session bus, so that no test meets
# another's instance. Call it first, with the script's arguments.
with_private_session_bus() {
  [ -n "${NIMBREL_PRIVATE_BUS:-}" ] && return 0
  command -v dbus-run-session >/dev/null || fail "no dbus-run-session (package dbus-daemon)"
  rm -rf "$WORK"
  trap - EXIT
  NIMBREL_PRIVATE_BUS=1 exec dbus-run-session -- bash "$0" "$@"
}

# Waits until nothing owns the session bus name $1: the bus releases a stopped instance's name
# once it notices the connection closed, which may be after the process is gone, and a start
# before that would hand itself over to the instance that is no more.
wait_bus_name_released() {
  wait_for "! dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:$1 | grep -q 'boolean true'" 10 ||
    fail "the bus name $1 is still owned"
}

# Remembers a background process so that it is stopped when the test ends.
track() { NIMBREL_PIDS+=("$1"); }

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Starts Xvfb on a free display (it picks the number itself) and exports DISPLAY.
# Usage: start_xvfb [WxHxDEPTH [more Xvfb arguments...]]
start_xvfb() {
  local screen=${1:-1280x800x24}
  [ $# -gt 0 ] && shift
  local fifo="$WORK/displayfd"
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset "$@" 3>"$fifo" 2>"$WORK/xvfb.log" &
  XVFB_PID=$!
  track "$XVFB_PID"
  local number
  read -r -t 20 number <"$fifo" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
  export DISPLAY=":$number"
}

# Waits up to $2 seconds (default 10) for a command to succeed.
wait_for() {
  local cmd=$1 limit=${2:-10} i
  for ((i = 0; i < limit * 10; i++)); do
    if eval "$cmd" >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  return 1
}

# Screenshot of the whole screen (or of window $2) as PNG at $1.
screenshot() {
  local out=$1 window=${2:-root}
  import -window "$window" "$out"
}

# Number of distinct colours in a PNG, after reducing to 5 bits per channel.
distinct_colours() {
  convert "$1" -depth 5 -format '%k' info:
}

# Mean brightness of a PNG (or of a crop WxH+X+Y of it) as a fraction 0..1.
mean_brightness() {
  local file=$1 crop=${2:-}
  if [ -n "$crop" ]; then
    convert "$file" -crop "$crop" +repage -colorspace Gray -format '%[fx:mean]' info:
  else
    convert "$file" -colorspace Gray -format '%[fx:mean]' info:
  fi
}

# Succeeds when process $2 (a child of this shell) ends within $3 seconds (default 5) with exit
# status $1.
ended_with() {
  local want=$1 pid=$2 limit=${3:-5} i status=0
  for ((i = 0; i < limit * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid" || status=$?
      [ "$status" = "$want" ] && return 0
      echo "process $pid ended with status $status, not $want" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "process $pid still runs after $limit seconds" >&2
  return 1
}
