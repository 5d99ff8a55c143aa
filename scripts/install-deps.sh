#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the build, the program and the tests need.
# Idempotent: apt runs only when a package is missing.
set -eu

PACKAGES=(
  cmake g++ make pkg-config
  libwxgtk3.2-dev libwxgtk-media3.2-dev libgtk-3-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libtag1-dev zlib1g-dev
  gettext po4a wx3.2-i18n
  xvfb xauth xdotool imagemagick x11-utils fonts-dejavu-core adwaita-icon-theme openbox
  dbus-daemon at-spi2-core libatspi2.0-dev
  desktop-file-utils appstream dpkg-dev file lintian
  clang libclang-rt-14-dev
  fuse3 libfuse3-dev exfat-fuse exfatprogs fusefat dosfstools ntfs-3g
  openssh-server openssh-client sshfs
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
