#!/usr/bin/env bash
# The saver under a Wayland compositor: headless sway with HEADLESS-1 (1280x720) and HEADLESS-2
# (1024x768 at scale 2), no keyboard or pointer at the start. Full screen and --layer overlay
# show a view on each output at its own size, sharp at device pixels at scale 2, and a key from
# a keyboard that appears afterwards ends them with status 0, run after run, even when the key
# is over before the saver can ask for the keyboard (the saver stopped meanwhile). The overlay
# outlives keyboards and keymaps that come and go (stopped or not) and a nudge of the pointer,
# ends on a move, a click, SIGTERM and SIGINT, and swayidle starts it. --layer background is a wallpaper that no
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
# A compositor without layer-shell: sway, its layer-shell global hidden from the saver.
export NIMBREL_HIDE_GLOBALS=zwlr_layer_shell_v1
for layer in overlay background; do
  LD_PRELOAD=$PROBES/libnimbrel_hide_globals.so expect_end 1 --layer $layer
  grep -qi 'layer' "$WORK/err" || fail "--layer $layer: the line does not say what is missing"
done
# Full screen needs only one of the two: it shows on both outputs and a key ends it, without
# layer-shell and, as an overlay, without xdg_wm_base.
for NIMBREL_HIDE_GLOBALS in zwlr_layer_shell_v1 xdg_wm_base; do
  LD_PRELOAD=$PROBES/libnimbrel_hide_globals.so start_saver --seed 4
  wait_for "drawn HEADLESS-1 HEADLESS-2" ||
    fail "no full screen on both outputs without $NIMBREL_HIDE_GLOBALS"
  end_with_key
done
unset NIMBREL_HIDE_GLOBALS

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
for mode in full-screen overlay; do
  args=()
  [ $mode = full-screen ] || args=(--layer overlay)
  for run in 1 2 3 4 5 6; do
    start_on_both $mode "${args[@]}" --seed $run
    if [ $run -le 3 ]; then end_with_key; else end_with_key stopped; fi
  done
done

# Keyboards that come and go without a key, each with a keymap of its own (wtype loads one of
# the keys it types; for none, an empty one), then a key typed from a Cyrillic keymap loaded
# onto a keyboard that the overlay already has.
start_on_both overlay --layer overlay --seed 21
for i in 1 2 3 4; do
  gone=$(keyboards_gone)
  [ $i -le 2 ] || kill -STOP "$saver"
  wtype -s 1 || fail "wtype failed"
  [ $i -le 2 ] || kill -CONT "$saver"
  wait_for "! kill -0 $saver || [ \$(keyboards_gone) -gt $gone ]" || fail "the overlay missed keyboard $i"
done
kill -0 "$saver" 2>/dev/null || fail "a keyboard that came and went without a key ended the overlay"
patient_key ж
ended_cleanly

# A nudge of the pointer, there and back, leaves the overlay; a move further ends it, and so
# does a click.
start_probe "$PROBES/nimbrel_virtual_pointer"
pointer_probe=$PROBE_PID
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
start_on_both overlay --layer overlay --seed 23
point_at_saver
click_pointer
ended_cleanly

for signal in TERM INT; do
  start_on_both overlay --layer overlay --seed 24
  ended_cleanly $signal
done

# --- the wallpaper --------------------------------------------------------------------------------
# Keys from keyboards that come and go, one with a Cyrillic keymap, a pointer moved and clicked
# over both outputs: it takes none of them and draws on; SIGTERM ends it, and its picture goes.
start_on_both background --layer background --seed 7
wtype -k Escape || fail "wtype failed"
printf 'жx' | wtype - || fail "wtype failed"
pointer move 300 200
click_pointer
pointer move 1000 100
click_pointer
kill "$pointer_probe"
keeps_drawing HEADLESS-1 && keeps_drawing HEADLESS-2 || fail "the wallpaper stopped drawing after input"
ended_cleanly TERM

# --- swayidle: after a second without input, the overlay; a key ends it -------------------------
recording_saver "$WORK/idle-saver" idle env WAYLAND_DEBUG=client "$NIMBREL" --layer overlay --seed 3
ln -sf "$WORK/idle/stderr" "$WORK/saver.log"
swayidle -w timeout 1 "$WORK/idle-saver" 2>"$WORK/swayidle.log" &
track $!
wait_for "[ -s '$WORK/idle/pid' ]" || fail "swayidle did not start the overlay: $(<"$WORK/swayidle.log")"
saver=$(cat "$WORK/idle/pid")
wait_for "drawn HEADLESS-1 HEADLESS-2" || fail "the overlay from swayidle did not show on both outputs"
quick_key
recorded_clean_end idle
echo PASS
