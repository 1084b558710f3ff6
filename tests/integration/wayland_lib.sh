# Shared helpers for the Wayland integration tests: a private headless sway with two outputs of
# different sizes (HEADLESS-1 1280x720 at scale 1, HEADLESS-2 1024x768 at scale 2), screenshots
# of one output with grim, keys and a pointer from devices that appear during the run, and checks
# of what an output shows. Source it from a test script; it sources lib.sh. A machine without
# sway skips the test (status 77); one with sway but without the other tools fails it.
#
# Sway refuses to run as root. Run as root, the compositor runs as the system user nimbrel-test
# (made here when missing) through setpriv; otherwise as the user running the test. Its runtime
# directory is a fresh one of its own, mode 0700. The clients (nimbrel, grim, wtype, swaymsg,
# swayidle) run as the test's user: root passes the directory's and the sockets' permissions,
# and anyone else is the compositor's own user.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

if ! command -v sway >/dev/null; then
  echo "SKIP: sway is not installed (scripts/deps.sh installs it)"
  exit 77
fi
for tool in swaymsg grim wtype swayidle jq setpriv; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/deps.sh installs it)"
done

NIMBREL="$NIMBREL_BUILD/programs/nimbrel/nimbrel"
export XDG_CONFIG_HOME="$WORK/config"
SWAY_USER=nimbrel-test

# The runtime directory cannot live in $WORK, which only the test's user may enter.
WAYLAND_RUNTIME=$(mktemp -d /tmp/nimbrel-wl-XXXXXX)
# Processes that the test did not start itself (such as savers that swayidle starts) are listed
# one PID to a line in $WORK/*.pids and stopped with the rest.
wayland_cleanup() {
  local pid
  for pid in $(cat "$WORK"/*.pids 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  cleanup
  rm -rf "$WAYLAND_RUNTIME"
}
trap wayland_cleanup EXIT

# Makes the compositor's user when running as root: a system user without a home or a shell.
# Another test may be making it at the same moment; whichever useradd wins, the user exists.
as_compositor_user=()
if [ "$(id -u)" -eq 0 ]; then
  id "$SWAY_USER" >/dev/null 2>&1 ||
    useradd --system --user-group --no-create-home --home-dir /nonexistent \
      --shell /usr/sbin/nologin "$SWAY_USER" 2>/dev/null || true
  id "$SWAY_USER" >/dev/null 2>&1 || fail "could not make the user $SWAY_USER"
  chown "$SWAY_USER:" "$WAYLAND_RUNTIME"
  as_compositor_user=(setpriv --reuid="$SWAY_USER" --regid="$SWAY_USER" --init-groups --)
fi
chmod 0700 "$WAYLAND_RUNTIME"

# Prints one line per output: NAME WIDTHxHEIGHT SCALE (device pixels of the current mode).
outputs() {
  swaymsg -t get_outputs -r |
    jq -r '.[] | select(.active) | "\(.name) \(.current_mode.width)x\(.current_mode.height) \(.scale)"'
}

# Succeeds when sway lists output $1 active at mode $2 (WxH) and scale $3.
output_is() {
  outputs | grep -qx "$1 $2 $3"
}

# Starts sway with the two outputs and exports WAYLAND_DISPLAY, XDG_RUNTIME_DIR and SWAYSOCK for
# the clients. A headless sway starts with one output; the second is made over IPC and takes
# its mode and scale from the configuration, which names two more for the tests that add them.
# With an argument WxH: HEADLESS-1 alone, at that mode and scale 1.
start_sway() {
  local only=${1:-}
  if [ -n "$only" ]; then
    printf 'xwayland disable\noutput HEADLESS-1 mode %s scale 1 position 0 0\n' "$only" \
      >"$WAYLAND_RUNTIME/sway.conf"
  else
    cat >"$WAYLAND_RUNTIME/sway.conf" <<'EOF'
xwayland disable
output HEADLESS-1 mode 1280x720 scale 1 position 0 0 scale_filter nearest
output HEADLESS-2 mode 1024x768 scale 2 position 1280 0 scale_filter nearest
output HEADLESS-3 mode 800x600 scale 1 position 0 720 scale_filter nearest
output HEADLESS-4 mode 640x480 scale 1 position 800 720 scale_filter nearest
EOF
  fi
  chmod 0644 "$WAYLAND_RUNTIME/sway.conf"
  "${as_compositor_user[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$WAYLAND_RUNTIME" \
    XDG_RUNTIME_DIR="$WAYLAND_RUNTIME" WLR_BACKENDS=headless WLR_RENDERER=pixman \
    WLR_LIBINPUT_NO_DEVICES=1 sway -c "$WAYLAND_RUNTIME/sway.conf" >"$WORK/sway.log" 2>&1 &
  SWAY_PID=$!
  track "$SWAY_PID"
  export XDG_RUNTIME_DIR="$WAYLAND_RUNTIME"
  wait_for "compgen -G '$WAYLAND_RUNTIME/sway-ipc.*.sock' && compgen -G '$WAYLAND_RUNTIME/wayland-*.lock'" ||
    fail "sway made no sockets: $(tail -n 5 "$WORK/sway.log")"
  SWAYSOCK=$(compgen -G "$WAYLAND_RUNTIME/sway-ipc.*.sock" | head -n 1)
  local lock
  lock=$(compgen -G "$WAYLAND_RUNTIME/wayland-*.lock" | head -n 1)
  WAYLAND_DISPLAY=$(basename "$lock" .lock)
  export SWAYSOCK WAYLAND_DISPLAY
  unset DISPLAY SDL_VIDEODRIVER
  wait_for "output_is HEADLESS-1 ${only:-1280x720} 1" ||
    fail "sway does not answer: $(tail -n 5 "$WORK/sway.log")"
  [ -z "$only" ] || return 0
  swaymsg -q create_output || fail "sway made no second output"
  wait_for "output_is HEADLESS-2 1024x768 2" || fail "the second output is not 1024x768 at scale 2: $(outputs)"
}

# Removes output $1 (sway 1.8 on) and waits until sway no longer lists it. Returns 2 when sway
# cannot: sway 1.7 has no "unplug", and its headless outputs cannot be disabled either.
remove_output() {
  swaymsg -q output "$1" unplug >/dev/null 2>&1 || return 2
  wait_for "! outputs | grep -q '^$1 '" || fail "$1 stayed: $(outputs)"
}

# Screenshot of output $1 in device pixels as PNG at $2.
shot() {
  grim -o "$1" "$2"
}

# Whether picture $1 (of size $2) shows the pattern at that size: the size is right, it has many
# colours, and the centre of its brightness is within 2 % of the picture's centre, as the
# pattern is centred on its view; a view of another size in the same place is off centre.
shows_pattern() {
  local file=$1 size=$2 info
  info=$(convert "$file" -print '%wx%h %k\n' -colorspace Gray -verbose -moments info: |
    awk 'NR == 1 { print $1, $2 } /Centroid:/ && !c { c = 1; split($2, xy, ","); print xy[1], xy[2] }')
  echo "$info" | tr '\n' ' ' >"$WORK/pattern.txt"
  local w=${size%x*} h=${size#*x}
  echo "$info" | awk -v size="$size" -v w="$w" -v h="$h" '
    NR == 1 { ok = ($1 == size && $2 > 200) }
    NR == 2 { ok = ok && ($1 - w / 2) ^ 2 <= (0.02 * w) ^ 2 && ($2 - h / 2) ^ 2 <= (0.02 * h) ^ 2 }
    END { exit !(ok && NR == 2) }'
}

# Waits until output $1 shows the pattern at its device size $2; leaves the screenshot at $3.
await_pattern() {
  local name=$1 size=$2 out=$3
  wait_for "shot $name '$out' && shows_pattern '$out' $size" ||
    fail "$name never showed the pattern at $size: $(cat "$WORK/pattern.txt" 2>/dev/null)"
}

# Whether picture $1 has detail at its own pixels: a picture drawn at half the size and
# enlarged (nearest neighbour, as configured) is made of uniform 2x2 blocks, so a copy made of
# one pixel of every block would equal it. At least 2 % of the pixels must differ from it.
sharp_at_device_pixels() {
  local differ
  differ=$(convert "$1" \( +clone -sample 50% -sample 200% \) -compose difference -composite \
    -colorspace Gray -threshold 2% -format '%[fx:mean]' info:)
  echo "$differ" >"$WORK/sharp.txt"
  greater "$differ" 0.02
}

# Whether the share of output $1's pixels in sway's own grey (what it shows where no surface
# is) passes test $2 $3 ("-gt 99": nearly all of them; "-lt 50": fewer than half). The saver
# draws on black, so its pictures hold next to none; the cursor, when there is one, a few.
grey_share() {
  local share
  grim -o "$1" -t ppm "$WORK/grey.ppm" || return 1
  share=$(convert "$WORK/grey.ppm" -fuzz 1% -fill white -opaque '#404040' -fill black +opaque white \
    -colorspace Gray -format '%[fx:round(100 * mean)]' info:) || return 1
  [[ "$share" =~ ^[0-9]+$ ]] && [ "$share" "$2" "$3" ]
}

# Whether every output named shows nothing drawn (nothing there yet, or nothing left).
blank() {
  local name
  for name in "$@"; do grey_share "$name" -gt 99 || return 1; done
}

# Whether every output named shows something drawn over most of it.
drawn() {
  local name
  for name in "$@"; do grey_share "$name" -lt 50 || return 1; done
}

# Waits until output $1 has shown $2 (default 2) pictures that differ from the one before, one
# after another, from now on: the saver draws there, after anything that came before the call.
keeps_drawing() {
  local name=$1 count=${2:-2} i
  grim -o "$name" -t ppm "$WORK/changing-0.ppm" || return 1
  for ((i = 1; i <= count; i++)); do
    wait_for "grim -o $name -t ppm '$WORK/changing-$i.ppm' &&
      ! cmp -s '$WORK/changing-$((i - 1)).ppm' '$WORK/changing-$i.ppm'" || return 1
  done
}

# Starts `nimbrel ARGS...` in the background as SAVER. Its stderr, with the Wayland client
# library's log of every protocol message (WAYLAND_DEBUG), goes to $WORK/saver.log: the tests
# wait on the keyboard events it records there.
start_saver() {
  WAYLAND_DEBUG=client "$NIMBREL" "$@" 2>"$WORK/saver.log" &
  SAVER=$!
  track "$SAVER"
}

# What the saver wrote to stderr besides the protocol log.
saver_stderr() {
  grep -vE '^\[ *[0-9]+\.[0-9]+\] ' "$WORK/saver.log" || true
}

# How many keyboards the saver has seen go: the seat's keyboard capability (bit 2) cleared after
# it was set.
keyboards_gone() {
  awk '/ wl_seat@[0-9]+\.capabilities\(/ {
         c = $0; sub(/.*capabilities\(/, "", c); keyboard = int(c / 2) % 2
         if (had && !keyboard) n++
         had = keyboard
       }
       END { print n + 0 }' "$WORK/saver.log"
}

# How many times a keyboard of the saver's has entered one of its surfaces.
keyboard_enters() {
  grep -cE '^\[ *[0-9]+\.[0-9]+\] wl_keyboard@[0-9]+\.enter\(' "$WORK/saver.log" || true
}

# A key from a keyboard that appears for it and goes at once, as fast as a program can: wtype
# makes a virtual keyboard, loads its keymap, presses and releases the key and ends. The saver
# may take the new keyboard up after the key (it never sees the key), while the key is down
# (the key is in the keyboard's enter event, before or after a keymap), or before it; it must
# survive each. Returns once the saver has ended or seen the keyboard go.
quick_key() {
  local gone
  gone=$(keyboards_gone)
  wtype -k "${1:-space}" || fail "wtype failed"
  wait_for "! kill -0 $SAVER || [ \$(keyboards_gone) -gt $gone ]" ||
    fail "the saver never saw wtype's keyboard go"
}

# Types text $1 (default a space) from a keyboard that the saver has taken up first: wtype makes
# a virtual keyboard and reads the text from a pipe; once the keyboard has entered a surface of
# the saver's, the text is written, for which wtype loads a new keymap and types it.
patient_key() {
  local text=${1:- } fifo="$WORK/keys" enters typer fd
  enters=$(keyboard_enters)
  rm -f "$fifo"
  mkfifo "$fifo"
  wtype - <"$fifo" &
  typer=$!
  track "$typer"
  exec {fd}>"$fifo"
  wait_for "! kill -0 $SAVER || [ \$(keyboard_enters) -gt $enters ]" ||
    fail "the saver never took up the new keyboard"
  printf '%s' "$text" >&"$fd"
  exec {fd}>&-
  wait "$typer" || fail "wtype failed"
}

# Ends the saver with a key from a new keyboard, as quick_key sends it, and when the saver is
# still there after seeing that keyboard go, with a patient key. It must end with status 0.
# Counts the runs that the quick key ended in QUICK_ENDS.
QUICK_ENDS=0
end_with_key() {
  quick_key
  if kill -0 "$SAVER" 2>/dev/null; then
    patient_key
  else
    QUICK_ENDS=$((QUICK_ENDS + 1))
  fi
  ended_with 0 "$SAVER" 30
}

# --- a pointer ------------------------------------------------------------------------------
# A virtual pointer device (nimbrel_virtual_pointer) that lives until stop_pointer; the seat has
# a pointer from start_pointer on.
start_pointer() {
  local line=""
  coproc POINTER { exec "$NIMBREL_BUILD/tests/integration/nimbrel_virtual_pointer"; }
  track "$POINTER_PID"
  read -r -t 60 line <&"${POINTER[0]}" || true
  [ "$line" = ready ] || fail "no virtual pointer"
}

# Sends pointer command $* ("move DX DY", "click") and waits until the compositor has handled it.
pointer() {
  local reply=""
  echo "$*" >&"${POINTER[1]}"
  read -r -t 60 reply <&"${POINTER[0]}" || true
  [ "$reply" = ok ] || fail "the virtual pointer did not do '$*'"
}

stop_pointer() {
  local pid=$POINTER_PID
  exec {POINTER[1]}>&-
  wait "$pid" || true
}

# How many protocol messages of kind $1 (such as wl_pointer.enter, wl_seat.get_pointer) the
# saver has logged.
saver_logged() {
  local interface=${1%%.*} message=${1#*.}
  grep -cE "^\[ *[0-9]+\.[0-9]+\] ( -> )?$interface@[0-9]+\.$message\(" "$WORK/saver.log" || true
}

# Moves the pointer until the saver has it over one of its surfaces: once the saver has asked
# for the seat's pointer, a move of one pixel, then a wait for the pointer's enter event.
point_at_saver() {
  wait_for "[ \$(saver_logged wl_seat.get_pointer) -gt 0 ]" || fail "the saver never took up the pointer"
  pointer move 1 1
  wait_for "[ \$(saver_logged wl_pointer.enter) -gt 0 ]" || fail "the pointer never entered the saver"
}
