#!/usr/bin/env bash
# Starts the saver in a window when there is a display; otherwise renders a demo picture.
set -euo pipefail
build=${1:-build}
nimbrel="$build/hosts/saver/nimbrel"
out="$build/nimbrel-demo.png"
echo "No display: rendering a demo picture headless." >&2
"$nimbrel" render --seed 1 --frames 300 -o "$out"
echo "Demo picture: $(realpath "$out")"
