#!/usr/bin/env bash
# The saver built with AddressSanitizer, in a window and full screen, ended by SIGTERM: status 0
# and nothing on stderr. A leak report (our own, or a library's missing from tests/lsan.supp)
# would end it with a failure instead. Skipped when there is no sanitizer build (`make asan`).
source "$(dirname "$0")/lib.sh"

# ldd's whole output first: with pipefail, grep -q quitting early could fail the pipe.
is_asan() { [ -x "$1" ] && [[ $(ldd "$1" 2>/dev/null) == *libasan* ]]; }
nimbrel="$NIMBREL_BUILD/programs/nimbrel/nimbrel"
if ! is_asan "$nimbrel"; then
  nimbrel="${NIMBREL_ASAN_BUILD:-$NIMBREL_SOURCE/build-asan}/programs/nimbrel/nimbrel"
fi
if ! is_asan "$nimbrel"; then
  echo "SKIP: no saver built with AddressSanitizer (make asan)"
  exit 77
fi

# As the Makefile's sanitizer runs set them.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS="suppressions=$NIMBREL_SOURCE/tests/lsan.supp:print_suppressions=0"
export XDG_CONFIG_HOME="$WORK/config"
start_xvfb 800x600x24

for mode in "--window 320x240" ""; do
  # shellcheck disable=SC2086  # the mode is two words or none on purpose
  "$nimbrel" $mode --seed 5 2>"$WORK/err" &
  saver=$!
  track "$saver"
  timeout 120 xdotool search --sync --name '^Nimbrel$' >/dev/null ||
    fail "[$mode] no Nimbrel window appeared: $(head -c 2000 "$WORK/err")"
  kill -0 "$saver" 2>/dev/null || fail "[$mode] saver ended by itself: $(head -c 2000 "$WORK/err")"
  ended_cleanly TERM "$WORK/err" 120
  echo "[$mode] ended cleanly under AddressSanitizer"
done
echo "PASS"
