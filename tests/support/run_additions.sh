# run_additions SAVER ADDITIONS: every line of ADDITIONS (xscreensaver_controls.py's output: a
# control's id, a tab, the words it adds) taken by `SAVER render`, which draws with them, and by
# SAVER --root as XScreenSaver starts it. Without a display that must get as far as looking for
# one (status 1): a refused option would end it with status 2 first. Sets `runs`; the caller's
# `fail` reports.
run_additions() {
  local saver=$1 control words status
  local -a extra render_extra
  runs=0
  while IFS=$'\t' read -r control words; do
    read -ra extra <<<"$words"
    # The frame-rate overlay is the saver's alone: a picture has no frame rate.
    render_extra=()
    for word in "${extra[@]}"; do [ "$word" = --fps ] || render_extra+=("$word"); done
    rm -f "$SCRATCH/out.png"
    status=0
    "$saver" render --seed 7 --size 96x64 --frames 3 -o "$SCRATCH/out.png" "${render_extra[@]}" \
      >/dev/null 2>"$SCRATCH/err" || status=$?
    [ "$status" -eq 0 ] && [ -s "$SCRATCH/out.png" ] ||
      fail "[$control] render $words: status $status: $(head -c 300 "$SCRATCH/err")"
    status=0
    timeout 60 "$saver" --root "${extra[@]}" >/dev/null 2>"$SCRATCH/err" </dev/null || status=$?
    if [ "$status" -ne 1 ] || grep -q -- "--help" "$SCRATCH/err"; then
      fail "[$control] nimbrel --root $words: status $status: $(head -c 300 "$SCRATCH/err")"
    fi
    runs=$((runs + 1))
  done <"$2"
  [ "$runs" -ge 30 ] || fail "only $runs additions to run"
}
