# What every integration script sources: its servers (the run's shared Xvfb, headless sway and
# session bus that servers.sh keeps, or private ones), processes stopped when it ends, pictures
# taken and measured, and the input that ends a saver.
set -euo pipefail

NIMBREL=${NIMBREL_BUILD:-}/programs/nimbrel/nimbrel
PROBES=${NIMBREL_BUILD:-}/tests/integration
# Where servers.sh writes the shared servers' addresses; absent when a script runs on its own.
SERVERS_ENV=$PROBES/servers/env
PIDS=()
WORK=$(mktemp -d /tmp/nimbrel-it-XXXXXX)
RUNTIME=
export XDG_CONFIG_HOME=$WORK/config

# Stops the tracked processes and those that a daemon started for the test ($WORK/*/pid); keeps
# the pictures in NIMBREL_KEEP_SHOTS when that names a directory.
cleanup() {
  local pid
  [ -z "${NIMBREL_KEEP_SHOTS:-}" ] || cp "$WORK"/*.png "$NIMBREL_KEEP_SHOTS/" 2>/dev/null || true
  for pid in "${PIDS[@]}" $(cat "$WORK"/*/pid 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$WORK" ${RUNTIME:+"$RUNTIME"}
}
trap cleanup EXIT
track() { PIDS+=("$1"); }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs command $1 every 0.1 s until it succeeds; fails after a minute, a bound only a hang reaches.
wait_for() {
  local end=$((SECONDS + 60))
  until eval "$1" >/dev/null 2>&1; do
    [ "$SECONDS" -le "$end" ] || return 1
    sleep 0.1
  done
}

# Succeeds when child $2 ends within a minute with status $1.
ended_with() {
  local status=0
  wait_for "! kill -0 $2" || { echo "process $2 still runs" >&2 && return 1; }
  wait "$2" || status=$?
  [ "$status" = "$1" ] || { echo "process $2 ended with status $status, not $1" >&2 && return 1; }
}

# nimbrel $2...: it ends within a minute with status $1, one line on stderr, nothing on stdout.
expect_end() {
  local want=$1 status=0
  shift
  timeout 60 "$NIMBREL" "$@" >"$WORK/out" 2>"$WORK/err" </dev/null || status=$?
  [ "$status" = "$want" ] && [ "$(wc -l <"$WORK/err")" = 1 ] && [ ! -s "$WORK/out" ] ||
    fail "nimbrel $*: status $status, not $want; stderr: $(head -c 500 "$WORK/err")"
  echo "nimbrel $*: $(cat "$WORK/err")"
}

# Starts program $@ in the background; sets PROBE_PID, and PROBE_SAID to the first line it prints.
start_probe() {
  "$@" >"$WORK/probe.out" &
  PROBE_PID=$!
  track "$PROBE_PID"
  wait_for "[ \$(wc -l <'$WORK/probe.out') -gt 0 ] || ! kill -0 $PROBE_PID"
  PROBE_SAID=$(head -n 1 "$WORK/probe.out")
  [ -n "$PROBE_SAID" ] || fail "$1 did not start"
}

# --- servers ------------------------------------------------------------------------------------
shared() { [ -s "$SERVERS_ENV" ] && source "$SERVERS_ENV" && kill -0 "$SHARED_KEEPER" 2>/dev/null; }

# A private Xvfb [WxHxDEPTH [more arguments]] on a display it picks; exports DISPLAY, sets XVFB_PID.
start_xvfb() {
  local screen=${1:-1280x800x24} number
  [ $# -gt 0 ] && shift
  mkfifo "$WORK/displayfd"
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset "$@" 3>"$WORK/displayfd" \
    2>"$WORK/xvfb.log" &
  XVFB_PID=$!
  track "$XVFB_PID"
  read -r -t 60 number <"$WORK/displayfd" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
  rm "$WORK/displayfd"
  export DISPLAY=":$number"
}

# The script's X server, shared or private: 1280x800; -ac lets the XScreenSaver daemon in as
# nobody; -s 0 keeps the server's own screen saver off through a long run.
use_x() {
  if shared; then export DISPLAY=$SHARED_DISPLAY; else start_xvfb 1280x800x24 -ac -s 0; fi
  unset WAYLAND_DISPLAY
}

# A private Xorg on the dummy video driver with configuration $1 (a file here) on a display it
# picks, its root white (-wr) as on no desktop; -ac lets the XScreenSaver daemon in as nobody.
# Exports DISPLAY, sets XORG_PID. Where the driver is missing or the server will not start here,
# the script is skipped (status 77).
start_xorg() {
  local number log=$WORK/${1%.conf}.log
  [ -e /usr/lib/xorg/modules/drivers/dummy_drv.so ] ||
    { echo "SKIP: Xorg's dummy driver is not installed (scripts/deps.sh)" && exit 77; }
  mkfifo "$WORK/displayfd"
  Xorg -displayfd 3 -config "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/$1" -logfile "$log" \
    -noreset -wr -nolisten tcp -ac -s 0 -novtswitch -sharevts 3>"$WORK/displayfd" 2>/dev/null &
  XORG_PID=$!
  track "$XORG_PID"
  read -r -t 60 number <"$WORK/displayfd" || {
    echo "SKIP: Xorg did not start: $(sed -n '/Fatal server error/ { n; p }' "$log")"
    exit 77
  }
  rm "$WORK/displayfd"
  export DISPLAY=":$number"
  unset WAYLAND_DISPLAY
}
# Two monitors of 1280x720: DUMMY0 at +0+0 and DUMMY1 at +1280+0. The driver calls an output
# connected once it has a mode, but says so only when asked to probe (plain xrandr does), as
# a monitor plugged in would be; until then clients that read the current state see one monitor.
start_xorg_dummy() {
  start_xorg xorg-dummy.conf
  xrandr --output DUMMY0 --mode 1280x720 && xrandr --addmode DUMMY1 1280x720 &&
    xrandr --output DUMMY1 --mode 1280x720 --right-of DUMMY0 &&
    xrandr | grep '^DUMMY1 connected 1280x720+1280+0' >/dev/null || fail "no two monitors"
}
# Two X screens of 1280x720 side by side, one screen of 2560x720 to clients, with no RandR.
start_xorg_xinerama() {
  start_xorg xorg-xinerama.conf
  [ "$(xdpyinfo -ext XINERAMA | grep -c '^  head #')" = 2 ] || fail "Xinerama shows no two heads"
}

use_bus() {
  local out
  if shared; then
    export DBUS_SESSION_BUS_ADDRESS=$SHARED_BUS
  else
    out=$(dbus-daemon --session --fork --print-address=1 --print-pid=1) || fail "no session bus"
    export DBUS_SESSION_BUS_ADDRESS=${out%%$'\n'*}
    track "${out##*$'\n'}"
  fi
}

# A private headless sway with HEADLESS-1 (1280x720) and HEADLESS-2 (1024x768 at scale 2); its
# configuration names HEADLESS-3 and -4 for outputs made later. With WxH: HEADLESS-1 alone at
# that mode. Sway refuses root: as root, it runs as the system user nimbrel-test (made here when
# missing) in a runtime directory of its own, which root's clients enter anyway. Exports
# WAYLAND_DISPLAY, XDG_RUNTIME_DIR and SWAYSOCK; sets SWAY_PID.
start_sway() {
  local user=nimbrel-test lock as_user=()
  RUNTIME=$(mktemp -d /tmp/nimbrel-wl-XXXXXX)
  if [ "$(id -u)" -eq 0 ]; then
    # Another script may be making the user at the same moment; either useradd will do.
    id "$user" >/dev/null 2>&1 || useradd --system --user-group --no-create-home \
      --home-dir /nonexistent --shell /usr/sbin/nologin "$user" 2>/dev/null || true
    chown "$user:" "$RUNTIME" || fail "could not make the user $user"
    as_user=(setpriv --reuid="$user" --regid="$user" --init-groups --)
  fi
  printf 'output %s\n' "* scale_filter nearest" "HEADLESS-1 mode ${1:-1280x720} position 0 0" \
    "HEADLESS-2 mode 1024x768 scale 2 position 1280 0" "HEADLESS-3 mode 800x600 position 0 720" \
    "HEADLESS-4 mode 640x480 position 800 720" >"$RUNTIME/sway.conf"
  echo "xwayland disable" >>"$RUNTIME/sway.conf"
  chmod 0644 "$RUNTIME/sway.conf"
  "${as_user[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$RUNTIME" XDG_RUNTIME_DIR="$RUNTIME" \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$RUNTIME/sway.conf" >"$WORK/sway.log" 2>&1 &
  SWAY_PID=$!
  track "$SWAY_PID"
  wait_for "compgen -G '$RUNTIME/sway-ipc.*.sock' && compgen -G '$RUNTIME/wayland-*.lock'" ||
    fail "sway made no sockets: $(tail -n 5 "$WORK/sway.log")"
  lock=$(compgen -G "$RUNTIME/wayland-*.lock" | head -n 1)
  SWAYSOCK=$(compgen -G "$RUNTIME/sway-ipc.*.sock" | head -n 1)
  export WAYLAND_DISPLAY=$(basename "$lock" .lock) XDG_RUNTIME_DIR=$RUNTIME SWAYSOCK
  unset DISPLAY SDL_VIDEODRIVER
  wait_for "output_is HEADLESS-1 ${1:-1280x720} 1" || fail "sway does not answer: $(tail "$WORK"/sway.log)"
  [ -z "${1:-}" ] || return 0
  swaymsg -q create_output || fail "sway made no second output"
  wait_for "output_is HEADLESS-2 1024x768 2" || fail "no second output at 1024x768, scale 2: $(outputs)"
}

# The script's compositor: the shared sway, or with $1 = private (or alone) one of its own.
# Without sway the script is skipped (status 77).
use_sway() {
  command -v sway >/dev/null || { echo "SKIP: sway is not installed (scripts/deps.sh)" && exit 77; }
  for tool in swaymsg grim wtype swayidle jq setpriv; do
    command -v $tool >/dev/null || fail "$tool is not installed (scripts/deps.sh installs it)"
  done
  if [ "${1:-}" != private ] && shared && [ -n "$SHARED_WAYLAND" ]; then
    export WAYLAND_DISPLAY=$SHARED_WAYLAND XDG_RUNTIME_DIR=$SHARED_RUNTIME SWAYSOCK=$SHARED_SWAYSOCK
    unset DISPLAY SDL_VIDEODRIVER
  else
    start_sway
  fi
}

# One line per active output: NAME WIDTHxHEIGHT SCALE (device pixels of the current mode).
outputs() {
  swaymsg -t get_outputs -r |
    jq -r '.[] | select(.active) | "\(.name) \(.current_mode.width)x\(.current_mode.height) \(.scale)"'
}
output_is() { outputs | grep -qx "$1 $2 $3"; }

# --- the saver ----------------------------------------------------------------------------------
# Starts the build's saver with arguments $@ (saver: its pid), its stderr in $WORK/saver.log, on
# Wayland with the client library's log of every message (WAYLAND_DEBUG), which the tests wait
# on. On X it waits for the saver's window (window: its id).
start_saver() {
  env ${WAYLAND_DISPLAY:+WAYLAND_DEBUG=client} "$NIMBREL" "$@" 2>"$WORK/saver.log" &
  saver=$!
  track "$saver"
  [ -n "${WAYLAND_DISPLAY:-}" ] || window=$(window_named Nimbrel) || fail "no window for: $*"
}
# What the saver wrote to stderr ($WORK/saver.log, or file $1), less the protocol log.
saver_stderr() { grep -vE '^\[ *[0-9]+\.[0-9]+\] ' "${1:-$WORK/saver.log}" || true; }

# The saver ends (after signal $1, if given) within a minute with status 0, silent; on Wayland
# its picture goes from the first two outputs.
ended_cleanly() {
  [ -z "${1:-}" ] || kill "-$1" "$saver"
  ended_with 0 "$saver" || fail "the saver did not end with status 0: $(saver_stderr | head -c 2000)"
  [ -z "$(saver_stderr)" ] || fail "the saver wrote to stderr: $(saver_stderr | head -c 2000)"
  [ -z "${WAYLAND_DISPLAY:-}" ] || wait_for "blank HEADLESS-1 HEADLESS-2" || fail "its picture stayed"
}

# Writes at $1 a saver program for a daemon to start: it runs command $3... with the arguments
# it is given and records in directory $WORK/$2 (anyone may write there) XSCREENSAVER_WINDOW,
# the pid, stderr and status. The saver has a process group of its own: a
# daemon's signal to the program's group reaches it once, passed on.
recording_saver() {
  local state=$WORK/$2
  mkdir -m 777 "$state"
  cat >"$1" <<WRAP
#!/bin/bash
echo "\$XSCREENSAVER_WINDOW" >"$state/window"
set -m
${*:3} "\$@" 2>"$state/stderr" &
child=\$!
echo \$child >"$state/pid"
trap 'kill -TERM \$child' TERM
# A trapped signal interrupts a wait; the one after the end gets the saver's own status.
while kill -0 \$child 2>/dev/null; do wait \$child; done
wait \$child
echo \$? >"$state/status"
WRAP
  chmod 755 "$1"
}

# The saver recorded in $WORK/$1 ends with status 0, silent.
recorded_clean_end() {
  local state=$WORK/$1
  wait_for "[ -s '$state/status' ]" || fail "$1: no exit status recorded"
  [ "$(cat "$state/status")" = 0 ] || fail "$1: Nimbrel ended with status $(cat "$state/status")"
  [ -z "$(saver_stderr "$state/stderr")" ] || fail "$1: Nimbrel wrote: $(saver_stderr "$state/stderr")"
}

# The XScreenSaver daemon as nobody (it refuses to run savers as root) with home $WORK/home and
# the `programs:` entry $1; its log is $WORK/daemon.log. xscreensaver_command COMMAND tells it.
xscreensaver_command() {
  HOME=$WORK/home setpriv --reuid=65534 --regid=65534 --clear-groups xscreensaver-command "-$1" >/dev/null
}
start_xscreensaver() {
  chmod 711 "$WORK"
  mkdir -p "$WORK/home"
  printf '%s\n' "mode: one" "selected: 0" "splash: False" "fade: False" "unfade: False" \
    "lock: False" "timeout: 0:30:00" "programs: \"Nimbrel\" $1 \\n\\" \
    "  \"Blank\" /bin/true \\n" >"$WORK/home/.xscreensaver"
  chown -R 65534:65534 "$WORK/home"
  (cd / && HOME=$WORK/home XDG_CONFIG_HOME=$WORK/home/.config exec setpriv --reuid=65534 \
    --regid=65534 --clear-groups xscreensaver --no-splash --verbose) >"$WORK/daemon.log" 2>&1 &
  track $!
  wait_for "xscreensaver_command version" || fail "the daemon did not start"
}

# --- pictures -----------------------------------------------------------------------------------
# The id of the first window named exactly $1, once there is one.
window_named() {
  wait_for "xdotool search --name '^$1\$'" || return 1
  xdotool search --name "^$1\$" | head -n 1
}
# Screenshot of the whole screen (or of window $2) as PNG at $1.
screenshot() { import -window "${2:-root}" "$1"; }
# Distinct colours in a picture at 5 bits per channel; its mean saturation (or $2 = maxima).
colours() { convert "$1" -depth 5 -format '%k' info:; }
saturation() { convert "$1" -colorspace HSL -channel G -separate -format "%[fx:${2:-mean}]" info:; }
# $1 > $2, $1 < $2 (decimal fractions).
greater() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a > b) }'; }
below() { greater "$2" "$1"; }

# Prints the size WxH of picture $1, then the mean brightness (0..1) of each crop WxH+X+Y given
# after it, one to a line.
measure() {
  local file=$1 crop crops=()
  shift
  for crop in "$@"; do
    crops+=(\( +clone -crop "$crop" +repage -format '%[fx:mean]\n' -write info: +delete \))
  done
  convert "$file" -colorspace Gray -format '%wx%h\n' -write info: "${crops[@]}" null:
}

# Each top-level window named exactly $1 as WxH+X+Y, its map state and its id, a line each.
windows_named() {
  local w
  for w in $(xdotool search --name "^$1\$"); do
    xwininfo -id "$w" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
      /Width:/ { w = $NF } /Height:/ { h = $NF } /Map State:/ { m = $NF }
      END { print w "x" h "+" x "+" y, m, '"$w"' }'
  done | sort
}

# Whether a screenshot of the whole screen, kept at $1, shows a view's pattern centred on each
# rectangle WxH+X+Y after it (shows_pattern), as a view per monitor does; the rectangles must lie
# on the screen (a crop off the picture would be all of it).
pattern_within() {
  local r w h x y size
  screenshot "$1" && size=$(identify -format '%w %h' "$1") || return 1
  for r in "${@:2}"; do
    IFS=x+ read -r w h x y <<<"$r"
    [ $((x + w)) -le "${size% *}" ] && [ $((y + h)) -le "${size#* }" ] &&
      convert "$1" -crop "$r" +repage "$WORK/within.ppm" &&
      shows_pattern "$WORK/within.ppm" "${w}x$h" || return 1
  done
}

# Whether capture $1 is a fresh view of size $2 showing its title: a bright band where the title
# goes ($3, a quarter of the way up) and nothing at all above it ($4).
shows_title() {
  local m
  mapfile -t m < <(measure "$1" "$3" "$4")
  [ "${m[0]}" = "$2" ] && greater "${m[1]}" 0.03 && below "${m[2]}" 0.001
}

# Whether picture $1 shows the pattern: many colours, and each crop WxH+X+Y after it lit.
lit() {
  local m
  [ "$(colours "$1")" -gt 200 ] || return 1
  for m in $(measure "$@" | tail -n +2); do greater "$m" 0.02 || return 1; done
}

# The first moments of a view last only a moment of the saver's clock (the title: 1.5 s). To
# see them however slow the machine, capture window $1 back to back with xwd, right after what
# starts the view, keeping the first $2 pictures that differ from the one before (or those of a
# minute); then first_capture finds the first for which command $1 succeeds, as PNG at $2.
capture() {
  local n=0 end=$((SECONDS + 60))
  rm -rf "$WORK/shots"
  mkdir "$WORK/shots"
  while [ $n -lt "$2" ] && [ $SECONDS -le $end ]; do
    xwd -silent -id "$1" -out "$WORK/shot" 2>/dev/null || continue
    cmp -s "$WORK/shot" "$WORK/shots/$((n - 1)).xwd" || mv "$WORK/shot" "$WORK/shots/$((n++)).xwd"
  done
}
first_capture() {
  local n
  for n in $(ls "$WORK/shots" | sort -n); do
    "$1" "$WORK/shots/$n" && convert "xwd:$WORK/shots/$n" "$2" && return 0
  done
  return 1
}

# --- Wayland pictures and input -----------------------------------------------------------------
# Whether picture $1 shows the pattern at size $2: the size is right, it has many colours, and
# the centre of its brightness is within 2 % of the picture's centre, as the pattern is centred
# on its view; a view of another size in the same place is off centre.
shows_pattern() {
  convert "$1" -print '%wx%h %k\n' -colorspace Gray -verbose -moments info: |
    awk 'NR == 1 { print $1, $2 } /Centroid:/ && !c { c = 1; split($2, xy, ","); print xy[1], xy[2] }' |
    tee "$WORK/pattern.txt" | awk -v size="$2" -v w="${2%x*}" -v h="${2#*x}" '
      NR == 1 { ok = ($1 == size && $2 > 200) }
      NR == 2 { ok = ok && ($1 - w / 2) ^ 2 <= (0.02 * w) ^ 2 && ($2 - h / 2) ^ 2 <= (0.02 * h) ^ 2 }
      END { exit !(ok && NR == 2) }'
}
# Waits until output $1 shows the pattern at its device size $2; leaves the screenshot at $3.
await_pattern() {
  wait_for "grim -o $1 '$3' && shows_pattern '$3' $2" ||
    fail "$1 never showed the pattern at $2: $(tr '\n' ' ' <"$WORK/pattern.txt")"
}

# Whether picture $1 has detail at its own pixels: one drawn at half the size and enlarged
# (nearest neighbour, as configured) is made of 2x2 blocks, equal to a copy made of one pixel of
# each block. At least 2 % of the pixels must differ from that copy.
sharp_at_device_pixels() {
  convert "$1" \( +clone -sample 50% -sample 200% \) -compose difference -composite \
    -colorspace Gray -threshold 2% -format '%[fx:mean]' info: >"$WORK/sharp.txt"
  greater "$(cat "$WORK/sharp.txt")" 0.02
}

# Whether the share of output $1's pixels in sway's own grey (where no surface is) passes test
# $2 $3 ("-gt 99": nearly all; "-lt 50": under half). The saver draws on black.
grey_share() {
  local share
  grim -o "$1" -t ppm "$WORK/grey.ppm" &&
    share=$(convert "$WORK/grey.ppm" -fuzz 1% -fill white -opaque '#404040' -fill black +opaque white \
      -colorspace Gray -format '%[fx:round(100 * mean)]' info:) && [ "$share" "$2" "$3" ]
}
# Whether every output named shows nothing drawn, or something drawn over most of it.
blank() { for o in "$@"; do grey_share "$o" -gt 99 || return 1; done; }
drawn() { for o in "$@"; do grey_share "$o" -lt 50 || return 1; done; }

# Waits until output $1 has shown two pictures, each differing from the one before, from now on.
keeps_drawing() {
  local i
  grim -o "$1" -t ppm "$WORK/changing-0.ppm" || return 1
  for i in 1 2; do
    wait_for "grim -o $1 -t ppm '$WORK/changing-$i.ppm' &&
      ! cmp -s '$WORK/changing-$((i - 1)).ppm' '$WORK/changing-$i.ppm'" || return 1
  done
}

# How many protocol messages of kind $1 (such as wl_pointer.enter) the saver has logged.
saver_logged() {
  grep -cE "^\[ *[0-9]+\.[0-9]+\] ( -> )?${1%%.*}@[0-9]+\.${1#*.}\(" "$WORK/saver.log" || true
}

# How many keyboards the saver has seen go: the seat's keyboard capability (bit 2) cleared.
keyboards_gone() {
  awk '/ wl_seat@[0-9]+\.capabilities\(/ {
         c = $0; sub(/.*capabilities\(/, "", c); keyboard = int(c / 2) % 2
         if (had && !keyboard) n++
         had = keyboard
       }
       END { print n + 0 }' "$WORK/saver.log"
}

# A key from a keyboard that appears for it and goes at once: wtype makes a virtual keyboard,
# loads its keymap, presses and releases the key and ends. The saver may take the keyboard up
# after the key (then only the seat's activity tells of it), while it is down (the key is in the
# enter event) or before. With $1 = stopped the saver is stopped meanwhile, as a loaded machine
# may keep it from answering: the key is then over before it can ask for the keyboard.
quick_key() {
  [ "${1:-}" != stopped ] || kill -STOP "$saver"
  wtype -k space || fail "wtype failed"
  [ "${1:-}" != stopped ] || kill -CONT "$saver"
}

# Types text $1 (default a space) from a keyboard that the saver has taken up first: wtype reads
# it from a pipe, which is written once the keyboard has entered a surface of the saver's.
patient_key() {
  local enters typer fd
  enters=$(saver_logged wl_keyboard.enter)
  mkfifo "$WORK/keys"
  wtype - <"$WORK/keys" &
  typer=$!
  exec {fd}>"$WORK/keys"
  wait_for "! kill -0 $saver || [ \$(saver_logged wl_keyboard.enter) -gt $enters ]" ||
    fail "the saver never took up the new keyboard"
  printf '%s' "${1:- }" >&"$fd"
  exec {fd}>&-
  rm "$WORK/keys"
  wait "$typer" || fail "wtype failed"
}

# Ends the saver with a quick key ($1 = stopped: see quick_key): it ends with status 0, silent.
end_with_key() {
  quick_key "$@"
  ended_cleanly
}

# The pointer (nimbrel_virtual_pointer gives the seat one) moved and clicked through sway:
# `pointer move DX DY`, `pointer press button1`.
pointer() { swaymsg -q -- seat seat0 cursor "$@" || fail "sway did not do cursor $*"; }
click_pointer() { pointer press button1 && pointer release button1; }
# Moves the pointer over the saver's surface once the saver has taken up the seat's pointer.
point_at_saver() {
  wait_for "[ \$(saver_logged wl_seat.get_pointer) -gt 0 ]" || fail "the saver never took up the pointer"
  pointer move 1 1
  wait_for "[ \$(saver_logged wl_pointer.enter) -gt 0 ]" || fail "the pointer never entered the saver"
}
