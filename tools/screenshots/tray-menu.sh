#!/usr/bin/env bash
# Docks the driver's icon in a real tray host under Xvfb, opens its menu and takes
# a screenshot. Usage: tools/screenshots/tray-menu.sh [LanguageID] [output.png]
# Exits non-zero unless the icon docked and its menu opened with the eight entries
# of this build (read from the driver's log).
set -euo pipefail
cd "$(dirname "$0")/../.."
lang=${1:-11}
out=${2:-docs/tray-menu-de.png}
driver=${3:-build/bin/tesselink-driver}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$XDG_CONFIG_HOME/MERIDAN/Tesselink Driver" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '[Configuration]\r\nLanguageID=%s\r\n' "$lang" > "$XDG_CONFIG_HOME/MERIDAN/Tesselink Driver/config.ini"

. tools/xvfb-start.sh
start_xvfb "$work" 1280x800x24
trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 32 \
       --transparent false --tint 0x303030 &
# The tray host must own the tray selection before the driver asks for it.
for _ in $(seq 200); do xdotool search --class trayer >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1
QT_QPA_PLATFORM=xcb "$driver" >"$work/driver.log" 2>&1 &
pid=$!
for _ in $(seq 300); do grep -q "Corvane::initialStart() - 1" "$work/driver.log" && break; sleep 0.1; done
sleep 2
if grep -q "no system tray host" "$work/driver.log"; then
  echo "tray: not docked"; exit 1
fi
echo "tray: docked"
# The icon is docked at the right end of trayer's panel (bottom right of the
# screen); a right click opens its context menu.
sleep 10   # let the start-up balloon (10 s) go away
read -r sw sh < <(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1], d[2]}')
# A click that lands while the machine is busy may be lost: try a few times.
for _ in 1 2 3; do
  xdotool mousemove $((sw - 12)) $((sh - 16)) click 3
  for _ in $(seq 30); do grep -q "menu opened with" "$work/driver.log" && break 2; sleep 0.1; done
done
sleep 1.5
mkdir -p "$(dirname "$out")"
import -window root "$out"
echo "screenshot: $out"
opened=$(grep -o "menu opened with [0-9]* entries" "$work/driver.log" | tail -n 1)
echo "menu: ${opened:-not opened}"
[ "$opened" = "menu opened with 8 entries" ] || exit 1
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
