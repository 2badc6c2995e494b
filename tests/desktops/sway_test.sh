#!/bin/bash
# sway, headless with two outputs (HEADLESS-1 1280x800 at 0,0 and HEADLESS-2
# 1920x1080 at 1280,0), the demo as a native Wayland client. The board is
# output 2: the calibration window, the alignment view and the wait cover must
# be full screen on their outputs (read back from sway's own tree), and the
# emulated camera photographs HEADLESS-2 through the screencopy protocol.
# With the camera on the other output calibration must fail.
# Usage: sway_test.sh DEMO SOURCE_DIR
set -u
DEMO="$1"
SRC="$2"
. "$SRC/tests/desktops/common.sh"
need sway swaymsg grim jq setpriv
ls /usr/lib/*/qt5/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 \
  || skip "Qt's Wayland platform plugin is not installed (qtwayland5; tools/setup.sh --tests installs it)"

WORK=$(mktemp -d)
chmod 755 "$WORK"
trap 'stop_sway; rm -rf "$WORK"' EXIT
. "$SRC/tools/sway-start.sh"
start_sway "$WORK" || { echo "FAIL: sway is installed but did not start"; exit 1; }
sway_run test -x "$DEMO" || { echo "FAIL: the compositor's user cannot run $DEMO"; exit 1; }

# One line per demo window and snapshot: snapshot output fullscreen x y w h
# title. The windows that cover a monitor have no title of their own (sway
# shows the program's name); dialogs have theirs.
watch_windows() {
  sway_run swaymsg -t get_tree | jq -r --arg n "$1" '.nodes[] | select(.type == "output") | .name as $o
    | recurse(.nodes[]?, .floating_nodes[]?) | select(.app_id == "tesselink-demo")
    | "\($n) \($o) \(.fullscreen_mode) \(.rect.x) \(.rect.y) \(.rect.width) \(.rect.height) \(.name)"'
}
grab_outputs() {
  sway_run grim -o HEADLESS-1 - >"$1-HEADLESS-1.png"
  sway_run grim -o HEADLESS-2 - >"$1-HEADLESS-2.png"
}

# The window named by TITLE was full screen on HEADLESS-2 with the output's
# whole rectangle, and every covering window (untitled, or TITLE) the demo
# showed was full screen. The calibration window has no title, as the wait
# cover: it is the untitled window on HEADLESS-2 of a snapshot with none on
# HEADLESS-1. Where the dialogs went is reported.
check_windows() {
  local name="$1" what="$2" title="$3" f="$WORK/$1.windows"
  if [ ! -s "$f" ]; then fail "$name: sway never listed a window of the demo"; return; fi
  if awk -v t="$title" '{ w = $8; for (i = 9; i <= NF; ++i) w = w " " $i }
      w == "tesselink-demo" && $2 == "HEADLESS-1" { other[$1] = 1 }
      w == t && $2 == "HEADLESS-2" && $3 == 1 && $4 == 1280 && $5 == 0 && $6 == 1920 && $7 == 1080 { hit[$1] = 1 }
      END { for (s in hit) if (t != "tesselink-demo" || !(s in other)) ok = 1; exit !ok }' "$f"; then
    pass "$name: $what full screen on HEADLESS-2 (sway tree)"
  else
    fail "$name: $what not full screen on HEADLESS-2; sway listed:"; cut -d' ' -f2- "$f" | sort -u | head -n 5
  fi
  if awk -v t="$title" '{ w = $8; for (i = 9; i <= NF; ++i) w = w " " $i }
      $3 != 1 && (w == "tesselink-demo" || w == t) { bad = 1 } END { exit !bad }' "$f"; then
    fail "$name: a covering window of the demo was not full screen:"
    awk -v t="$title" '{ w = $8; for (i = 9; i <= NF; ++i) w = w " " $i }
      $3 != 1 && (w == "tesselink-demo" || w == t)' "$f" | cut -d' ' -f2- | sort -u | head -n 3
  fi
  awk '$8 != "tesselink-demo"' "$f" | cut -d' ' -f2- | sort -u | sed 's/^/   window: /'
}
wl=(sway_run env QT_QPA_PLATFORM=wayland)

if want pattern; then
  run_demo pattern "${wl[@]}" -- --modules 1 --monitor 1 --scenario pattern --display-size 1920x1080 --find-speed 0.05
  expect_result pattern ok
  check_windows pattern "the calibration window" tesselink-demo
  grep -q '^pattern.window: 1920x1080+1280+0 screen HEADLESS-2 full_screen 1$' "$WORK/pattern.out" \
    && pass "pattern: the window is bound to HEADLESS-2 and full screen (Qt)" \
    || fail "pattern: $(grep '^pattern.window' "$WORK/pattern.out")"
  # The wait cover of the connection: one full-screen window on each output in one snapshot.
  if awk '{ if ($8 == "tesselink-demo") seen[$1] = seen[$1] " " $2 "/" $3 } END { for (s in seen) if (seen[s] ~ /HEADLESS-1\/1/ && seen[s] ~ /HEADLESS-2\/1/) ok = 1; exit !ok }' \
      "$WORK/pattern.windows"; then
    pass "pattern: the wait cover was full screen on both outputs"
  else
    fail "pattern: no snapshot shows the wait cover on both outputs"
  fi
fi

if want pattern_wrong; then
  run_demo pattern_wrong "${wl[@]}" -- --modules 1 --monitor 1 --camera-monitor 0 --scenario pattern --find-speed 0.05
  expect_result pattern_wrong "fail 0 of 20 points found"
fi

if want calibrate; then
  run_demo calibrate "${wl[@]}" -- --modules 1 --calibrated 0 --monitor 1 --scenario calibrate --find-speed 0.05
  expect_result calibrate ok
  check_windows calibrate "the calibration window" tesselink-demo
fi

if want calibrate_wrong; then
  run_demo calibrate_wrong "${wl[@]}" -- --modules 1 --calibrated 0 --monitor 1 --camera-monitor 0 \
    --scenario calibrate --find-speed 0.05
  expect_result calibrate_wrong "fail a module was not calibrated"
fi

if want align; then
  run_demo align "${wl[@]}" -- --modules 1 --monitor 1 --scenario align
  expect_result align ok
  check_windows align "the alignment view" "Tesselink Alignment"
fi

# The engineer dialog of the board's module: in the bottom-right corner of
# HEADLESS-2, 8 px in from its right and bottom edges, at its own size, as on
# X11. sway opens a floating window centred on the focused output (HEADLESS-1,
# where the user works), whatever screen Qt binds it to; the driver moves its
# own window through sway's IPC once sway lists it. Read back from sway's tree
# (no borders in this session: the container is the dialog).
engineer_in_corner() {
  local name="$1"
  grep '^engineer\.' "$WORK/$name.out" | sed 's/^/   /'
  if awk '{ t = $8; for (i = 9; i <= NF; ++i) t = t " " $i }
      t == "Engineer Mode" && $2 == "HEADLESS-2" && $4 + $6 == 3192 && $5 + $7 == 1072 && $6 < 1920 { ok = 1 }
      END { exit !ok }' "$WORK/$name.windows"; then
    pass "$name: the dialog in HEADLESS-2's bottom-right corner, 8 px in (sway tree)"
  else
    fail "$name: the dialog never had its bottom-right corner at 3192,1072 on HEADLESS-2 (sway tree)"
  fi
  grep ' Engineer Mode$' "$WORK/$name.windows" | cut -d' ' -f2- | sort -u | sed 's/^/   window: /'
}
if want engineer; then
  run_demo engineer "${wl[@]}" -- --modules 1 --monitor 1 --engineer
  expect_result engineer ok
  engineer_in_corner engineer
fi

# With sway's socket unreachable the dialog shows where sway puts it, and the
# log says why it was not moved.
if want engineer_no_ipc; then
  run_demo engineer_no_ipc sway_run env SWAYSOCK="$WORK/no-such-sway.sock" QT_QPA_PLATFORM=wayland -- --modules 1 --monitor 1 --engineer
  expect_result engineer_no_ipc ok
  grep '^engineer\.' "$WORK/engineer_no_ipc.out" | sed 's/^/   /'
  grep -q '^engineer.placement: the engineer dialog stays where sway put it: .*no-such-sway.sock' "$WORK/engineer_no_ipc.out" \
    && pass "engineer_no_ipc: the log says the dialog stays where sway put it" \
    || fail "engineer_no_ipc: no line in the log on the dialog left where sway put it"
  grep -q ' HEADLESS-[12] [0-9]* [-0-9]* [-0-9]* [0-9]* [0-9]* Engineer Mode$' "$WORK/engineer_no_ipc.windows" \
    && pass "engineer_no_ipc: the dialog shown on an output (sway tree)" \
    || fail "engineer_no_ipc: the dialog on no output of sway's tree"
  grep ' Engineer Mode$' "$WORK/engineer_no_ipc.windows" | cut -d' ' -f2- | sort -u | sed 's/^/   window: /'
fi

# Two modules need two projectors of one type: two equal outputs, side by
# side; module k's camera watches output k, and each calibration window must
# be full screen on its own output.
if want calibrate_two; then
  stop_sway
  SWAY_OUTPUT1="1920x1080 0 0" SWAY_OUTPUT2="1920x1080 1920 0" start_sway "$WORK" \
    || { echo "FAIL: sway did not start again"; exit 1; }
  run_demo calibrate_two "${wl[@]}" -- --modules 2 --calibrated 0 --scenario calibrate --find-speed 0.05
  expect_result calibrate_two ok
  for o in "HEADLESS-1 0" "HEADLESS-2 1920"; do
    grep -q "^[0-9]* ${o% *} 1 ${o#* } 0 1920 1080 tesselink-demo$" "$WORK/calibrate_two.windows" \
      && pass "calibrate_two: a full-screen window on ${o% *}" || fail "calibrate_two: none on ${o% *}"
  done
fi

[ "$fails" -eq 0 ] && echo "all sway checks passed" || echo "$fails sway check(s) failed"
exit $((fails > 0))
