#!/bin/bash
# The demo's command line under Qt's xcb plugin (Xvfb): the demo's own options,
# "--display-size WxH" and its old spelling "--display WxH" among them, are
# taken out before Qt reads argv; Qt's own options, "--display NAME" among
# them, still reach Qt; what neither knows is refused.
# Usage: xcb_arguments_test.sh DEMO SOURCE_DIR
set -u
DEMO="$1"
SRC="$2"
. "$SRC/tests/desktops/common.sh"
need Xvfb
WORK=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$WORK"' EXIT
. "$SRC/tools/xvfb-start.sh"
start_xvfb "$WORK" 1920x1080x24 || { echo "FAIL: Xvfb did not start"; exit 1; }
export QT_QPA_PLATFORM=xcb

check() {
  local name="$1" want="$2"
  shift 2
  timeout 300 "$DEMO" "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  local last
  last=$(grep '^result: ' "$WORK/$name.out" | tail -n1)
  case "$last" in
    "result: $want"*) pass "$name: $* -> $last" ;;
    *) fail "$name: $* -> '${last:-no result}'"; tail -n 3 "$WORK/$name.err" ;;
  esac
  if grep -q 'could not connect to display' "$WORK/$name.err"; then
    fail "$name: Qt took a demo option as its display"
  fi
}

check display_long ok --window --modules 1 --scenario pattern --display 1280x800 --find-speed 0.05
grep -q '^pattern.display: 1920x1080$' "$WORK/display_long.out" \
  && pass "display_long: the window session works at the monitor's size" \
  || fail "display_long: $(grep '^pattern.display' "$WORK/display_long.out")"
check display_headless ok --modules 1 --scenario pattern --display 1280x800 --find-speed 0.05
grep -q '^pattern.display: 1280x800$' "$WORK/display_headless.out" \
  && pass "display_headless: --display sets the emulated display" \
  || fail "display_headless: $(grep '^pattern.display' "$WORK/display_headless.out")"
check size_headless ok --modules 1 --scenario pattern --display-size 1280x800 --find-speed 0.05
grep -q '^pattern.display: 1280x800$' "$WORK/size_headless.out" \
  && pass "size_headless: --display-size sets the emulated display" \
  || fail "size_headless: $(grep '^pattern.display' "$WORK/size_headless.out")"
check toolkit_option ok --window --modules 1 -platform xcb
# Qt's own display option, in both spellings, with no DISPLAY to fall back on:
# the run works only if Qt got the name.
saved_display=$DISPLAY
unset DISPLAY
for spelling in --display -display; do
  timeout 300 "$DEMO" --window --modules 1 "$spelling" "$saved_display" >"$WORK/nodisplay$spelling.out" 2>&1
  grep -q '^result: ok' "$WORK/nodisplay$spelling.out" \
    && pass "nodisplay$spelling: Qt connected to $saved_display named by $spelling" \
    || fail "nodisplay$spelling: $(tail -n 2 "$WORK/nodisplay$spelling.out")"
done
export DISPLAY=$saved_display
check unknown "fail unknown argument --no-such-option" --window --modules 1 --no-such-option
check monitor_range "fail the window system shows 1 monitor(s)" --window --modules 1 --monitor 3

[ "$fails" -eq 0 ] && echo "all argument checks passed" || echo "$fails argument check(s) failed"
exit $((fails > 0))
