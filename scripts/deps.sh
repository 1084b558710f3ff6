#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, when any is missing.
# Runs apt-get as root, or through sudo for an ordinary user.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libcairo2-dev libpango1.0-dev libsdl2-dev libx11-dev libxext-dev libgtk-4-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fontconfig fonts-dejavu-core
  xvfb xauth x11-apps x11-utils xdotool imagemagick xscreensaver xsecurelock dbus-daemon
  clang libclang-rt-14-dev clang-format clang-tidy time
  libwayland-dev wayland-protocols libwayland-bin
  sway grim wtype swayidle jq util-linux
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}" >&2
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
