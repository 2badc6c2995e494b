# Shared by the desktop tests: runs of tesselink-demo in a live window session
# with two outputs, the board on the second, judged by the demo's last line and
# by what the window system says about the demo's windows.
#
# A test skips (exit 77, with the reason) only when a program it needs is not
# installed; a server that is installed but does not come up is a failure.

fails=0
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }
pass() { echo "ok: $*"; }
need() {
  local p
  for p in "$@"; do
    command -v "$p" >/dev/null || skip "$p is not installed (tools/setup.sh --tests installs it)"
  done
}

# run_demo NAME PREFIX... -- DEMO-ARGS...: runs the demo with the command
# prefix (a user switch, an environment), output in $WORK/NAME.out, while
# watch_windows (defined by each test) writes what it sees every 0.2 s to
# $WORK/NAME.windows. Sets $result to the demo's last line.
run_demo() {
  local name="$1"
  shift
  local prefix=()
  while [ "$1" != "--" ]; do prefix+=("$1"); shift; done
  shift
  : >"$WORK/$name.windows"
  ( n=0; while :; do n=$((n + 1)); watch_windows "$n" >>"$WORK/$name.windows" 2>/dev/null; \
      shoot "$name" "$n"; sleep 0.2; done ) &
  local watcher=$!
  # Under the sanitizers a memory error ends the demo with a report; leaks are
  # judged by the headless demo runs: here the window system's client library
  # and the platform plugins, unloaded at exit, keep one-time allocations the
  # leak check cannot attribute.
  local status=0
  "${prefix[@]}" env ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    timeout 400 "$DEMO" --window "$@" >"$WORK/$name.out" 2>"$WORK/$name.err" || status=$?
  kill "$watcher" 2>/dev/null
  wait "$watcher" 2>/dev/null
  result=$(grep '^result: ' "$WORK/$name.out" | tail -n1)
  echo "== $name: $* -> ${result:-no result line}"
  grep -E '^(window\.|module0\.camera|pattern\.window|pattern\.found|module0\.calib_success|calibrate\.messages)' \
    "$WORK/$name.out" | sed 's/^/   /'
  # The demo ends 0 (ok), 1 (a failure it found) or 2 (a set-up it refuses);
  # anything else is a crash or the time limit. A sanitizer's report fails the
  # run whatever the status.
  if [ "$status" -gt 2 ] || grep -Eq '^==[0-9]+==ERROR: |: runtime error: ' "$WORK/$name.err"; then
    fail "$name: the demo ended with status $status"
    grep -E -A12 '==ERROR: |: runtime error: ' "$WORK/$name.err" | head -n 30 | sed 's/^/   /'
  fi
}

# Screenshots of both outputs while the calibration window is up, when
# DESKTOP_SHOTS names a folder (not part of the verdict).
shoot() {
  [ -n "${DESKTOP_SHOTS:-}" ] || return 0
  mkdir -p "$DESKTOP_SHOTS"
  grab_outputs "$DESKTOP_SHOTS/$1-$(printf %03d "$2")" 2>/dev/null || true
}

expect_result() {
  local name="$1" want="$2"
  case "$result" in
    "result: $want"*) pass "$name ends '$want'" ;;
    *) fail "$name: expected 'result: $want', got '${result:-nothing}'"; tail -n 5 "$WORK/$name.err" | sed 's/^/   /' ;;
  esac
}

# Whether case NAME runs: all of them, or those DESKTOP_CASES names.
want() {
  [ -z "${DESKTOP_CASES:-}" ] || [[ " $DESKTOP_CASES " == *" $1 "* ]]
}

# A compositor starts Xwayland only with /tmp/.X11-unix writable by all; where
# the machine's is not, the test script runs again in a mount namespace with a
# folder of its own. Call it with the script's own "$0" "$@".
private_x11_unix() {
  local script=$1
  shift
  if [ -z "${TL_PRIVATE_X11_UNIX:-}" ] && [ "$(stat -c %a /tmp/.X11-unix 2>/dev/null)" != 1777 ] \
      && [ -e /tmp/.X11-unix ]; then
    unshare -m --propagation private true 2>/dev/null \
      || { echo "FAIL: /tmp/.X11-unix is not mode 1777 and no private mount namespace can be made"; exit 1; }
    exec unshare -m --propagation private env TL_PRIVATE_X11_UNIX=1 bash "$script" "$@"
  fi
  if [ -n "${TL_PRIVATE_X11_UNIX:-}" ]; then
    mount -t tmpfs -o mode=1777 tl-x11-unix /tmp/.X11-unix || { echo "FAIL: no private /tmp/.X11-unix"; exit 1; }
  fi
}

# Under Xwayland (mutter, KWin): a window of the demo at GEOMETRY (WxH+X+Y) in
# the window-tree snapshots of run NAME.
check_tree() {
  local name="$1" what="$2" geometry="$3"
  if grep -q " $geometry$" "$WORK/$name.windows"; then
    pass "$name: $what at $geometry (Xwayland window tree)"
  else
    fail "$name: no window at $geometry; Xwayland listed:"; cut -d' ' -f2 "$WORK/$name.windows" | sort -u | head -n 5
  fi
}
