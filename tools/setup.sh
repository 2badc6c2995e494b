#!/usr/bin/env bash
# Installs the Debian packages the driver needs, configures and builds into build/.
# Safe to run again: apt-get skips what is installed, CMake rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."

# Each package is here for something in the tree:
packages=(
  cmake g++ make pkg-config                    # the build
  qtbase5-dev                                  # Qt 5 Core, Gui, Widgets, Concurrent, DBus, Test
  libopencv-dev libopencv-contrib-dev          # OpenCV core and imgproc; aruco from contrib
  libusb-1.0-0-dev                             # the libusb backend
  libevdev-dev                                 # the uinput backends
  libxtst-dev libx11-dev                       # the XTest pointer backend
  libxcb1-dev libxcb-keysyms1-dev libqt5x11extras5-dev   # companion link and hot key on X11
  qtbase5-private-dev                          # monitors in the window system's own coordinates
  libxi-dev libglib2.0-dev gsettings-desktop-schemas   # touch mapping: X11 matrix, GNOME output key
  umockdev libumockdev-dev                     # libusb and uinput tests against emulated device nodes
  libgtest-dev libgmock-dev libbenchmark-dev   # tests and benchmarks
  xvfb x11-utils xdotool trayer imagemagick    # process and tray tests: Xvfb, xdpyinfo, clicks, a tray, import
  xauth                                        # xvfb-run (the companion and hot key tests)
  dpkg-dev desktop-file-utils appstream lintian   # the Debian package and tools/package-check.sh
  dbus-daemon                                  # the system event tests' private bus
  clang libclang-rt-14-dev                     # the fuzz targets (libFuzzer) of the test command
  fonts-dejavu-core fonts-noto-core fonts-noto-cjk fontconfig   # language texts without glyph boxes
  libxrandr-dev                                # touch mapping: the X11 matrix turns with its output's CRTC
  mutter                                       # compositor tests: GNOME's DisplayConfig and output key (about 60 s to install)
  kwin-wayland                                 # compositor tests: KWin's outputs and outputName (about 70 s to install)
  xserver-xorg-core xserver-xorg-video-dummy   # compositor tests: a real Xorg with several outputs
  xserver-xorg-input-evdev xinput x11-xserver-utils   # compositor tests: a described touchscreen under Xorg, xinput, xrandr
  debootstrap                                  # tools/package-check.sh --debian12: install in a clean Debian 12 root
  libsm-dev libice-dev                         # the XSMP session manager peer of test_driver_session
  sway grim qtwayland5 jq                      # compositor and desktop tests: headless sway, its screencopy, Qt on Wayland, its tree
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  # sudo resets the environment: the frontend goes through env, past it.
  apt=(env DEBIAN_FRONTEND=noninteractive apt-get)
  [ "$(id -u)" -ne 0 ] && apt=(sudo "${apt[@]}")
  "${apt[@]}" update -qq
  "${apt[@]}" install -y --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build build -j"$(nproc)"
