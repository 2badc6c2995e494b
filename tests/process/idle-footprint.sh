#!/usr/bin/env bash
# The driver's idle footprint: started under Xvfb with a tray host (trayer) and
# no module, left alone; prints its resident memory and the CPU ticks it used
# over a quiet minute, and the graphics libraries mapped into it.
# Usage: tests/process/idle-footprint.sh [driver] [seconds]
# Output lines: "rss_kb N", "ticks N" (utime + stime over the interval, in
# clock ticks of getconf CLK_TCK), "gl_maps N" (mapped files of a GL stack).
set -euo pipefail
driver=${1:-build/bin/tesselink-driver}
seconds=${2:-60}
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT

export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run HOME=$work
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
. "$(dirname "$0")/../../tools/xvfb-start.sh"
start_xvfb "$work" 1280x800x24
trayer --edge bottom --align right --widthtype pixel --width 120 --heighttype pixel --height 32 \
       --transparent false >/dev/null 2>&1 &
for _ in $(seq 200); do xdotool search --class trayer >/dev/null 2>&1 && break; sleep 0.1; done
sleep 1
QT_QPA_PLATFORM=xcb "$driver" >"$work/driver.log" 2>&1 &
pid=$!
for _ in $(seq 300); do grep -q "Corvane::initialStart() - 1" "$work/driver.log" && break; sleep 0.1; done
grep -q "Corvane::initialStart() - 1" "$work/driver.log" || { echo "driver did not start"; exit 1; }
# Past the start-up balloon and the first device check.
sleep 15
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
t0=$(ticks)
sleep "$seconds"
t1=$(ticks)
echo "rss_kb $(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")"
echo "ticks $((t1 - t0))"
gl=$(grep -E 'libGL|libEGL|libGLX|libgallium|mesa|_dri\.so|libLLVM|glx-integration|egl-integration' \
     "/proc/$pid/maps" | awk '{print $6}' | sort -u)
echo "gl_maps $(printf '%s' "$gl" | grep -c . || true)"
printf '%s\n' "$gl" | sed '/^$/d; s/^/  /'
grep -q "no system tray host" "$work/driver.log" && echo "tray: not docked" || echo "tray: docked"
kill -TERM $pid
wait $pid || true
