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

# Polls a command every 0.1 s until it succeeds; fails after $2 seconds (default 60). The
# deadline is generous on purpose: a slow or loaded machine makes a test slower, never red.
wait_for() {
  local cmd=$1 limit=${2:-60}
  local end=$((SECONDS + limit))
  while :; do
    if eval "$cmd" >/dev/null 2>&1; then return 0; fi
    [ "$SECONDS" -le "$end" ] || return 1
    sleep 0.1
  done
}

# Prints the id of the first window named exactly $1 once there is one (60 s at most).
window_named() {
  local name=$1 id=""
  wait_for "xdotool search --name '^$name\$'" || return 1
  id=$(xdotool search --name "^$name\$" | head -n 1)
  [ -n "$id" ] && echo "$id"
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

# Succeeds when process $2 (a child of this shell) ends within $3 seconds (default 60) with exit
# status $1.
ended_with() {
  local want=$1 pid=$2 limit=${3:-60} status=0
  local end=$((SECONDS + limit))
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$SECONDS" -gt "$end" ]; then
      echo "process $pid still runs after $limit seconds" >&2
      return 1
    fi
    sleep 0.1
  done
  wait "$pid" || status=$?
  [ "$status" = "$want" ] && return 0
  echo "process $pid ended with status $status, not $want" >&2
  return 1
}

# --- watching a window change ---------------------------------------------------------------
# Some states last only a moment of the saver's own clock (the title: its first 1.5 s). To see
# them on a loaded machine, a background loop captures the window back to back with xwd (a few
# milliseconds each) and keeps every picture that differs from the one before; the slower
# analysis then goes through them in order, so it can lag behind without missing a state.

# Starts capturing window $1 (an id, or root).
start_capture() {
  local window=$1 dir="$WORK/shots"
  local source=(-id "$window")
  [ "$window" = root ] && source=(-root)
  rm -rf "$dir" "$WORK/shot.next" "$WORK/shot.last"
  mkdir -p "$dir"
  touch "$WORK/capturing"
  (
    i=0
    while [ -e "$WORK/capturing" ] && [ "$i" -lt 5000 ]; do
      # At most 30 pictures wait for the analysis: a bound on the disk space, not on timing.
      while [ -e "$WORK/capturing" ] && [ "$(find "$dir" -type f | wc -l)" -gt 30 ]; do
        sleep 0.05
      done
      if xwd -silent "${source[@]}" -out "$WORK/shot.next" 2>/dev/null &&
        ! cmp -s "$WORK/shot.next" "$WORK/shot.last"; then
        cp "$WORK/shot.next" "$WORK/shot.last"
        mv "$WORK/shot.next" "$(printf '%s/%06d.xwd' "$dir" "$i")"
        i=$((i + 1))
      fi
    done
  ) &
  CAPTURE_PID=$!
  track "$CAPTURE_PID"
}

stop_capture() {
  rm -f "$WORK/capturing"
  wait "$CAPTURE_PID" 2>/dev/null || true
}

# Goes through the captures in order until command $1, given a capture's path, succeeds; copies
# that capture as PNG to $2. Fails after $3 seconds (default 60). Stops the capture either way.
await_capture() {
  local check=$1 out=$2 limit=${3:-60} shot
  local end=$((SECONDS + limit))
  while [ "$SECONDS" -le "$end" ]; do
    shot=$(find "$WORK/shots" -type f -name '*.xwd' | sort | head -n 1)
    if [ -z "$shot" ]; then
      sleep 0.05
      continue
    fi
    if "$check" "$shot"; then
      convert "xwd:$shot" "$out"
      stop_capture
      return 0
    fi
    rm -f "$shot"
  done
  stop_capture
  return 1
}

# Succeeds when $1 > $2, or $1 < $2 (decimal fractions).
greater() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
below() { greater "$2" "$1"; }

# Prints the size WxH of picture $1, then the mean brightness (0..1) of each crop WxH+X+Y given
# after it, one to a line, from one run of convert.
measure() {
  local file=$1 crop
  shift
  local crops=()
  for crop in "$@"; do
    crops+=(\( +clone -crop "$crop" +repage -format '%[fx:mean]\n' -write info: +delete \))
  done
  convert "$file" -colorspace Gray -format '%wx%h\n' -write info: "${crops[@]}" null:
}

# Succeeds when the whole screen, captured to $1, shows the pattern: many colours, and each crop
# WxH+X+Y given after it lit. The pattern only builds up, so this is waited for.
pattern_lit() {
  local out=$1 crop
  shift
  xwd -root -silent | convert xwd:- "$out" || return 1
  [ "$(distinct_colours "$out")" -gt 200 ] || return 1
  for crop in "$@"; do greater "$(mean_brightness "$out" "$crop")" 0.02 || return 1; done
}

# Waits until the screen has changed $1 times since the call (returns early once process $saver
# ends). The saver reads all its pending input before it draws a frame, and waits for the server
# after each frame it shows; so the second change comes from a frame drawn after it had read
# every event sent before this call, and each further change from a frame at least one frame
# interval (1/60 s or more) later.
frames_later() {
  xwd -silent -root -out "$WORK/frame0.xwd"
  local i
  for ((i = 1; i <= $1; i++)); do
    wait_for "! kill -0 $saver || { xwd -silent -root -out '$WORK/frame$i.xwd' &&
      ! cmp -s '$WORK/frame$((i - 1)).xwd' '$WORK/frame$i.xwd'; }" ||
      fail "the full-screen picture stopped changing"
  done
}

# Writes at $1 a saver program for a daemon to start: it runs the rest of the arguments (with
# the ones it is given) in the background and records in directory $2 its pid, standard error
# and exit status, passing a SIGTERM on.
recording_saver() {
  local program=$1 state=$2
  shift 2
  mkdir -p "$state"
  cat >"$program" <<WRAP
#!/bin/sh
echo "\$*" >"$state/args"
echo "\$XSCREENSAVER_WINDOW" >"$state/window"
$* "\$@" 2>"$state/stderr" &
child=\$!
echo \$child >"$state/pid"
trap 'kill -TERM \$child' TERM
wait \$child
status=\$?
# A trap interrupts the first wait; the second one gets the saver's own status.
[ \$status -gt 128 ] && { wait \$child; status=\$?; }
echo \$status >"$state/status"
WRAP
  chmod 755 "$program"
}

# The saver recorded in directory $1 ended with status 0 and wrote nothing to stderr.
recorded_clean_end() {
  wait_for "[ -s '$1/status' ]" || fail "no exit status recorded"
  [ "$(cat "$1/status")" = 0 ] || fail "Nimbrel ended with status $(cat "$1/status")"
  [ ! -s "$1/stderr" ] || fail "Nimbrel wrote to stderr: $(cat "$1/stderr")"
}

# The XScreenSaver daemon, as nobody (it refuses to run savers as root), with home $1 and the
# `programs:` entry $2 first; Xvfb must allow nobody in (-ac).
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
start_xscreensaver() {
  local home=$1
  chmod 711 "$WORK"
  mkdir -p "$home"
  printf '%s\n' "mode: one" "selected: 0" "splash: False" "fade: False" "unfade: False" \
    "lock: False" "timeout: 0:30:00" "programs: \"Nimbrel\" $2 \\n\\" \
    "  \"Blank\" /bin/true \\n" >"$home/.xscreensaver"
  chown -R 65534:65534 "$home"
  export HOME="$home" XDG_CONFIG_HOME="$home/.config"
  (cd / && exec setpriv --reuid=65534 --regid=65534 --clear-groups xscreensaver --no-splash \
    --verbose) >"$WORK/daemon.log" 2>&1 &
  track $!
  wait_for "as_nobody xscreensaver-command -version" || fail "the daemon did not start"
}

# Whether capture $1 is a fresh view of size $2 showing its title: a bright band where the title
# goes ($3, a quarter of the way up) and nothing at all above it ($4).
shows_title() {
  local m
  mapfile -t m < <(measure "$1" "$3" "$4")
  [ "${m[0]}" = "$2" ] && greater "${m[1]}" 0.03 && below "${m[2]}" 0.001
}

# nimbrel-settings ($1, else the build's) under GTK on a fresh Xvfb; SHOTS is where screenshots
# go (NIMBREL_SHOTS keeps them).
settings_on_xvfb() {
  SETTINGS=${1:-$NIMBREL_BUILD/programs/nimbrel-settings/nimbrel-settings}
  [ -x "$SETTINGS" ] || fail "no $SETTINGS"
  SHOTS=${NIMBREL_SHOTS:-$WORK}
  start_xvfb 1024x768x24
  export GDK_BACKEND=x11 GSK_RENDERER=cairo NO_AT_BRIDGE=1 GTK_A11Y=none
}

# Waits for the window named $1 (default: the settings window, "Nimbrel"); sets WIN to its id
# and X, Y, HEIGHT to its place and height.
shown_window() {
  local name=${1:-Nimbrel}
  wait_for "xdotool search --onlyvisible --name '^$name\$'" 15 || fail "no window '$name'"
  WIN=$(xdotool search --onlyvisible --name "^$name\$" | head -1)
  eval "$(xdotool getwindowgeometry --shell "$WIN")"
}

# Starts the build's saver in the background with arguments $2..., standard error into file $1,
# and waits for its window: sets saver and window.
start_saver() {
  local err=$1
  shift
  "$NIMBREL_BUILD/programs/nimbrel/nimbrel" "$@" 2>"$err" &
  saver=$!
  track "$saver"
  window=$(window_named Nimbrel) || fail "no Nimbrel window appeared for: $*"
}

# The saver ($saver) has ended, or with $1 = TERM is sent SIGTERM and ends, with status 0 within
# $3 seconds (default 60), having written nothing to standard error (file $2).
ended_cleanly() {
  [ "$1" = TERM ] && kill -TERM "$saver"
  ended_with 0 "$saver" "${3:-60}" || fail "the saver did not end with status 0: $(head -c 4000 "$2")"
  [ ! -s "$2" ] || fail "the saver wrote to stderr: $(head -c 4000 "$2")"
}
