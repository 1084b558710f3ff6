#!/usr/bin/env bash
# Installs the Debian packages that building and running need, when any is missing; with
# --test also those that only the tests need (`make test`), which `make install` leaves out.
# Runs apt-get as root, or through sudo for an ordinary user.
set -euo pipefail

packages=(
  build-essential cmake pkg-config debhelper gettext
  libcairo2-dev libglib2.0-dev libpango1.0-dev libsdl2-dev libx11-dev libxext-dev libxrandr-dev libxinerama-dev libgtk-4-dev
  libcli11-dev
  libwayland-dev wayland-protocols libwayland-bin
  fontconfig fonts-dejavu-core gettext locales
)

test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev libxdamage-dev
  xvfb xauth x11-apps x11-utils xdotool imagemagick xscreensaver xscreensaver-data xsecurelock dbus-daemon
  xserver-xorg-core xserver-xorg-video-dummy x11-xserver-utils
  clang libclang-rt-14-dev clang-format clang-tidy time
  lintian autopkgtest file desktop-file-utils appstream appstream-util libxml2-utils man-db
  python3 ninja-build
  sway grim wtype swayidle jq util-linux
  at-spi2-core python3-pyatspi gir1.2-atspi-2.0
)

case "${1:-}" in
  --test) packages+=("${test_packages[@]}") ;;
  "") ;;
  *) echo "usage: $0 [--test]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = installed ] || missing+=("$p")
done

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The languages of po/ as the programs and the tests run in them; a desktop machine has its
# own locales already, a fresh build machine often only C.UTF-8.
for locale in de_DE fr_FR; do
  locale -a | grep -qix "$locale.utf-\?8" && continue
  echo "Making the locale $locale.UTF-8" >&2
  "${sudo[@]}" localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
done
