#!/usr/bin/env bash
# A stop signal is always a stop, and no run reports what it did not do: every stop signal at
# every place `nimbrel render` can wait (a FIFO without a reader, a reader that stopped reading,
# for each output and for standard output) ends the run with 128 + N, one line, the old files
# as they were and no temporary file; a file size limit is one line and status 1; help and the
# version that cannot be written fail; a Wayland compositor or an X server that never answers
# neither holds the saver against SIGTERM nor keeps it waiting for ever.
source "$(dirname "$0")/lib.sh"
write_prefs

D="$SCRATCH/out"
mkdir -p "$D"
echo before >"$D/old.png"
# The system calls a run waits in: poll (a write that would block), write, and the open of a
# FIFO; by number, as /proc/PID/syscall gives them.
case $(uname -m) in
  x86_64) waits=" 7 1 257 " ;;
  aarch64) waits=" 73 64 56 " ;;
  *) waits="" ;;
esac
# wait_blocked PID: until the program waits in one of those calls (a bounded safety net).
wait_blocked() {
  local call
  for ((i = 0; i < 1200; i++)); do
    kill -0 "$1" 2>/dev/null || return 0
    call=$(cut -d ' ' -f 1 "/proc/$1/syscall" 2>/dev/null || true)
    [ "$(cut -d ' ' -f 3 "/proc/$1/stat" 2>/dev/null)" = S ] &&
      { [ -z "$waits" ] || [[ $waits == *" $call "* ]]; } && return 0
    sleep 0.05
  done
}
# wait_gone PID: its status in $status; 137 when it was still there after a minute (killed).
wait_gone() {
  for ((i = 0; i < 1200; i++)); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.05
  done
  kill -0 "$1" 2>/dev/null && kill -KILL "$1"
  status=0
  wait "$1" || status=$?
}
# check_end WHAT STATUS WANT WORD: status WANT, one line about WORD, the old picture kept, no
# temporary file.
check_end() {
  local what=$1 status=$2 want=$3 word=$4
  [ "$status" -eq "$want" ] || fail "$what: status $status, expected $want"
  [ "$(wc -l <"$SCRATCH/err")" -eq 1 ] && grep -q -- "$word" "$SCRATCH/err" ||
    fail "$what: expected one line about '$word', got: $(head -c 300 "$SCRATCH/err")"
  [ "$(cat "$D/old.png")" = before ] || fail "$what replaced the old picture"
  [ -z "$(find "$D" -name '.nimbrel-*')" ] || fail "$what left $(find "$D" -name '.nimbrel-*')"
}

# Where a run waits: WAIT|ARGS. "open": the FIFO gets no reader; "write": a reader that
# opened it and never reads. The picture waits only at the end, so it is large and the run short.
many="--size 320x240 --frames 100000000"
points=(
  "open|-o $D/old.png --y4m $D/fifo $many"
  "write|-o $D/old.png --y4m $D/fifo $many"
  "write|-o $D/old.png --trace $D/fifo $many"
  "write|-o $D/fifo --size 1024x768 --frames 60"
  "write|-o $D/old.png --y4m - $many --stdout"
)
for signal in TERM INT HUP USR2 ALRM; do
  for point in "${points[@]}"; do
    wait=${point%%|*}
    read -r -a args <<<"${point#*|}"
    what="SIG$signal, $wait: ${args[*]}"
    rm -f "$D/fifo" "$D"/new.*
    mkfifo "$D/fifo"
    out=/dev/null
    if [ "${args[-1]}" = --stdout ]; then unset 'args[-1]' && out="$D/fifo"; fi
    "$NIMBREL" render --seed 1 "${args[@]}" >"$out" 2>"$SCRATCH/err" &
    pid=$!
    [ "$wait" = open ] || exec 3<"$D/fifo"
    wait_blocked "$pid"
    kill -"$signal" "$pid"
    wait_gone "$pid"
    [ "$wait" = open ] || exec 3<&-
    check_end "$what" "$status" $((128 + $(kill -l "$signal"))) "stopped by"
  done
done

# A file size limit: the write fails (EFBIG) and says so, instead of SIGXFSZ killing the run.
status=0
(ulimit -f 1 && exec "$NIMBREL" render --seed 1 --size 320x240 --frames 3 -o "$D/new.png" \
  --trace "$D/new.jsonl") 2>"$SCRATCH/err" || status=$?
check_end "file size limit" "$status" 1 "File too large"
[ ! -e "$D/new.png" ] && [ ! -e "$D/new.jsonl" ] || fail "file size limit left an output"

# Help and the version on a standard output that takes nothing: status 1 and one line.
programs=("$NIMBREL" "$NIMBREL render")
SETTINGS="$NIMBREL_BUILD/programs/nimbrel-settings/nimbrel-settings"
[ -x "$SETTINGS" ] && programs+=("$SETTINGS")  # a sanitizer build may leave it out
for program in "${programs[@]}"; do
  for option in --help --version; do
    for out in full closed; do
      status=0
      if [ "$out" = full ]; then
        $program "$option" >/dev/full 2>"$SCRATCH/err" || status=$?
      else
        $program "$option" >&- 2>"$SCRATCH/err" || status=$?
      fi
      [ "$status" -eq 1 ] && [ "$(wc -l <"$SCRATCH/err")" -eq 1 ] ||
        fail "${program##*/} $option, $out stdout: status $status: $(head -c 300 "$SCRATCH/err")"
    done
  done
done

# A Wayland socket, and an X display's, that accept and never answer: SIGTERM ends the saver
# at once with status 0, and left alone it gives up after ten seconds with one line.
if command -v python3 >/dev/null; then
  export XDG_RUNTIME_DIR="$SCRATCH/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  for ((n = 97; ; n++)); do
    [ -e "/tmp/.X11-unix/X$n" ] || grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix || break
  done
  # The X one is abstract, where Xlib looks first: nothing is made in /tmp/.X11-unix.
  python3 -c '
import socket, sys, threading
def serve(address):
    s = socket.socket(socket.AF_UNIX)
    s.bind(address)
    s.listen(8)
    held = []
    while True:
        held.append(s.accept()[0])
        open(sys.argv[1], "a").write("accepted\n")
for address in sys.argv[2:]:
    threading.Thread(target=serve, args=(address.replace("@", "\0", 1),)).start()
' "$SCRATCH/accepted" "$SCRATCH/wayland-silent" "@/tmp/.X11-unix/X$n" &
  listener=$!
  trap 'kill "$listener"; rm -rf "$SCRATCH"' EXIT
  until [ -S "$SCRATCH/wayland-silent" ]; do sleep 0.05; done
  for run in "WAYLAND_DISPLAY=$SCRATCH/wayland-silent --layer overlay" \
    "WAYLAND_DISPLAY=$SCRATCH/wayland-silent" "DISPLAY=:$n --window"; do
    : >"$SCRATCH/accepted"
    read -r -a args <<<"$run"
    env -u DISPLAY -u WAYLAND_DISPLAY "${args[@]:0:1}" "$NIMBREL" "${args[@]:1}" >/dev/null \
      2>"$SCRATCH/err" </dev/null &
    pid=$!
    until [ -s "$SCRATCH/accepted" ] || ! kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
    wait_blocked "$pid"
    kill -TERM "$pid"
    wait_gone "$pid"
    [ "$status" -eq 0 ] && [ ! -s "$SCRATCH/err" ] ||
      fail "silent server, SIGTERM, $run: status $status: $(cat "$SCRATCH/err")"
  done
  for run in "WAYLAND_DISPLAY=$SCRATCH/wayland-silent --layer overlay" "DISPLAY=:$n --window"; do
    read -r -a args <<<"$run"
    status=0
    env -u DISPLAY -u WAYLAND_DISPLAY "${args[@]:0:1}" timeout 60 "$NIMBREL" "${args[@]:1}" \
      2>"$SCRATCH/err" </dev/null || status=$?
    [ "$status" -eq 1 ] && [ "$(wc -l <"$SCRATCH/err")" -eq 1 ] && grep -q "did not answer" \
      "$SCRATCH/err" || fail "silent server, $run: status $status: $(cat "$SCRATCH/err")"
  done
fi

# An X server that stops answering mid-run (SIGSTOP) holds neither a window nor full screen
# against SIGTERM: the saver ends with status 0 while the server is still stopped.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  mkfifo "$SCRATCH/displayfd"
  # Nothing of CTest's: a server left behind would hold its output open. -noreset: without it
  # the server resets whenever its last client leaves (each xdotool below), and a saver
  # connecting just then is turned away.
  Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$SCRATCH/displayfd" \
    >/dev/null 2>&1 &
  xvfb=$!
  read -r -t 60 number <"$SCRATCH/displayfd" || fail "Xvfb did not start"
  for args in "--window 320x240" ""; do
    DISPLAY=:$number "$NIMBREL" $args 2>"$SCRATCH/err" &
    pid=$!
    for ((i = 0; i < 1200; i++)); do
      DISPLAY=:$number xdotool search --name '^Nimbrel$' >/dev/null 2>&1 && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill -STOP "$xvfb"
    kill -TERM "$pid" 2>/dev/null || true
    wait_gone "$pid"
    kill -CONT "$xvfb"
    [ "$status" -eq 0 ] && [ ! -s "$SCRATCH/err" ] ||
      fail "stopped X server, SIGTERM, nimbrel $args: status $status: $(head -c 2000 "$SCRATCH/err")"
  done
  kill "$xvfb"
  wait "$xvfb" || true
fi

finish
