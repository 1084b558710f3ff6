#!/usr/bin/env bash
# `nimbrel render` against the outputs only the whole program meets: standard output, pipes,
# FIFOs, a stream failing after files were written, stop signals, a terminal, too little memory
# (files, links, directories and devices: RenderTest.cpp). A run that fails or is stopped ends
# with one line and a non-zero status, and leaves old files untouched and no temporary file.
source "$(dirname "$0")/lib.sh"
write_prefs

RENDER=("$NIMBREL" render --size 64x48 --frames 3 --seed 1)
D="$SCRATCH/out"
asan=0
linked=$(nm -D "$NIMBREL" 2>/dev/null || true; ldd "$NIMBREL" 2>/dev/null || true)
case $linked in *__asan_init* | *libasan*) asan=1 ;; esac

# fresh: an output directory with files that must survive every failed run.
fresh() {
  rm -rf "$D"
  mkdir -p "$D"
  echo before >"$D/old.png"
  echo before >"$D/old.jsonl"
}
is_png() { [ "$(head -c 4 "$1" | tail -c 3)" = PNG ]; }
left_over() { find "$D" -name '.nimbrel-*' | head -n 1; }
# check_error WHAT WORD STATUS [WANT]: status WANT (1), one line containing WORD, the old files
# as they were, no temporary file.
check_error() {
  local what=$1 word=$2 status=$3 want=${4:-1}
  [ "$status" -eq "$want" ] || fail "$what: status $status, expected $want"
  [ "$(wc -l <"$SCRATCH/err")" -eq 1 ] && grep -q -- "$word" "$SCRATCH/err" ||
    fail "$what: expected one line about '$word', got: $(cat "$SCRATCH/err")"
  [ "$(cat "$D/old.png")" = before ] && [ "$(cat "$D/old.jsonl")" = before ] ||
    fail "$what changed a file that was there before"
  [ -z "$(left_over)" ] || fail "$what left $(left_over)"
}
expect_error() {
  local what=$1 word=$2 status=0
  shift 2
  "${RENDER[@]}" "$@" 2>"$SCRATCH/err" || status=$?
  check_error "$what" "$word" "$status"
}

fresh  # a stream or the picture failing after the other outputs were written
expect_error "full device for the video" "No space left" -o "$D/old.png" --trace "$D/old.jsonl" \
  --y4m /dev/full
expect_error "full device for the picture" "No space left" -o /dev/full --trace "$D/old.jsonl"

# Standard output twice, as "-" and /dev/stdout, to a file or a pipe: refused before writing.
status=0
"${RENDER[@]}" -o "$D/old.png" --trace /dev/stdout --y4m - >"$D/stdout.out" 2>"$SCRATCH/err" ||
  status=$?
check_error "standard output twice" "same file" "$status"
status=0
"${RENDER[@]}" -o - --y4m - 2>"$SCRATCH/err" | cat >/dev/null || status=${PIPESTATUS[0]}
check_error "standard output twice through a pipe" "same file" "$status"
# Standard output closed: "-" is refused before anything is opened.
status=0
"${RENDER[@]}" -o "$D/new.png" --trace "$D/new.jsonl" --y4m - >&- 2>"$SCRATCH/err" || status=$?
check_error "closed standard output" "closed" "$status"
[ ! -e "$D/new.png" ] && [ ! -e "$D/new.jsonl" ] || fail "a run on a closed stdout made files"
# On a terminal a picture or a video is refused before anything is drawn, by any of its names.
if command -v script >/dev/null; then
  for name in - /dev/fd/1 /proc/self/fd/1; do
    status=0
    script -qec "${RENDER[*]} -o $D/new.png --y4m $name" /dev/null >"$SCRATCH/err" 2>&1 ||
      status=$?
    tr -d '\r' <"$SCRATCH/err" >"$SCRATCH/tty" && mv "$SCRATCH/tty" "$SCRATCH/err"
    check_error "video on a terminal as $name" "terminal" "$status" 2
  done
fi

# FIFOs, pipes and /dev/stdout are written through, never replaced.
mkfifo "$D/fifo"
cat "$D/fifo" >"$D/from-fifo" &
reader=$!
"${RENDER[@]}" -o "$D/fifo" || fail "FIFO: status $?"
wait "$reader"
[ -p "$D/fifo" ] && is_png "$D/from-fifo" || fail "no picture came through the FIFO"
"${RENDER[@]}" -o /dev/stdout >"$D/stdout.png" || fail "/dev/stdout: status $?"
is_png "$D/stdout.png" || fail "no picture came through /dev/stdout"
status=0
"${RENDER[@]}" -o - | cat >"$D/piped.png" || status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] && is_png "$D/piped.png" || fail "no picture came through a pipe ($status)"
# A reader that goes away: one line and status 1, whether SIGPIPE is ignored or not; the trace
# is not kept. The video is far larger than a pipe holds, so the reader leaves first.
for sigpipe in ignored default; do
  status=0
  (
    [ "$sigpipe" = default ] || trap '' PIPE
    "$NIMBREL" render --size 640x480 --frames 20 --seed 1 -o "$D/old.png" \
      --trace "$D/old.jsonl" --y4m - 2>"$SCRATCH/err" | head -c 1 >/dev/null
    exit "${PIPESTATUS[0]}"
  ) || status=$?
  check_error "closed pipe, SIGPIPE $sigpipe" "Broken pipe" "$status"
done


# SIGTERM or SIGINT once the video has begun to come through its FIFO: status 128 + N, one
# line, the trace ending on a whole frame, the old picture kept, nothing else written.
for signal in TERM INT; do
  fresh
  mkfifo "$D/video"
  "$NIMBREL" render --size 64x48 --frames 100000000 --seed 1 -o "$D/old.png" \
    --trace "$D/stop.jsonl" --y4m "$D/video" 2>"$SCRATCH/err" &
  pid=$!
  { head -c 1 >/dev/null && kill -"$signal" "$pid" && cat >/dev/null; } <"$D/video"
  status=0
  wait "$pid" || status=$?
  check_error "SIG$signal" "stopped by" "$status" $((128 + $(kill -l "$signal")))
  tail -n 1 "$D/stop.jsonl" | grep -q '^{.*}$' || fail "SIG$signal: trace cut mid-line"
  [ "$(ls "$D")" = "$(printf 'old.jsonl\nold.png\nstop.jsonl\nvideo')" ] || fail "SIG$signal: $(ls "$D")"
done

# A stop signal while a FIFO waits for its reader: the open gives up, the files already made
# are removed. It waits there once the files before the video are made and it sleeps.
mkfifo "$D/lonely"
"${RENDER[@]}" -o "$D/new.png" --trace "$D/new.jsonl" --y4m "$D/lonely" 2>"$SCRATCH/err" &
pid=$!
until [ -n "$(left_over)" ] && [ "$(cut -d ' ' -f 3 "/proc/$pid/stat" 2>/dev/null)" = S ]; do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
check_error "SIGTERM in open" "stopped by" "$status" 143
[ ! -e "$D/new.png" ] && [ ! -e "$D/new.jsonl" ] || fail "SIGTERM in open left files"

# Out of memory: one line and status 1, no file left. 1.25 GiB holds the 1 GiB canvas or the
# 0.4 GiB video planes, not both. AddressSanitizer reserves terabytes: no limit there.
if [ "$asan" -eq 0 ]; then
  fresh
  status=0
  (ulimit -v 1310720 && exec "$NIMBREL" render --size 16384x16384 --frames 1 --seed 1 --preview \
    -o "$D/big.png" --y4m "$D/big.y4m") 2>"$SCRATCH/err" || status=$?
  check_error "memory limit" "memory\|canvas" "$status"
  [ ! -e "$D/big.png" ] && [ ! -e "$D/big.y4m" ] || fail "memory limit left a file"
fi

finish
