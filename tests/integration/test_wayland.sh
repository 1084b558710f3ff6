#!/usr/bin/env bash
# The saver under a Wayland compositor: headless sway with HEADLESS-1 (1280x720) and HEADLESS-2
# (1024x768 at scale 2), no keyboard or pointer at the start. Full screen and --layer overlay
# show a view on each output at its own size, sharp at device pixels at scale 2, and a key from
# a keyboard that appears afterwards ends them with status 0, run after run. The overlay also
# outlives keyboards and keymaps that come and go and a nudge of the pointer, ends on a move, a
# click, SIGTERM and SIGINT, and swayidle starts it. --layer background is a wallpaper that no
# input ends. Without a compositor, or with one that lacks layer-shell, the layers end with one
# line and status 1.
source "$(dirname "$0")/lib.sh"
use_sway

# --- where the layers cannot be shown -------------------------------------------------------------
(
  unset WAYLAND_DISPLAY DISPLAY
  export XDG_RUNTIME_DIR=$WORK/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  for layer in overlay background; do
    expect_end 1 --layer $layer
    WAYLAND_DISPLAY=wayland-nobody expect_end 1 --layer $layer
  done
)
# sway seen through a filter that hides its layer-shell global, as a compositor without it.
start_probe "$PROBES/nimbrel_wayland_filter" "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" \
  "$WORK/no-layer-shell" zwlr_layer_shell_v1
[ "$PROBE_SAID" = ready ] || fail "the filter did not start"
for layer in overlay background; do
  WAYLAND_DISPLAY=$WORK/no-layer-shell expect_end 1 --layer $layer
  grep -qi 'layer' "$WORK/err" || fail "--layer $layer: the line does not say what is missing"
done
# Everything else passes the filter: full screen shows on both outputs and a key ends it.
WAYLAND_DISPLAY=$WORK/no-layer-shell start_saver --seed 4
wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "no full screen on both outputs through the filter"
end_with_key
wait_for "blank HEADLESS-1 HEADLESS-2" || fail "full screen stayed after it ended"

# --- full screen and the overlay, ended by keys -------------------------------------------------
# Runs the saver with arguments $@ and waits until both outputs show it; the first run of each
# mode (NAME=$1) also checks the pictures.
start_on_both() {
  local name=$1
  shift
  start_saver "$@"
  if [ ! -e "$WORK/$name-2.png" ]; then
    await_pattern HEADLESS-1 1280x720 "$WORK/$name-1.png"
    await_pattern HEADLESS-2 1024x768 "$WORK/$name-2.png"
    sharp_at_device_pixels "$WORK/$name-2.png" ||
      fail "$name: HEADLESS-2 (scale 2) is not drawn at device pixels: $(cat "$WORK/sharp.txt") differ"
  else
    wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "$name: not shown on both outputs"
  fi
}
# The saver's picture goes from both outputs once it has ended.
cleared() { wait_for "blank HEADLESS-1 HEADLESS-2" || fail "$1: the picture stayed after the end"; }

for mode in full-screen overlay; do
  args=()
  [ $mode = full-screen ] || args=(--layer overlay)
  for run in 1 2 3 4 5 6; do
    start_on_both $mode "${args[@]}" --seed $run
    end_with_key
    cleared "$mode run $run"
  done
done
echo "12 runs ended by a key from a new keyboard, $QUICK_ENDS by the quick key"

# Keyboards that come and go without a key, each with a keymap of its own (wtype loads one of
# the keys it types; for none, an empty one), then a key typed from a Cyrillic keymap loaded
# onto a keyboard that the overlay already has.
start_on_both overlay --layer overlay --seed 21
for i in 1 2 3; do
  gone=$(keyboards_gone)
  wtype -s 1 || fail "wtype failed"
  wait_for "! kill -0 $saver || [ \$(keyboards_gone) -gt $gone ]" || fail "the overlay never saw keyboard $i go"
done
kill -0 "$saver" 2>/dev/null || fail "a keyboard that came and went without a key ended the overlay"
patient_key ж
ended_cleanly
cleared "keymaps"

# A nudge of the pointer, there and back, leaves the overlay; a move further ends it, and so
# does a click.
start_pointer
start_on_both overlay --layer overlay --seed 22
point_at_saver
motions=$(saver_logged wl_pointer.motion)
pointer move 3 2
pointer move -3 -2
wait_for "! kill -0 $saver || [ \$(saver_logged wl_pointer.motion) -ge $((motions + 2)) ]" ||
  fail "the overlay never saw the nudge"
keeps_drawing HEADLESS-1 || fail "the overlay stopped drawing after a nudge"
kill -0 "$saver" 2>/dev/null || fail "a 3-pixel nudge of the pointer ended the overlay"
pointer move 80 60
ended_cleanly
cleared "pointer move"
start_on_both overlay --layer overlay --seed 23
point_at_saver
pointer press button1
pointer release button1
ended_cleanly
cleared "click"

for signal in TERM INT; do
  start_on_both overlay --layer overlay --seed 24
  ended_cleanly $signal
  cleared "SIG$signal"
done

# --- the wallpaper --------------------------------------------------------------------------------
# Keys from keyboards that come and go, one with a Cyrillic keymap, a pointer moved and clicked
# over both outputs: it takes none of them and draws on; SIGTERM ends it, and its picture goes.
start_on_both background --layer background --seed 7
wtype -k Escape || fail "wtype failed"
printf 'жx' | wtype - || fail "wtype failed"
pointer move 300 200
pointer press button1
pointer release button1
pointer move 1000 100
pointer press button1
pointer release button1
kill "$POINTER_PID"
keeps_drawing HEADLESS-1 && keeps_drawing HEADLESS-2 || fail "the wallpaper stopped drawing after input"
ended_cleanly TERM
cleared "the wallpaper"

# --- swayidle: after a second without input, the overlay; a key ends it -------------------------
recording_saver "$WORK/idle-saver" idle env WAYLAND_DEBUG=client "$NIMBREL" --layer overlay --seed 3
ln -sf "$WORK/idle/stderr" "$WORK/saver.log"
swayidle -w timeout 1 "$WORK/idle-saver" 2>"$WORK/swayidle.log" &
track $!
wait_for "[ -s '$WORK/idle/pid' ]" || fail "swayidle never started the overlay: $(cat "$WORK/swayidle.log")"
saver=$(cat "$WORK/idle/pid")
wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "the overlay from swayidle did not show on both outputs"
quick_key
! kill -0 "$saver" 2>/dev/null || patient_key
recorded_clean_end idle
echo PASS
