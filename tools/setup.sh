#!/usr/bin/env bash
# Installs the Debian packages the build needs, configures and builds into build/.
#   tools/setup.sh           the main job: the build tools and the libraries of the
#                            driver and the demo; builds tesselink-driver and
#                            tesselink-demo (and the libraries they are made of)
#   tools/setup.sh --tests   also what the tests need (compositors, Xorg, clang,
#                            umockdev, the test libraries, fonts, the desktop
#                            programs the tests drive); builds everything
# Safe to run again: apt-get skips what is installed, CMake rebuilds what changed.
set -euo pipefail
cd "$(dirname "$0")/.."
tests=0
case "${1:-}" in
  --tests) tests=1 ;;
  "") ;;
  *) echo "usage: tools/setup.sh [--tests]" >&2; exit 2 ;;
esac

# Each package is here for something in the tree.
# The main job: the driver and the demo.
main_packages=(
  cmake g++ make pkg-config                    # the build
  qtbase5-dev                                  # Qt 5 Core, Gui, Widgets, Concurrent, DBus, Test
  qtbase5-private-dev                          # monitors in the window system's own coordinates
  libopencv-core-dev libopencv-imgproc-dev     # OpenCV core and imgproc (cmake/TesselinkOpenCV.cmake; not libopencv-dev, which brings every module)
  libapriltag-dev                              # the calibration pattern's markers (AprilTag 16h5)
  libusb-1.0-0-dev                             # the libusb backend
  libevdev-dev                                 # the uinput backends
  libxtst-dev libx11-dev                       # the XTest pointer backend
  libxcb1-dev libxcb-keysyms1-dev libqt5x11extras5-dev   # companion link and hot key on X11
  libxi-dev libxrandr-dev                      # touch mapping: the X11 matrix, turned with its output's CRTC
  libglib2.0-dev                               # touch mapping: GNOME's output key (GSettings), gdbus
  libice-dev                                   # the session manager link (ICE) of the application
)

# The tests, benchmarks, fuzz targets and the package check.
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev   # tests and benchmarks
  umockdev libumockdev-dev                     # libusb and uinput tests against emulated device nodes
  libopencv-dev                               # OpenCV's CMake package and every module: aruco, the marker tools' second detector
  xvfb x11-utils xdotool trayer imagemagick    # process and tray tests: Xvfb, xdpyinfo, clicks, a tray, import
  xauth                                        # xvfb-run (the companion and hot key tests)
  dpkg-dev desktop-file-utils appstream lintian   # the Debian package and tools/package-check.sh
  debootstrap                                  # tools/package-check.sh --debian12: install in a clean Debian 12 root
  dbus-daemon                                  # the system event tests' private bus
  gsettings-desktop-schemas                    # touch mapping tests: GNOME's touchscreen schema
  clang libclang-rt-14-dev                     # the fuzz targets (libFuzzer) of the test command
  fonts-dejavu-core fonts-noto-core fonts-noto-cjk fontconfig   # language texts and screenshots without glyph boxes
  libsm-dev                                    # the XSMP session manager peer of test_driver_session
  mutter                                       # compositor tests: GNOME's DisplayConfig and output key (about 60 s to install)
  kwin-wayland                                 # compositor tests: KWin's outputs and outputName (about 70 s to install)
  xserver-xorg-core xserver-xorg-video-dummy   # compositor tests: a real Xorg with several outputs
  xserver-xorg-input-evdev xinput x11-xserver-utils   # compositor tests: a described touchscreen under Xorg, xinput, xrandr
  xserver-xorg-input-libinput libinput-tools   # touch path tests: Xorg's libinput driver, libinput's own view of a device
  xournalpp                                    # touch path tests: a drawing program that consumes the touches
  sway grim qtwayland5 jq                      # compositor and desktop tests: headless sway, its screencopy, Qt on Wayland, its tree
)

packages=("${main_packages[@]}")
[ "$tests" = 1 ] && packages+=("${test_packages[@]}")
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

if [ "$tests" = 1 ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" -DTESSELINK_TESTS=ON >/dev/null
  cmake --build build -j"$(nproc)"
else
  # A new build folder leaves the tests out (their libraries are not
  # installed); one that exists keeps what it has.
  tests_option=()
  [ -f build/CMakeCache.txt ] || tests_option=(-DTESSELINK_TESTS=OFF)
  cmake -S . -B build -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${tests_option[@]}" >/dev/null
  cmake --build build -j"$(nproc)" --target tesselink-driver tesselink-demo
fi
