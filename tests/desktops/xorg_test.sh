#!/bin/bash
# Xorg with the dummy video driver and two RandR outputs (DUMMY0 1280x800 at
# 0,0 and DUMMY1 1920x1080 at 1280,0), no window manager, the demo through
# Qt's xcb plugin. The board is output 2: the calibration window and the
# alignment view must cover exactly DUMMY1 and the wait cover both outputs (read
# back from the server's window tree), and the emulated camera photographs
# DUMMY1's part of the root window. With the camera on the other output
# calibration must fail.
# Usage: xorg_test.sh DEMO SOURCE_DIR
set -u
DEMO="$1"
SRC="$2"
. "$SRC/tests/desktops/common.sh"
need Xorg xrandr gtf xwininfo
[ -e /usr/lib/xorg/modules/drivers/dummy_drv.so ] \
  || skip "the dummy video driver is not installed (xserver-xorg-video-dummy; tools/setup.sh --tests installs it)"

WORK=$(mktemp -d)
trap 'stop_xorg_dummy; rm -rf "$WORK"' EXIT
. "$SRC/tools/xorg-dummy-start.sh"
start_xorg_dummy "$WORK" || { echo "FAIL: Xorg is installed but did not come up with two outputs"; exit 1; }
echo "Xorg on $DISPLAY:"
xrandr --listmonitors | sed 's/^/   /'

# One line per mapped top-level window of the demo: snapshot WxH+X+Y.
watch_windows() {
  xwininfo -root -children | sed -n 's/.*"tesselink-demo".* \([0-9]*x[0-9]*+[0-9-]*+[0-9-]*\) .*/\1/p' \
    | sed "s/^/$1 /"
}
grab_outputs() {
  import -window root -crop 1280x800+0+0 +repage "$1-DUMMY0.png"
  import -window root -crop 1920x1080+1280+0 +repage "$1-DUMMY1.png"
}
x11=(env QT_QPA_PLATFORM=xcb)

check_window() {
  local name="$1" what="$2"
  if grep -q ' 1920x1080+1280+0$' "$WORK/$name.windows"; then
    pass "$name: $what covers DUMMY1 exactly (X window tree)"
  else
    fail "$name: no window at 1920x1080+1280+0; the server listed:"; sort -u -k2 "$WORK/$name.windows" | head -n 5
  fi
}

if want pattern; then
  run_demo pattern "${x11[@]}" -- --modules 1 --monitor 1 --scenario pattern --display-size 1920x1080 --find-speed 0.05
  expect_result pattern ok
  check_window pattern "the calibration window"
  grep -q ' 3200x1080+0+0$' "$WORK/pattern.windows" \
    && pass "pattern: the wait cover spans both outputs" || fail "pattern: no wait cover over 3200x1080+0+0"
fi

if want pattern_wrong; then
  run_demo pattern_wrong "${x11[@]}" -- --modules 1 --monitor 1 --camera-monitor 0 --scenario pattern --find-speed 0.05
  expect_result pattern_wrong "fail 0 of 20 points found"
fi

if want calibrate; then
  run_demo calibrate "${x11[@]}" -- --modules 1 --calibrated 0 --monitor 1 --scenario calibrate --find-speed 0.05
  expect_result calibrate ok
  check_window calibrate "the calibration window"
fi

if want calibrate_wrong; then
  run_demo calibrate_wrong "${x11[@]}" -- --modules 1 --calibrated 0 --monitor 1 --camera-monitor 0 \
    --scenario calibrate --find-speed 0.05
  expect_result calibrate_wrong "fail a module was not calibrated"
fi

if want align; then
  run_demo align "${x11[@]}" -- --modules 1 --monitor 1 --scenario align
  expect_result align ok
  check_window align "the alignment view"
fi

# The engineer dialog of the board's module: in the bottom-right corner of
# DUMMY1, 8 pixels in from its right and bottom edges, at its own size.
if want engineer; then
  run_demo engineer "${x11[@]}" -- --modules 1 --monitor 1 --engineer
  expect_result engineer ok
  grep '^engineer\.' "$WORK/engineer.out" | sed 's/^/   /'
  # Right edge 8 px left of DUMMY1's (1280 + 1920), bottom 8 px above its (1080).
  if awk '{ split($2, g, /[x+]/); if (g[3] + g[1] == 3192 && g[4] + g[2] == 1072 && g[1] < 1920) ok = 1 }
      END { exit !ok }' "$WORK/engineer.windows"; then
    pass "engineer: the dialog in DUMMY1's bottom-right corner, 8 px in (X window tree)"
  else
    fail "engineer: no window with its bottom-right corner at 3192,1072; the server listed:"
    cut -d' ' -f2 "$WORK/engineer.windows" | sort -u | sed 's/^/   /'
  fi
fi

# Two modules need two projectors of one type: two equal outputs, side by
# side; module k's camera watches output k, and each calibration window must
# cover its own output.
if want calibrate_two; then
  stop_xorg_dummy
  XORG_OUTPUT0="1920x1080 0 0" XORG_OUTPUT1="1920x1080 1920 0" start_xorg_dummy "$WORK" \
    || { echo "FAIL: Xorg did not come up again"; exit 1; }
  run_demo calibrate_two "${x11[@]}" -- --modules 2 --calibrated 0 --scenario calibrate --find-speed 0.05
  expect_result calibrate_two ok
  for g in 1920x1080+0+0 1920x1080+1920+0; do
    grep -q " $g\$" "$WORK/calibrate_two.windows" && pass "calibrate_two: a window covers $g" \
      || fail "calibrate_two: no window at $g"
  done
fi

[ "$fails" -eq 0 ] && echo "all Xorg checks passed" || echo "$fails Xorg check(s) failed"
exit $((fails > 0))
