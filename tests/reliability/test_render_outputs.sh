#!/usr/bin/env bash
# `nimbrel render` against every kind of output target. A run that succeeds replaces regular
# files and writes through devices, FIFOs and standard output; one that fails or is stopped
# ends with one line and a non-zero status, leaves every file that was there before untouched
# and no temporary file behind.
source "$(dirname "$0")/lib.sh"
write_prefs

RENDER=("$NIMBREL" render --size 64x48 --frames 3 --seed 1)
D="$SCRATCH/out"
# Read whole before matching: `grep -q` leaving a pipe early kills the writer with SIGPIPE, which
# pipefail turns into "no match" now and then.
asan=0
linked=$(nm -D "$NIMBREL" 2>/dev/null || true; ldd "$NIMBREL" 2>/dev/null || true)
case $linked in *__asan_init* | *libasan*) asan=1 ;; esac

# fresh: an empty output directory, with a file that must survive every failed run.
fresh() {
  rm -rf "$D"
  mkdir -p "$D"
  echo before >"$D/old.png"
  echo before >"$D/old.jsonl"
}

is_png() { [ "$(head -c 4 "$1" | tail -c 3)" = PNG ]; }

# left_over: any temporary file in $D.
left_over() { find "$D" -name '.nimbrel-*' | head -n 1; }

# expect_ok WHAT ARGS...: status 0, nothing on stderr.
expect_ok() {
  local what=$1 status=0
  shift
  "${RENDER[@]}" "$@" 2>"$SCRATCH/err" || status=$?
  [ "$status" -eq 0 ] && [ ! -s "$SCRATCH/err" ] ||
    fail "$what: status $status: $(head -c 300 "$SCRATCH/err")"
  [ -z "$(left_over)" ] || fail "$what left $(left_over)"
}

# expect_error WHAT WORD ARGS...: status 1, one line containing WORD, the old files as they
# were, no temporary file.
expect_error() {
  local what=$1 word=$2 status=0
  shift 2
  "${RENDER[@]}" "$@" 2>"$SCRATCH/err" || status=$?
  check_error "$what" "$word" "$status"
}

check_error() {
  local what=$1 word=$2 status=$3
  [ "$status" -eq 1 ] || fail "$what: status $status, expected 1"
  [ "$(wc -l <"$SCRATCH/err")" -eq 1 ] && grep -q -- "$word" "$SCRATCH/err" ||
    fail "$what: expected one line about '$word', got: $(cat "$SCRATCH/err")"
  [ "$(cat "$D/old.png")" = before ] && [ "$(cat "$D/old.jsonl")" = before ] ||
    fail "$what changed a file that was there before"
  [ -z "$(left_over)" ] || fail "$what left $(left_over)"
}

# Regular files: replaced on success, with the mode the umask gives (not the old file's).
fresh
chmod 600 "$D/old.png"
umask 022
expect_ok "replace" -o "$D/old.png" --trace "$D/old.jsonl"
is_png "$D/old.png" || fail "the old picture was not replaced"
head -n 1 "$D/old.jsonl" | grep -q '^{"frame":0' || fail "the old trace was not replaced"
[ "$(stat -c %a "$D/old.png")" = 644 ] || fail "umask 022 gave $(stat -c %a "$D/old.png")"
umask 077
expect_ok "umask 077" -o "$D/private.png"
umask 022
[ "$(stat -c %a "$D/private.png")" = 600 ] || fail "umask 077 gave $(stat -c %a "$D/private.png")"

# A failure at any point leaves the old files as they were: an output that cannot be made,
# a write that fails after others were written, a directory, a socket-free but odd name.
fresh
expect_error "missing directory" "No such file" -o "$D/old.png" --trace "$D/old.jsonl" \
  --y4m "$D/no/such/dir.y4m"
expect_error "full device" "No space left" -o "$D/old.png" --trace "$D/old.jsonl" --y4m /dev/full
expect_error "full device for the picture" "No space left" -o /dev/full --trace "$D/old.jsonl"
expect_error "directory" "directory" -o "$D" --trace "$D/old.jsonl"
expect_error "directory name" "directory" -o "$D/new/" --trace "$D/old.jsonl"
[ -d "$D" ] || fail "the directory target was replaced"
expect_error "name with a newline" "cannot write" -o "$D/no/"$'new\nline'.png
if [ "$(id -u)" -ne 0 ]; then
  mkdir "$D/ro" && chmod 555 "$D/ro"
  expect_error "read-only directory" "Permission denied" -o "$D/ro/x.png"
  chmod 755 "$D/ro"
fi
chmod 444 "$D/old.png"
if [ "$(id -u)" -ne 0 ]; then
  expect_error "read-only file" "Permission denied" -o "$D/old.png"
fi
chmod 644 "$D/old.png"

# Two outputs on one file are refused before anything is written: through a link (the other
# spellings are OutputFiles.EachKindOfTarget's), as "-" and /dev/stdout.
fresh
ln -s old.png "$D/link.png"
expect_error "through a link" "same file" -o "$D/link.png" --trace "$D/old.png"
status=0
"${RENDER[@]}" -o "$D/old.png" --trace /dev/stdout --y4m - >"$D/stdout.out" 2>"$SCRATCH/err" ||
  status=$?
check_error "standard output twice" "same file" "$status"
status=0
"${RENDER[@]}" -o - --y4m - 2>"$SCRATCH/err" | cat >/dev/null || status=${PIPESTATUS[0]}
check_error "standard output twice through a pipe" "same file" "$status"

# Devices and FIFOs are written through, never replaced.
fresh
expect_ok "/dev/null" -o /dev/null --trace /dev/null --y4m /dev/null
[ -c /dev/null ] || fail "/dev/null is no longer a device"
mkfifo "$D/fifo"
cat "$D/fifo" >"$D/from-fifo" &
reader=$!
expect_ok "FIFO" -o "$D/fifo"
wait "$reader"
[ -p "$D/fifo" ] || fail "the FIFO was replaced"
is_png "$D/from-fifo" || fail "no picture came through the FIFO"
expect_ok "/dev/stdout to a file" -o /dev/stdout >"$D/stdout.png"
is_png "$D/stdout.png" || fail "no picture came through /dev/stdout"
status=0
"${RENDER[@]}" -o - | cat >"$D/piped.png" || status=${PIPESTATUS[0]}
[ "$status" -eq 0 ] && is_png "$D/piped.png" || fail "no picture came through a pipe ($status)"
expect_ok "video to a file" -o "$D/a.png" --y4m "$D/video.y4m"
"${RENDER[@]}" -o "$D/b.png" --y4m /dev/stdout | cat >"$D/piped.y4m" || fail "video to a pipe"
cmp -s "$D/video.y4m" "$D/piped.y4m" || fail "the piped video differs from the file"

# A reader that goes away: one line and a non-zero status, whether SIGPIPE is ignored or not;
# the trace is not kept. The video is far larger than a pipe holds, so the reader leaves first.
fresh
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

# Standard output closed: "-" is refused before anything is opened, so nothing else can take
# its place.
fresh
status=0
"${RENDER[@]}" -o "$D/new.png" --trace "$D/new.jsonl" --y4m - >&- 2>"$SCRATCH/err" || status=$?
check_error "closed standard output" "closed" "$status"
[ ! -e "$D/new.png" ] && [ ! -e "$D/new.jsonl" ] || fail "a run on a closed stdout made files"

# Any legal name works.
fresh
long=$(printf 'n%.0s' $(seq 251)).png
pushd "$D" >/dev/null
expect_ok "leading dash" -o ./-x.png --trace "./--trace"
popd >/dev/null
is_png "$D/-x.png" || fail "no picture named -x.png"
[ -s "$D/--trace" ] || fail "no trace named --trace"
for name in "with space.png" $'new\nline.png' "$long"; do
  expect_ok "name '$name'" -o "$D/$name"
  is_png "$D/$name" || fail "no picture named '$name'"
done

# A stop signal: the trace ends on a whole frame, the old picture stays, no picture is written.
# The signal is sent once the video has begun to come through its FIFO.
fresh
mkfifo "$D/video"
"$NIMBREL" render --size 64x48 --frames 100000000 --seed 1 -o "$D/old.png" \
  --trace "$D/stop.jsonl" --y4m "$D/video" 2>"$SCRATCH/err" &
pid=$!
{
  head -c 1 >/dev/null
  kill -TERM "$pid"
  cat >/dev/null
} <"$D/video"
status=0
wait "$pid" || status=$?
[ "$status" -eq 143 ] || fail "SIGTERM: status $status, expected 143"
[ "$(wc -l <"$SCRATCH/err")" -eq 1 ] && grep -q "stopped by" "$SCRATCH/err" ||
  fail "SIGTERM: expected one line, got: $(cat "$SCRATCH/err")"
[ "$(cat "$D/old.png")" = before ] || fail "SIGTERM: the old picture was replaced"
tail -n 1 "$D/stop.jsonl" | grep -q '^{.*}$' || fail "SIGTERM: trace cut mid-line"
[ -z "$(left_over)" ] || fail "SIGTERM left $(left_over)"

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
[ "$status" -eq 143 ] || fail "SIGTERM in open: status $status, expected 143"
[ ! -e "$D/new.png" ] && [ ! -e "$D/new.jsonl" ] && [ -z "$(left_over)" ] ||
  fail "SIGTERM in open left files"

# Out of memory: one line and status 1, no file left. 1.25 GiB holds the 1 GiB canvas or the
# 0.4 GiB video planes of 4:2:0, not both. The address-space limit is meaningless
# under AddressSanitizer, which reserves terabytes.
if [ "$asan" -eq 0 ]; then
  fresh
  status=0
  (
    ulimit -v 1310720
    exec "$NIMBREL" render --size 16384x16384 --frames 1 --seed 1 --preview -o "$D/big.png" \
      --y4m "$D/big.y4m"
  ) 2>"$SCRATCH/err" || status=$?
  check_error "memory limit" "memory\|canvas" "$status"
  [ ! -e "$D/big.png" ] && [ ! -e "$D/big.y4m" ] || fail "memory limit left a file"
fi

finish
