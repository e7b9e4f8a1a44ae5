#!/usr/bin/env bash
# Installs what the build, the tests and the demo need and is not there yet: Debian packages
# (as root, on Debian 12) and the npm packages of package-lock.json. Safe to run again.
# `setup.sh tests` adds what only the tests use: fonts for texts in other scripts, Pango's own
# renderer to compare the bar's texts with, wmctrl to maximise a shared window, the
# compositors of common desktops with the session bus two of them need, sway with XWayland,
# grim and foot, weston (a compositor without the layer shell), and the accessibility bus with a
# screen reader's view of it.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(
  g++ make python3 pkg-config cmake libgtest-dev
  libx11-dev libxrandr-dev libxext-dev libxft-dev libxcursor-dev liblodepng-dev
  libpango1.0-dev libfribidi-dev libglib2.0-dev
  libwayland-dev libwayland-bin wayland-protocols libcairo2-dev libxkbcommon-dev
  fonts-cantarell
  xvfb xserver-xorg-core xserver-xorg-video-dummy openbox
  xdotool x11-utils x11-xserver-utils imagemagick libxres-dev xrestop
)
[ "${1:-}" = tests ] && packages+=(fonts-noto-core fonts-noto-cjk pango1.0-tools wmctrl
  mutter kwin-x11 picom dbus at-spi2-core python3-pyatspi
  sway xwayland grim foot weston)
command -v node >/dev/null 2>&1 || packages+=(nodejs npm libnode-dev)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# npm packages, without running our own install script (the build is a step of its own).
if [ ! -d node_modules ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  echo "setup: installing npm packages"
  npm ci --ignore-scripts --no-audit --no-fund --loglevel=error
fi
