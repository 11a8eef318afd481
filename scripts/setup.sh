#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need.
# Safe to run again: only missing packages are installed.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev qt6-base-dev-tools
  qtbase5-dev qtbase5-dev-tools qtbase5-private-dev
  qt6-wayland qtwayland5 libwayland-dev wayland-protocols sway
  gnome-shell kwin-wayland kwin-style-breeze xwayland
  libgl-dev libfontconfig-dev libxcb1-dev
  fonts-ipafont-gothic
  xvfb xdotool x11-utils wmctrl openbox imagemagick python3
  python3-xlib
  desktop-file-utils appstream
  debhelper lintian
  acl exfat-fuse exfatprogs
  clang libclang-rt-14-dev
  python3-pyatspi syncthing
  adwaita-qt adwaita-qt6 x11-xserver-utils
  at-spi2-core dbus
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
