#!/usr/bin/env bash
# Builds the Debian package in build/ and checks it: its relations (Recommends),
# its files against the list below, the desktop files, AppStream metainfo, the
# maintainer scripts (also run against recorded stand-ins for modprobe and
# udevadm), lintian (when installed); then installs it into a scratch root,
# removes it (only the autostart conffile may stay, and systemd's autostart
# generator must make nothing of it) and purges it (nothing may stay). With
# --install it also installs the package on this machine (needs root) and
# purges it, checking that nothing is left.
# With --debian12 ROOT it installs the package with apt (Recommends included)
# into a clean Debian 12 root made by debootstrap (made there first when ROOT
# does not exist; needs root and the Debian mirror), shows what the boot will
# load, then removes and purges it there (and autoremoves what apt brought for
# it) and lists what is left against the root as it was; last, with Xfce's
# panel in the root, apt must not want the GNOME shell for the tray.
# Before that it reports the package's dependency closure there: the packages
# and the installed size that `apt install ./tesselink-driver_*.deb` brings to
# the bare root and to one with a desktop's tray host (Xfce's panel, KDE
# Plasma's workspace) or a whole desktop (Debian's Xfce and KDE tasks),
# simulated by apt (`apt-get -s`). With --closure ROOT [DEB] it reports only
# these figures, for the package built here or for DEB.
# Every run also checks that the package depends on nothing but the libraries
# the driver calls (packaging/libraries.txt names them and says why).
# Usage: tools/package-check.sh [--install | --debian12 ROOT | --closure ROOT [DEB]]
set -euo pipefail
cd "$(dirname "$0")/.."
root_install=0
debian12=""
closure_only=""
[ "${1:-}" = "--install" ] && root_install=1
[ "${1:-}" = "--debian12" ] && debian12=${2:?--debian12 needs a folder}
if [ "${1:-}" = "--closure" ]; then
  debian12=${2:?--closure needs a folder}
  closure_only=${3:-build}
fi

fail() { echo "FAIL: $*"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A clean Debian 12 root made by debootstrap when the folder has none; apt in
# it, no services started inside.
debian12_root() {
  [ "$(id -u)" = 0 ] || fail "a Debian 12 root needs root"
  if [ ! -x "$debian12/usr/bin/apt-get" ]; then
    debootstrap --variant=minbase bookworm "$debian12" http://deb.debian.org/debian >/dev/null || fail "debootstrap"
  fi
  cp /etc/resolv.conf "$debian12/etc/resolv.conf"
  printf '#!/bin/sh\nexit 101\n' > "$debian12/usr/sbin/policy-rc.d"; chmod +x "$debian12/usr/sbin/policy-rc.d"
  mountpoint -q "$debian12/proc" || mount -t proc proc "$debian12/proc"
  trap 'umount "$debian12/proc" 2>/dev/null; rm -rf "$work"' EXIT
  in_root apt-get update -qq
}
in_root() { chroot "$debian12" env DEBIAN_FRONTEND=noninteractive "$@"; }

# What `apt install ./DEB` brings to the root as it is, simulated: the packages
# apt would install (the driver's own included, its Recommends too, as apt
# installs them by default) and their installed size. With HOST packages, what
# it brings to the root once they are installed: apt's answer for HOST and the
# package together, less its answer for HOST alone.
closure() {
  local label=$1 debfile=$2; shift 2
  local sim=(apt-get install -s -y)
  if [ "${1:-}" = --no-install-recommends ]; then
    sim+=("$1")
    shift
  fi
  in_root "${sim[@]}" "$@" "./tmp/$(basename "$debfile")" >"$work/closure.with" 2>&1 \
    || { tail -20 "$work/closure.with"; fail "apt-get -s: $label"; }
  if [ $# -gt 0 ]; then
    in_root "${sim[@]}" "$@" >"$work/closure.host" 2>&1 || { tail -20 "$work/closure.host"; fail "apt-get -s: $*"; }
  else
    : >"$work/closure.host"
  fi
  local added
  added=$(comm -13 <(awk '/^Inst /{print $2}' "$work/closure.host" | sort) \
                   <(awk '/^Inst /{print $2}' "$work/closure.with" | sort))
  grep -qx tesselink-driver <<<"$added" || fail "$label: apt would not install the package"
  local others kib own
  others=$(grep -vx tesselink-driver <<<"$added" || true)
  kib=0
  if [ -n "$others" ]; then
    # shellcheck disable=SC2086
    kib=$(in_root apt-cache show --no-all-versions $others | awk '/^Installed-Size:/ {s += $2} END {print s + 0}')
  fi
  own=$(dpkg-deb -f "$debfile" Installed-Size)
  kib=$((kib + own))
  local hosts=""
  [ $# -gt 0 ] && hosts=" (root with $(grep -c '^Inst ' "$work/closure.host") packages of $*)"
  printf '  %-22s %4d packages, %5d MB installed%s\n' "$label:" "$(grep -c . <<<"$added")" \
    $(((kib * 1024 + 500000) / 1000000)) "$hosts"
  printf '%s\n' "$added" >"$work/closure.$label"
}
closure_report() {
  local debfile=$1
  cp "$debfile" "$debian12/tmp/"
  echo "== dependency closure on a clean Debian 12 root: what apt install ./$(basename "$debfile") brings"
  # The driver's own closure (its Depends), then with its Recommends as apt
  # installs them: on a bare root the first tray host of the list, GNOME's
  # extension, brings the GNOME shell.
  closure bare-depends "$debfile" --no-install-recommends
  closure bare "$debfile"
  closure xfce4-panel "$debfile" xfce4-panel
  closure plasma-workspace "$debfile" plasma-workspace
  closure task-xfce-desktop "$debfile" task-xfce-desktop
  closure task-kde-desktop "$debfile" task-kde-desktop
  local biggest
  biggest=$(grep -E '^(libopencv|libgdal|libhdf5|libtesseract|libvtk|libapriltag)' "$work/closure.bare-depends" | tr '\n' ' ' || true)
  echo "  of the driver's own closure, OpenCV, GDAL, HDF5, Tesseract, VTK, AprilTag: ${biggest:-none}"
}
echo "== build and package"
cmake --build build -j"$(nproc)" --target tesselink-driver >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
arch=$(dpkg --print-architecture)
deb=build/tesselink-driver_${version}_${arch}.deb
rm -f "$deb"
(cd build && cpack -G DEB >/dev/null)
[ -f "$deb" ] || fail "no $deb"
echo "$deb"
if [ -n "$closure_only" ]; then
  debian12_root
  [ "$closure_only" = build ] && closure_report "$deb" || closure_report "$closure_only"
  exit 0
fi

echo "== control"
dpkg-deb -I "$deb" control | sed 's/^/  /'
dpkg-deb -f "$deb" Depends | grep -q libqt5core5a || fail "dependencies were not computed from the binaries"

echo "== relations"
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "  Recommends: $recommends"
for p in qtwayland5 gnome-shell-extension-appindicator fonts-dejavu-core fonts-noto-core fonts-noto-cjk; do
  grep -qw -- "$p" <<<"$recommends" || fail "does not recommend $p"
done
# The extension depends on gnome-shell: alone it would bring GNOME onto every
# desktop. A desktop whose own panel hosts the tray satisfies it instead.
grep -q 'gnome-shell-extension-appindicator | plasma-workspace | xfce4-panel' <<<"$recommends" \
  || fail "the GNOME tray extension is recommended without the other desktops' tray hosts as alternatives"

echo "== contents"
dpkg-deb -c "$deb" | awk '{print "  " $6}'
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)
# Exactly these files, no more and no fewer.
expected=$(sort <<'LIST'
./etc/xdg/autostart/tesselink-driver.desktop
./usr/bin/tesselink-driver
./usr/lib/modules-load.d/tesselink-driver.conf
./usr/lib/udev/rules.d/60-tesselink-uinput.rules
./usr/lib/udev/rules.d/70-tesselink-module.rules
./usr/share/applications/tesselink-driver.desktop
./usr/share/doc/tesselink-driver/changelog.gz
./usr/share/doc/tesselink-driver/copyright
./usr/share/icons/hicolor/128x128/apps/tesselink-driver.png
./usr/share/icons/hicolor/16x16/apps/tesselink-driver.png
./usr/share/icons/hicolor/48x48/apps/tesselink-driver.png
./usr/share/icons/hicolor/96x96/apps/tesselink-driver.png
./usr/share/man/man1/tesselink-driver.1.gz
./usr/share/metainfo/tesselink-driver.metainfo.xml
LIST
)
if [ "$files" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$files") | sed 's/^/  /'
  fail "the package's files differ from the list (< expected, > in the package)"
fi
echo "  the files are exactly the expected $(wc -l <<<"$expected")"

echo "== unpacked checks"
dpkg-deb -x "$deb" "$work/x"
for rule in packaging/*.rules build/packaging/*.rules; do
  cmp "$rule" "$work/x/usr/lib/udev/rules.d/$(basename "$rule")" || fail "$rule differs in the package"
done
grep -qx uinput "$work/x/usr/lib/modules-load.d/tesselink-driver.conf" || fail "the modules-load.d entry does not name uinput"
grep -qx 'TryExec=tesselink-driver' "$work/x/etc/xdg/autostart/tesselink-driver.desktop" \
  || fail "the autostart entry has no TryExec"
dpkg-deb -e "$deb" "$work/ctl0"
grep -qx /etc/xdg/autostart/tesselink-driver.desktop "$work/ctl0/conffiles" || fail "the autostart entry is no conffile"
grep -q 'modprobe -q uinput' "$work/ctl0/postinst" || fail "postinst does not load uinput"
grep -q 'sysname-match=uinput' "$work/ctl0/postinst" || fail "postinst does not let udev apply the rule to the node"
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

echo "== libraries the driver calls (packaging/libraries.txt)"
# The libraries the binary links (its NEEDED entries), the package each comes
# from, and whether the binary calls anything of it: dpkg-shlibdeps, which also
# computed the package's Depends, says which libraries the binary uses none of
# the symbols of. Every dependency must come from a library that is linked,
# called and named in packaging/libraries.txt with its reason.
bin=$work/x/usr/bin/tesselink-driver
needed=$(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')
[ -n "$needed" ] || fail "readelf finds no NEEDED entry in the driver"
mkdir -p "$work/shl/debian/tesselink-driver/usr/bin"
printf 'Source: tesselink-driver\n\nPackage: tesselink-driver\nArchitecture: any\n' >"$work/shl/debian/control"
cp "$bin" "$work/shl/debian/tesselink-driver/usr/bin/"
(cd "$work/shl" && dpkg-shlibdeps -O --warnings=7 debian/tesselink-driver/usr/bin/tesselink-driver) \
  >"$work/shl/out" 2>"$work/shl/err" || { cat "$work/shl/err"; fail "dpkg-shlibdeps"; }
unused=$(sed -n 's/.*was not linked against \([^ ]*\) (it uses none of the library.s symbols).*/\1/p' "$work/shl/err")
listed=$(awk '!/^#/ && NF {print $1}' packaging/libraries.txt)
problems=()
accounted=" "
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)
for so in $needed; do
  # The library of the package's architecture (not a 32-bit one of /lib32).
  pkg=$( (dpkg-query -S "*/$multiarch/$so" 2>/dev/null; dpkg-query -S "*/$so" 2>/dev/null) |
        awk -F': ' -v s="$so" '{n = split($2, a, "/"); if (a[n] == s) {print $1; exit}}')
  pkg=${pkg%%:*}
  [ -n "$pkg" ] || fail "no installed package holds $so"
  if grep -qx -- "$so" <<<"$unused"; then
    state="linked, calls nothing of it"
    problems+=("the driver links $so ($pkg) but calls nothing of it")
  elif ! grep -qx -- "$so" <<<"$listed"; then
    state="called, not named"
    problems+=("the driver links $so ($pkg), which packaging/libraries.txt does not name")
  else
    state="called, named"
    accounted+="$pkg "
  fi
  printf '  %-26s %-22s %s\n' "$so" "$pkg" "$state"
done
for so in $listed; do
  grep -qx -- "$so" <<<"$needed" || problems+=("packaging/libraries.txt names $so, which the driver does not link")
done
depends=$(dpkg-deb -f "$deb" Depends)
IFS=',' read -ra entries <<<"$depends"
for entry in "${entries[@]}"; do
  entry=$(sed 's/^ *//; s/ *$//' <<<"$entry")
  ok=0
  for alt in $(sed 's/([^)]*)//g; s/|/ /g' <<<"$entry"); do
    [[ "$accounted" == *" $alt "* ]] && ok=1
  done
  [ "$ok" = 1 ] || problems+=("the package depends on $entry, which no library the driver calls and names accounts for")
done
if [ ${#problems[@]} -gt 0 ]; then
  printf '  %s\n' "${problems[@]}"
  fail "the package depends on a library the driver does not call (${#problems[@]} findings above)"
fi
echo "  each of the ${#entries[@]} dependencies comes from a library the driver calls and names"

echo "== scratch root: install, remove, purge"
sr=$work/root
mkdir -p "$sr/var/lib/dpkg/info" "$sr/var/lib/dpkg/updates"
touch "$sr/var/lib/dpkg/status"
# The scratch root has none of the libraries: dependencies are not its business.
# Maintainer scripts run on this machine with DPKG_ROOT set, and then leave the
# running kernel and udev alone.
dpkgr=(dpkg --root="$sr" --log=/dev/null --force-script-chrootless --force-depends --force-not-root)
quiet() { grep -v -e 'depends on' -e 'is not installed' -e 'however:' -e 'dependency problems' | sed 's/^/  /'; }
"${dpkgr[@]}" -i "$deb" 2>&1 | quiet
"${dpkgr[@]}" -s tesselink-driver | grep -q '^Status: install ok installed' || fail "not installed in the scratch root"
for f in $expected; do
  [ -f "$sr/${f#./}" ] || fail "$f not installed"
done
echo "  installed: every file of the list"
# The session's autostart as systemd's generator makes it from the XDG entries
# (GNOME, Plasma and others start them through it): one unit while the program
# is there, none once it is gone.
generator=/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator
autostart_units() {
  rm -rf "$work/units" && mkdir -p "$work/units"
  env -i PATH="$sr/usr/bin" HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" SYSTEMD_LOG_LEVEL=debug \
    XDG_CONFIG_DIRS="$sr/etc/xdg" "$generator" "$work/units" "$work/units" "$work/units" 2>"$work/gen.log"
  (cd "$work/units" && find . -name '*tesselink*' -printf '%f\n' | sort -u)
}
if [ -x "$generator" ]; then
  units=$(autostart_units)
  echo "  autostart units while installed: ${units:-none}"
  grep -q 'app-tesselink.*@autostart.service' <<<"$units" || fail "the session would not start the driver"
fi
leftover() { (cd "$sr" && find . -mindepth 1 -not -type d -not -path './var/lib/dpkg/*' | sort); }
"${dpkgr[@]}" -r tesselink-driver 2>&1 | quiet
left=$(leftover)
echo "  after remove: ${left:-nothing}"
# Only the conffile stays until purge, and it starts nothing: its TryExec
# names the program that is gone.
[ "$left" = "./etc/xdg/autostart/tesselink-driver.desktop" ] || fail "left after remove: $left"
grep -qx 'TryExec=tesselink-driver' "$sr/etc/xdg/autostart/tesselink-driver.desktop" || fail "autostart left active"
[ ! -e "$sr/usr/bin/tesselink-driver" ] || fail "the program is still there"
[ ! -e "$sr/usr/lib/modules-load.d/tesselink-driver.conf" ] || fail "uinput would still be loaded at boot"
if [ -x "$generator" ]; then
  units=$(autostart_units)
  echo "  autostart units after remove: ${units:-none}"
  grep -i tesselink "$work/gen.log" | sed 's/^/    generator: /' || true
  grep -q '@autostart.service' <<<"$units" && fail "the session would still start something after remove"
fi
"${dpkgr[@]}" -P tesselink-driver 2>&1 | quiet
left=$(cd "$sr" && find . -mindepth 1 -not -path ./var -not -path ./var/lib -not -path './var/lib/dpkg*')
[ -z "$left" ] || fail "left after purge: $left"
echo "  after purge: nothing left outside dpkg's database"

echo "== maintainer scripts without udevadm and modprobe"
mkdir -p "$work/ctl"
dpkg-deb -e "$deb" "$work/ctl"
env -u DPKG_ROOT PATH=/nonexistent /bin/sh "$work/ctl/postinst" configure || fail "postinst fails without udevadm"
env -u DPKG_ROOT PATH=/nonexistent /bin/sh "$work/ctl/postrm" purge || fail "postrm fails without udevadm"
echo "  postinst and postrm succeed"

echo "== maintainer scripts on a running system (modprobe, udevadm, ischroot recorded)"
# Stand-ins that record each call; modprobe fails as it does where the kernel
# has no uinput module, which must not fail the installation.
stub=$work/stub
mkdir -p "$stub"
for tool in modprobe udevadm; do
  printf '#!/bin/sh\necho "%s $*" >> "%s"\n[ "%s" != modprobe ] || [ -z "${STUB_FAIL:-}" ]\n' \
    "$tool" "$work/calls" "$tool" > "$stub/$tool"
done
printf '#!/bin/sh\n[ -n "${STUB_CHROOT:-}" ]\n' > "$stub/ischroot"
chmod +x "$stub"/*
run_script() { rm -f "$work/calls"; touch "$work/calls"; env -u DPKG_ROOT PATH="$stub:/usr/bin:/bin" "$@"; }
run_script STUB_FAIL=1 /bin/sh "$work/ctl/postinst" configure || fail "postinst fails when modprobe fails"
sed 's/^/  /' "$work/calls"
expected_calls='modprobe -q uinput
udevadm control --reload-rules
udevadm trigger --action=add --subsystem-match=misc --sysname-match=uinput
udevadm trigger --action=add --subsystem-match=usb --attr-match=idVendor=16d0 --attr-match=idProduct=0f8c'
[ "$(cat "$work/calls")" = "$expected_calls" ] \
  || fail "postinst does not load uinput, reload the rules and apply them to the node, in that order"
run_script STUB_CHROOT=1 /bin/sh "$work/ctl/postinst" configure || fail "postinst fails in a chroot"
[ ! -s "$work/calls" ] || fail "postinst touched the running kernel or udev from a chroot: $(cat "$work/calls")"
run_script DPKG_ROOT=/nonexistent /bin/sh "$work/ctl/postinst" configure || fail "postinst fails with DPKG_ROOT"
[ ! -s "$work/calls" ] || fail "postinst touched the running kernel or udev for another root: $(cat "$work/calls")"
run_script /bin/sh "$work/ctl/postrm" remove || fail "postrm remove fails"
[ "$(cat "$work/calls")" = "udevadm control --reload-rules" ] || fail "postrm remove does not let udev forget the rules"
echo "  postinst: module, rules, node, module device; nothing in a chroot or for another root; postrm: rules"

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
if [ -n "$debian12" ]; then
  debian12_root
  closure_report "$deb"
  echo "== clean Debian 12 root: apt install, remove, purge"
  # What the system holds outside the package database, before and after.
  tree() { (cd "$debian12" && find etc usr opt -xdev 2>/dev/null | sort); }
  tree > "$work/tree.before"
  packages() { in_root dpkg-query -W -f '${db:Status-Abbrev} ${Package}\n' | awk '$1 != "un" {print $2}' | sort; }
  packages > "$work/packages.before"
  in_root apt-get install -y "./tmp/$(basename "$deb")" >"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log"; fail "apt install"; }
  grep -E '^Setting up tesselink-driver|newly installed' "$work/apt.log" | sed 's/^/  /'
  in_root dpkg -s tesselink-driver | grep -E '^(Status|Version|Recommends):' | sed 's/^/  /'
  for p in qtwayland5 gnome-shell-extension-appindicator fonts-noto-cjk; do
    in_root dpkg -s "$p" 2>/dev/null | grep -q '^Status: install ok installed' || fail "$p (recommended) not installed"
  done
  echo "  recommended packages installed: qtwayland5 gnome-shell-extension-appindicator fonts-noto-cjk"
  echo "  modules-load.d as systemd reads it at boot:"
  if in_root sh -c 'command -v systemd-analyze' >/dev/null; then
    in_root systemd-analyze cat-config modules-load.d 2>/dev/null | sed 's/^/    /'
  else
    cat "$debian12/usr/lib/modules-load.d/tesselink-driver.conf" | sed 's/^/    /'
  fi
  # What loading it would do, for each kernel the root has (a minimal root has none).
  for kdir in "$debian12"/lib/modules/*/modules.dep; do
    [ -e "$kdir" ] || continue
    kver=$(basename "$(dirname "$kdir")")
    echo "  modprobe -n -v -S $kver uinput:"
    in_root modprobe -n -v -S "$kver" uinput 2>&1 | sed 's/^/    /'
  done
  in_root apt-get remove -y tesselink-driver >"$work/apt.log" 2>&1 || fail "apt remove"
  echo "  after remove, of the package's files:"
  for f in $expected; do [ -e "$debian12/${f#./}" ] && echo "    ${f#./} (kept)"; done
  grep -qx 'TryExec=tesselink-driver' "$debian12/etc/xdg/autostart/tesselink-driver.desktop" || fail "autostart left active"
  in_root apt-get purge -y tesselink-driver >"$work/apt.log" 2>&1 || fail "apt purge"
  for f in $expected; do [ -e "$debian12/${f#./}" ] && fail "${f#./} left after purge"; done
  in_root dpkg -s tesselink-driver >/dev/null 2>&1 && fail "still known to dpkg after purge"
  echo "  after purge: none of the package's files, dpkg knows no tesselink-driver"
  # The packages apt brought for it go with autoremove. By default apt keeps
  # those that the base system's Suggests and Recommends reach; without that
  # the root comes back to the packages it had before.
  in_root apt-get autoremove --purge -y -o APT::AutoRemove::SuggestsImportant=false \
    -o APT::AutoRemove::RecommendsImportant=false >"$work/apt.log" 2>&1 || { tail -20 "$work/apt.log"; fail "apt autoremove"; }
  grep -E '^[0-9]+ upgraded' "$work/apt.log" | sed 's/^/  autoremove --purge: /'
  packages > "$work/packages.after"
  cmp -s "$work/packages.before" "$work/packages.after" \
    || fail "the root's packages differ from before: $(diff "$work/packages.before" "$work/packages.after" | grep '^[<>]' | head)"
  echo "  packages: the same $(wc -l <"$work/packages.after") as before the installation"
  tree > "$work/tree.after"
  left=$(comm -13 "$work/tree.before" "$work/tree.after")
  echo "  paths under /etc, /usr, /opt that were not there before: $(grep -c . <<<"$left" || true)"
  while read -r f; do
    [ -z "$f" ] || echo "    /$f"
  done <<<"$left"
  grep -qi tesselink <<<"$left" && fail "the package left files behind"
  echo "  paths that were there before and are gone: $(comm -23 "$work/tree.before" "$work/tree.after" | grep -c . || true)"

  echo "== clean Debian 12 root with another desktop's tray host: what apt would install"
  in_root apt-get install -y --no-install-recommends xfce4-panel >"$work/apt.log" 2>&1 \
    || { tail -20 "$work/apt.log"; fail "apt install xfce4-panel"; }
  in_root apt-get install -s "./tmp/$(basename "$deb")" >"$work/sim.log" 2>&1 || { tail -20 "$work/sim.log"; fail "apt -s"; }
  grep -E '^[0-9]+ upgraded' "$work/sim.log" | sed 's/^/  with xfce4-panel: /'
  grep -q '^Inst gnome-shell' "$work/sim.log" && fail "apt would bring gnome-shell onto an Xfce machine"
  echo "  apt would install no gnome-shell and no tray extension"
  in_root apt-get purge -y xfce4-panel >/dev/null 2>&1 && in_root apt-get autoremove --purge -y >/dev/null 2>&1 \
    || fail "cannot take xfce4-panel out again"
fi
echo "package check: OK"
