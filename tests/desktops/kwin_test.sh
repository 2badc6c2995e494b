#!/bin/bash
# kwin_wayland (KDE's compositor) on a virtual framebuffer with two outputs
# (Virtual-0 1280x800 at 0,0 and Virtual-1 1280x800 at 1280,0) and Xwayland,
# on a private session bus. The board is output 2. Natively on Wayland (how
# Plasma runs Qt programs) the calibration window, the alignment view and the
# wait cover must be full screen on their outputs, read back from KWin's own
# window list (a KWin script loaded over D-Bus) and from KWin's configure as
# the demo reports it ("window.seen"). Through Xwayland the calibration window
# and the alignment view must cover Virtual-1 in Xwayland's window tree. The
# demo cannot read KWin's outputs (no screencopy protocol; Xwayland's root
# window holds no pixels): the camera photographs the window's own painting.
# Usage: kwin_test.sh DEMO SOURCE_DIR
set -u
DEMO="$1"
SRC="$2"
. "$SRC/tests/desktops/common.sh"
need kwin_wayland dbus-daemon gdbus xwininfo Xwayland
ls /usr/lib/*/qt5/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 \
  || skip "Qt's Wayland platform plugin is not installed (qtwayland5; tools/setup.sh --tests installs it)"

private_x11_unix "$0" "$@"

WORK=$(mktemp -d)
trap 'stop_kwin; rm -rf "$WORK"' EXIT
. "$SRC/tools/kwin-start.sh"
start_kwin "$WORK" || { echo "FAIL: kwin_wayland is installed but did not start"; exit 1; }
echo "kwin_wayland $("$WORK/kwin-bin/kwin_wayland" --version 2>/dev/null | tr -dc '0-9.'): Wayland tl-kwin, Xwayland $DISPLAY"

# KWin's own list of the demo's windows, one line per window and snapshot in
# KWin's log: "tlwin RUN SNAPSHOT screen fullscreen x y w h caption".
watch_windows() {
  [ "$watch" = kwin ] || { [ "$watch" = x11 ] && x11_windows "$1"; return 0; }
  cat >"$WORK/list.js" <<JS
var list = workspace.clientList();
for (var i = 0; i < list.length; ++i) {
    var c = list[i], g = c.frameGeometry;
    if (c.resourceClass == "tesselink-demo")
        print("tlwin $run_tag $1 " + c.screen + " " + c.fullScreen + " " + g.x + " " + g.y + " " + g.width + " "
              + g.height + " " + c.caption);
}
JS
  kwin_script "$WORK/list.js"
}
x11_windows() {
  xwininfo -root -tree \
    | sed -n 's/.*: ("tesselink-demo" "tesselink-demo")  *\([0-9]*x[0-9]*\)+[-0-9]*+[-0-9]*  *+\([-0-9]*\)+\([-0-9]*\)$/\1+\2+\3/p' \
    | sed "s/^/$1 /"
}
grab_outputs() { :; }
kwin_lines() { sed -n "s/^js: tlwin $1 //p" "$KWIN_LOG"; }

# KWin listed a window of the demo (CAPTION, or any) full screen on screen 1
# with Virtual-1's rectangle.
check_kwin() {
  local name="$1" what="$2" caption="$3"
  if kwin_lines "$name" | awk -v c="$caption" '{ t = $8; for (i = 9; i <= NF; ++i) t = t " " $i }
      $2 == 1 && $3 == "true" && $4 == 1280 && $5 == 0 && $6 == 1280 && $7 == 800 && (c == "" || t == c) { ok = 1 }
      END { exit !ok }'; then
    pass "$name: $what full screen on Virtual-1 (KWin's window list)"
  else
    fail "$name: $what not full screen on Virtual-1; KWin listed:"; kwin_lines "$name" | cut -d' ' -f2- | sort -u | head -n 5
  fi
}
check_seen() {
  local name="$1" what="$2" class="$3" output="$4" f="$WORK/$1.out"
  if grep -Eq "^window.seen: $class(#[A-Za-z0-9]*)? screen $output 1280x800\+[-0-9]+\+[-0-9]+ full_screen$" "$f"; then
    pass "$name: $what full screen on $output (KWin's configure)"
  else
    fail "$name: $what not full screen on $output; the demo saw:"; grep "^window.seen: $class" "$f" | head -n 5
  fi
}
wl=(env -u DISPLAY QT_QPA_PLATFORM=wayland)
x11=(env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb)

watch=kwin
if want pattern; then
  run_tag=pattern
  run_demo pattern "${wl[@]}" -- --camera-window --modules 1 --monitor 1 --scenario pattern --find-speed 0.05
  expect_result pattern ok
  sleep 1
  check_kwin pattern "the calibration window" ""
  check_seen pattern "the calibration window" CalibDlg Virtual-1
  # The wait cover of the connection: a full-screen window on each output in one snapshot.
  if kwin_lines pattern | awk '$3 == "true" { seen[$1] = seen[$1] " " $2 } END { for (s in seen) if (seen[s] ~ / 0/ && seen[s] ~ / 1/) ok = 1; exit !ok }'; then
    pass "pattern: the wait cover full screen on both outputs (KWin's window list)"
  else
    fail "pattern: no snapshot shows the wait cover full screen on both outputs"
  fi
fi

if want align; then
  run_tag=align
  run_demo align "${wl[@]}" -- --camera-window --modules 1 --monitor 1 --scenario align
  expect_result align ok
  sleep 1
  check_kwin align "the alignment view" "Tesselink Alignment"
  check_seen align "the alignment view" AlignmentDlg Virtual-1
fi

# The engineer dialog of the board's module. A Wayland client has no position
# of its own: KWin places the dialog itself. Where it went is reported from
# KWin's window list; judged are that KWin listed it on an output and that the
# log says the compositor placed it.
if want engineer; then
  run_tag=engineer
  run_demo engineer "${wl[@]}" -- --camera-window --modules 1 --monitor 1 --engineer
  expect_result engineer ok
  sleep 1
  grep '^engineer\.' "$WORK/engineer.out" | sed 's/^/   /'
  kwin_lines engineer | awk '{ t = $8; for (i = 9; i <= NF; ++i) t = t " " $i } t == "Engineer Mode"' \
    | cut -d' ' -f2- | sort -u | sed 's/^/   window (screen fullscreen x y w h): /'
  kwin_lines engineer | awk '{ t = $8; for (i = 9; i <= NF; ++i) t = t " " $i }
      t == "Engineer Mode" && ($2 == 0 || $2 == 1) { ok = 1 } END { exit !ok }' \
    && pass "engineer: the dialog on an output (KWin's window list)" \
    || fail "engineer: KWin never listed the dialog on an output"
  grep -q '^engineer.placement: the engineer dialog goes where .* puts it' "$WORK/engineer.out" \
    && pass "engineer: the log says KWin places the dialog" \
    || fail "engineer: no line in the log on who placed the dialog"
fi

watch=x11
# Through Xwayland the dialog has a position of its own, which KWin keeps: in
# the bottom-right corner of Virtual-1, 8 px in from its right and bottom edges
# (2552,792), at its own size, in Xwayland's window tree.
if want xwayland_engineer; then
  run_demo xwayland_engineer "${x11[@]}" -- --camera-window --modules 1 --monitor 1 --engineer
  expect_result xwayland_engineer ok
  grep '^engineer\.' "$WORK/xwayland_engineer.out" | sed 's/^/   /'
  if awk '{ split($2, g, /[x+]/)
            if (g[3] + g[1] == 2552 && g[4] + g[2] == 792 && g[1] < 1280) ok = 1 }
      END { exit !ok }' "$WORK/xwayland_engineer.windows"; then
    pass "xwayland_engineer: the dialog in Virtual-1's bottom-right corner, 8 px in (Xwayland window tree)"
  else
    fail "xwayland_engineer: no window with its bottom-right corner at 2552,792; Xwayland listed:"
  fi
  cut -d' ' -f2 "$WORK/xwayland_engineer.windows" | sort -u | sed 's/^/   window: /'
fi

if want xwayland_pattern; then
  run_demo xwayland_pattern "${x11[@]}" -- --camera-window --modules 1 --monitor 1 --scenario pattern \
    --find-speed 0.05
  expect_result xwayland_pattern ok
  check_tree xwayland_pattern "the calibration window" 1280x800+1280+0
  # KWin maximizes the union-sized wait cover onto one output: reported, not judged.
  echo "   wait cover through Xwayland: $(grep '^window.seen: WaitDlg' "$WORK/xwayland_pattern.out" | tail -n1)"
  echo "   the demo's windows in Xwayland's tree: $(cut -d' ' -f2 "$WORK/xwayland_pattern.windows" | sort -u | tr '\n' ' ')"
fi

if want xwayland_align; then
  run_demo xwayland_align "${x11[@]}" -- --camera-window --modules 1 --monitor 1 --scenario align
  expect_result xwayland_align ok
  check_tree xwayland_align "the alignment view" 1280x800+1280+0
fi

[ "$fails" -eq 0 ] && echo "all kwin checks passed" || echo "$fails kwin check(s) failed"
exit $((fails > 0))
