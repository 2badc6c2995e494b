#!/usr/bin/env bash
# Runs the real driver binary under Xvfb with a private home and checks:
#  - started with no module, it logs the connection start and stays up;
#  - no GL driver is loaded (the driver draws raster only);
#  - a second start shows one critical box titled "Tesselink Driver" and exits 1;
#    it builds none of the driver's parts, and a SIGTERM while its box is open
#    leaves the running instance's config.ini, and every other file of the
#    settings and runtime folders, as they were;
#  - after kill -9 of the first, the next start succeeds;
#  - SIGTERM ends it through the close handling: exit code 0, [Device] Count=0.
set -u
driver=$1
work=$(mktemp -d)
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do echo "== $f"; tail -n 30 "$f"; done; exit 1; }
cleanup() { kill $(jobs -p) 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run HOME=$work
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
. "$(dirname "$0")/../../tools/xvfb-start.sh"
start_xvfb "$work" 1280x800x24 || fail "Xvfb did not start"
export QT_QPA_PLATFORM=xcb

wait_log() { # file text seconds
  for _ in $(seq $(($3 * 10))); do grep -qF -- "$2" "$1" && return 0; sleep 0.1; done
  return 1
}

"$driver" >"$work/first.log" 2>&1 &
first=$!
wait_log "$work/first.log" "InitDeviceCheck(): m_bConnectionStatus = false" 30 || fail "first start did not check devices"
grep -qF "nqmaincontrol::systemStateChange(): esysCONNECTION_START -1" "$work/first.log" || fail "no connection start line"
grep -qF "InitDeviceCheck(): device count = 0" "$work/first.log" || fail "no device count line"
wait_log "$work/first.log" "NotifyWait: false" 5 || fail "wait cover not hidden"
sleep 1
kill -0 $first 2>/dev/null || fail "first instance did not stay up"

# Mesa's GL (its software rasteriser, LLVM) and Qt's GL integration plugins stay
# out; libGL/libGLX/libGLdispatch themselves are glvnd's dispatch stubs that
# Debian's QtGui links against.
gl=$(grep -E '_dri\.so|libGLX_mesa|libgallium|libLLVM|glx-integration|egl-integration' "/proc/$first/maps" | awk '{print $6}' | sort -u)
[ -z "$gl" ] || fail "a GL stack is mapped: $gl"

find_box() {
  box=""
  for _ in $(seq 100); do
    box=$(xdotool search --sync --onlyvisible --name "^Tesselink Driver$" 2>/dev/null | head -n 1) && [ -n "$box" ] && break
    sleep 0.1
  done
}
ini="$XDG_CONFIG_HOME/MERIDAN/Tesselink Driver/config.ini"
printf '[Device]\r\nCount=7\r\n' > "$ini"
cp "$ini" "$work/config.before"
files() { find "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" -printf '%p %s %m %T@\n' | sort; }
files > "$work/files.before"
"$driver" >"$work/refused.log" 2>&1 &
refused=$!
find_box
[ -n "$box" ] || fail "no refusal box"
for part in "Corvane::Corvane()" "CamDevCtrl::CamDevCtrl()" "nqmaincontrol" "CorvaneTray" "UsbHotplugSource" \
            "LinuxSystemEvents" "LibusbAccess" "Uinput"; do
  grep -qF "$part" "$work/refused.log" && fail "the refused instance built $part"
done
kill -TERM $refused
wait $refused
cmp -s "$ini" "$work/config.before" || fail "SIGTERM of the refused instance changed config.ini: $(cat "$ini")"
files | diff "$work/files.before" - >"$work/files.diff" || fail "the refused instance wrote: $(cat "$work/files.diff")"
kill -0 $first 2>/dev/null || fail "first instance disturbed by the refused one's end"

"$driver" >"$work/second.log" 2>&1 &
second=$!
box=""
for _ in $(seq 100); do
  box=$(xdotool search --sync --onlyvisible --name "^Tesselink Driver$" 2>/dev/null | head -n 1) && [ -n "$box" ] && break
  sleep 0.1
done
[ -n "$box" ] || fail "no refusal box"
boxes=$(xdotool search --onlyvisible --name "^Tesselink Driver$" | wc -l)
[ "$boxes" -eq 1 ] || fail "expected one box, saw $boxes"
grep -qF "Tesselink is already run." "$work/second.log" || fail "refusal text is not M2"
xdotool windowactivate --sync "$box" key Return 2>/dev/null || xdotool key --window "$box" Return 2>/dev/null
wait $second; code=$?
[ $code -eq 1 ] || fail "second instance exit code $code"
kill -0 $first 2>/dev/null || fail "first instance disturbed"

kill -9 $first; wait $first 2>/dev/null
"$driver" >"$work/third.log" 2>&1 &
third=$!
wait_log "$work/third.log" "InitDeviceCheck(): m_bConnectionStatus = false" 30 || fail "start after kill -9 refused"
sleep 1
kill -TERM $third
wait $third; code=$?
[ $code -eq 0 ] || fail "SIGTERM exit code $code"
grep -A3 '^\[Device\]' "$ini" | grep -q '^Count=0' || fail "config.ini has no [Device] Count=0: $(cat "$ini")"
echo "PASS"
