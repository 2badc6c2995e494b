#!/usr/bin/env bash
# Installs the Debian packages the driver needs, configures and builds into build/.
# Safe to run again: apt-get skips what is installed, CMake rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake g++ make pkg-config
  qtbase5-dev libqt5svg5-dev libqt5x11extras5-dev
  libopencv-dev libopencv-contrib-dev
  libusb-1.0-0-dev libevdev-dev libxtst-dev libx11-dev libxcb-keysyms1-dev
  qtbase5-private-dev libxi-dev libglib2.0-dev gsettings-desktop-schemas
  umockdev libumockdev-dev gir1.2-umockdev-1.0
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth trayer x11-utils imagemagick xdotool dbus-daemon dbus-x11
  fonts-dejavu-core fonts-noto-core fonts-noto-cjk fontconfig
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq || true
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build build -j"$(nproc)"
