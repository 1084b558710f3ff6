#!/usr/bin/env bash
# The saver built with AddressSanitizer (`make asan`), in a window and full screen, ended by
# SIGTERM: status 0 and nothing on stderr, where a leak report would fail it (third-party leaks
# are listed in tests/lsan.supp). Skipped without that build.
source "$(dirname "$0")/lib.sh"

# ldd's whole output first: with pipefail, grep -q quitting early could fail the pipe.
is_asan() { [ -x "$1" ] && [[ $(ldd "$1" 2>/dev/null) == *libasan* ]]; }
is_asan "$NIMBREL" || NIMBREL=${NIMBREL_ASAN_BUILD:-$NIMBREL_SOURCE/build-asan}/programs/nimbrel/nimbrel
is_asan "$NIMBREL" || { echo "SKIP: no saver built with AddressSanitizer (make asan)" && exit 77; }
# As the Makefile's sanitizer runs set them.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export LSAN_OPTIONS="suppressions=$NIMBREL_SOURCE/tests/lsan.supp:print_suppressions=0"
use_x

for mode in "--window 320x240" ""; do
  # shellcheck disable=SC2086  # the mode is two words or none on purpose
  start_saver $mode --seed 5
  ended_cleanly TERM
  echo "[$mode] ended cleanly under AddressSanitizer"
done
