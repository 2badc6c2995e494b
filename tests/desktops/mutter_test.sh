#!/bin/bash
# mutter (GNOME's compositor), headless with two virtual monitors (Meta-0
# 1920x1080 at 0,0 and Meta-1 1280x800 at 1920,0) and Xwayland, on a private
# session bus. The board is monitor 2. Natively on Wayland the calibration
# window, the alignment view and the wait cover must be full screen on their
# outputs: mutter keeps no window list a client can read, so the answer is
# mutter's own through the protocol (the output the surface entered, the size
# and state of its configure event), as the demo reports it ("window.seen").
# Through Xwayland (how GNOME runs Qt 5 programs by default) the windows must
# cover their monitors in Xwayland's window tree. Neither a Wayland client nor
# an Xwayland client can read mutter's outputs (no screencopy; Xwayland's root
# window holds no pixels), so the camera photographs the window's own painting.
# Usage: mutter_test.sh DEMO SOURCE_DIR
set -u
DEMO="$1"
SRC="$2"
. "$SRC/tests/desktops/common.sh"
need mutter dbus-daemon gdbus xwininfo
ls /usr/lib/*/qt5/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 \
  || skip "Qt's Wayland platform plugin is not installed (qtwayland5; tools/setup.sh --tests installs it)"

private_x11_unix "$0" "$@"

WORK=$(mktemp -d)
trap 'stop_mutter; rm -rf "$WORK"' EXIT
. "$SRC/tools/mutter-start.sh"
start_mutter "$WORK" || { echo "FAIL: mutter is installed but did not start"; exit 1; }
echo "mutter $(mutter --version | head -n1 | tr -dc '0-9.'): Wayland tl-mutter, Xwayland $DISPLAY"

# Xwayland's window tree: snapshot WxH+X+Y (absolute) of each demo window.
watch_windows() {
  [ "$watch" = x11 ] || return 0
  xwininfo -root -tree \
    | sed -n 's/.*: ("tesselink-demo" "tesselink-demo")  *\([0-9]*x[0-9]*\)+[-0-9]*+[-0-9]*  *+\([-0-9]*\)+\([-0-9]*\)$/\1+\2+\3/p' \
    | sed "s/^/$1 /"
}
grab_outputs() { :; }

# The demo's report of window CLASS: full screen on OUTPUT with SIZE, and
# never on another output.
check_seen() {
  local name="$1" what="$2" class="$3" output="$4" size="$5" f="$WORK/$1.out"
  if grep -Eq "^window.seen: $class(#[A-Za-z0-9]*)? screen $output ${size}\+[-0-9]+\+[-0-9]+ full_screen$" "$f"; then
    pass "$name: $what full screen on $output ($size, mutter's configure)"
  else
    fail "$name: $what not full screen on $output; the demo saw:"; grep "^window.seen: $class" "$f" | head -n 5
  fi
  if grep -E "^window.seen: $class(#[A-Za-z0-9]*)? screen " "$f" | grep -vq " screen $output "; then
    fail "$name: $what was also on another output:"; grep "^window.seen: $class" "$f" | grep -v " screen $output "
  fi
}
wl=(env -u DISPLAY QT_QPA_PLATFORM=wayland)
x11=(env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb)

watch=none
if want pattern; then
  run_demo pattern "${wl[@]}" -- --camera-window --modules 1 --monitor 1 --scenario pattern --find-speed 0.05
  expect_result pattern ok
  check_seen pattern "the calibration window" CalibDlg Meta-1 1280x800
  check_seen pattern "the wait cover" WaitDlg Meta-0 1920x1080
  check_seen pattern "the wait cover's second window" QWidget#WaitDlgCover1 Meta-1 1280x800
fi

if want align; then
  run_demo align "${wl[@]}" -- --camera-window --modules 1 --monitor 1 --scenario align
  expect_result align ok
  check_seen align "the alignment view" AlignmentDlg Meta-1 1280x800
fi

if want calibrate; then
  run_demo calibrate "${wl[@]}" -- --camera-window --modules 1 --calibrated 0 --monitor 1 --scenario calibrate \
    --find-speed 0.05
  expect_result calibrate ok
  check_seen calibrate "the calibration window" CalibDlg Meta-1 1280x800
fi

# The engineer dialog of the board's module. A Wayland client has no position
# of its own and mutter offers no way to ask for one: mutter places the dialog
# itself. Where it went is reported (the output its surface entered, as the
# demo saw it); judged are that it was shown and that the log says the
# compositor placed it.
if want engineer; then
  run_demo engineer "${wl[@]}" -- --camera-window --modules 1 --monitor 1 --engineer
  expect_result engineer ok
  grep -E '^(engineer\.|window.seen: EngineerMode)' "$WORK/engineer.out" | sed 's/^/   /'
  grep -Eq '^engineer.window_end: EngineerMode#EngineerMode screen Meta-[01] ' "$WORK/engineer.out" \
    && pass "engineer: the dialog shown on an output (mutter's surface enter)" \
    || fail "engineer: the dialog entered no output"
  grep -q '^engineer.placement: the engineer dialog goes where .* puts it' "$WORK/engineer.out" \
    && pass "engineer: the log says mutter places the dialog" \
    || fail "engineer: no line in the log on who placed the dialog"
fi

watch=x11
# Through Xwayland the dialog has a position of its own: in the bottom-right
# corner of Meta-1, its right edge 8 px in from Meta-1's (3192), in Xwayland's
# window tree. mutter adds its title bar above the dialog and keeps the frame
# inside the monitor, which may push the dialog down to Meta-1's bottom edge:
# the whole dialog within Meta-1 is judged, its bottom edge reported.
if want xwayland_engineer; then
  run_demo xwayland_engineer "${x11[@]}" -- --camera-window --modules 1 --monitor 1 --engineer
  expect_result xwayland_engineer ok
  grep '^engineer\.' "$WORK/xwayland_engineer.out" | sed 's/^/   /'
  if awk '{ split($2, g, /[x+]/)
            if (g[3] + g[1] == 3192 && g[1] < 1280 && g[3] >= 1920 && g[4] >= 0 && g[4] + g[2] <= 800) ok = 1 }
      END { exit !ok }' "$WORK/xwayland_engineer.windows"; then
    pass "xwayland_engineer: the dialog within Meta-1, its right edge 8 px in (Xwayland window tree)"
  else
    fail "xwayland_engineer: no window within Meta-1 with its right edge at 3192; Xwayland listed:"
  fi
  cut -d' ' -f2 "$WORK/xwayland_engineer.windows" | sort -u | sed 's/^/   window: /'
fi

if want xwayland_pattern; then
  run_demo xwayland_pattern "${x11[@]}" -- --camera-window --modules 1 --monitor 1 --scenario pattern \
    --find-speed 0.05
  expect_result xwayland_pattern ok
  check_tree xwayland_pattern "the calibration window" 1280x800+1920+0
  check_tree xwayland_pattern "the wait cover" 3200x1080+0+0
fi

if want xwayland_align; then
  run_demo xwayland_align "${x11[@]}" -- --camera-window --modules 1 --monitor 1 --scenario align
  expect_result xwayland_align ok
  check_tree xwayland_align "the alignment view" 1280x800+1920+0
fi

# Without --camera-window the demo refuses to photograph Xwayland's root window.
if want xwayland_camera; then
  run_demo xwayland_camera "${x11[@]}" -- --modules 1 --monitor 1 --scenario pattern --find-speed 0.05
  expect_result xwayland_camera "fail Xwayland's root window holds no pixels"
fi

[ "$fails" -eq 0 ] && echo "all mutter checks passed" || echo "$fails mutter check(s) failed"
exit $((fails > 0))
