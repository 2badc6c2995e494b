#!/usr/bin/env bash
# Builds the Debian package in build/ and checks it: contents, desktop files,
# AppStream metainfo, lintian (when installed), then installs it into a scratch
# root and removes it again. With --install it also installs the package on
# this machine (needs root) and purges it, checking that nothing is left.
# Usage: tools/package-check.sh [--install]
set -euo pipefail
cd "$(dirname "$0")/.."
root_install=0
[ "${1:-}" = "--install" ] && root_install=1

fail() { echo "FAIL: $*"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== build and package"
cmake --build build -j"$(nproc)" --target tesselink-driver >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
arch=$(dpkg --print-architecture)
deb=build/tesselink-driver_${version}_${arch}.deb
rm -f "$deb"
(cd build && cpack -G DEB >/dev/null)
[ -f "$deb" ] || fail "no $deb"
echo "$deb"

echo "== control"
dpkg-deb -I "$deb" control | sed 's/^/  /'
dpkg-deb -f "$deb" Depends | grep -q libqt5core5a || fail "dependencies were not computed from the binaries"

echo "== contents"
dpkg-deb -c "$deb" | awk '{print "  " $6}'
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}')
for f in $files; do
  case "$f" in
    ./usr/local/*) fail "$f under /usr/local" ;;
    ./usr/*|./etc/xdg/autostart/*) ;;
    *) fail "$f outside /usr and the autostart folder" ;;
  esac
  case "$(basename "$f")" in
    *tesselink*|changelog.gz|copyright) ;;
    *) fail "$f is not named after the package" ;;
  esac
done
for f in ./usr/bin/tesselink-driver ./usr/lib/udev/rules.d/60-tesselink-uinput.rules \
         ./usr/lib/udev/rules.d/70-tesselink-module.rules ./usr/share/applications/tesselink-driver.desktop \
         ./etc/xdg/autostart/tesselink-driver.desktop ./usr/share/icons/hicolor/48x48/apps/tesselink-driver.png \
         ./usr/share/metainfo/tesselink-driver.metainfo.xml; do
  grep -qx "$f" <<<"$files" || fail "$f missing"
done

echo "== unpacked checks"
dpkg-deb -x "$deb" "$work/x"
for rule in packaging/*.rules build/packaging/*.rules; do
  cmp "$rule" "$work/x/usr/lib/udev/rules.d/$(basename "$rule")" || fail "$rule differs in the package"
done
echo "-- desktop-file-validate"
desktop-file-validate "$work/x/usr/share/applications/tesselink-driver.desktop" \
                      "$work/x/etc/xdg/autostart/tesselink-driver.desktop"
echo "   no findings"
echo "-- appstreamcli validate --no-net"
appstreamcli validate --no-net "$work/x/usr/share/metainfo/tesselink-driver.metainfo.xml"
grep -q '<modalias>usb:v16D0p0F8Cd\*</modalias>' "$work/x/usr/share/metainfo/tesselink-driver.metainfo.xml" \
  || fail "the module's modalias is not declared"
if command -v lintian >/dev/null; then
  echo "-- lintian"
  lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true
  lintian "$deb" 2>/dev/null | grep -q '^E:' && fail "lintian reports errors"
else
  echo "-- lintian not installed: skipped"
fi

echo "== scratch root: install and remove"
sr=$work/root
mkdir -p "$sr/var/lib/dpkg/info" "$sr/var/lib/dpkg/updates"
touch "$sr/var/lib/dpkg/status"
# The scratch root has none of the libraries: dependencies are not its business.
# Maintainer scripts run on this machine (udevadm may be missing or without a
# daemon here: the scripts must not mind).
dpkgr=(dpkg --root="$sr" --log=/dev/null --force-script-chrootless --force-depends --force-not-root)
"${dpkgr[@]}" -i "$deb" 2>&1 | grep -v -e 'depends on' -e 'is not installed' -e 'however:' -e 'dependency problems' | sed 's/^/  /'
"${dpkgr[@]}" -s tesselink-driver | grep -q '^Status: install ok installed' || fail "not installed in the scratch root"
"${dpkgr[@]}" -P tesselink-driver 2>&1 | sed 's/^/  /'
left=$(cd "$sr" && find . -mindepth 1 -not -path ./var -not -path ./var/lib -not -path './var/lib/dpkg*')
[ -z "$left" ] || fail "left after purge: $left"
echo "  nothing left outside dpkg's database"

echo "== maintainer scripts without udevadm"
mkdir -p "$work/ctl"
dpkg-deb -e "$deb" "$work/ctl"
env PATH=/nonexistent /bin/sh "$work/ctl/postinst" configure || fail "postinst fails without udevadm"
env PATH=/nonexistent /bin/sh "$work/ctl/postrm" purge || fail "postrm fails without udevadm"
echo "  postinst and postrm succeed"

if [ "$root_install" = 1 ]; then
  echo "== this machine: install and purge"
  [ "$(id -u)" = 0 ] || fail "--install needs root"
  dpkg -i "$deb" | sed 's/^/  /'
  dpkg -s tesselink-driver | grep -q '^Status: install ok installed' || fail "not installed"
  listed=$(dpkg -L tesselink-driver)
  dpkg -P tesselink-driver | sed 's/^/  /'
  for f in $listed; do
    [ -d "$f" ] && continue
    [ -e "$f" ] && fail "$f left after purge"
  done
  echo "  every file of the package is gone"
fi
echo "package check: OK"
