# Sourced by the tests that need KDE's compositor. start_kwin WORKDIR starts
# kwin_wayland on a virtual framebuffer with two outputs side by side
# (Virtual-0 at (0, 0) and Virtual-1 right of it, both KWIN_OUTPUT_SIZE,
# default 1280x800), with Xwayland, on a private session bus of its own. It
# waits until KWin owns org.kde.KWin and Xwayland takes connections, and
# exports XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS, WAYLAND_DISPLAY (tl-kwin),
# DISPLAY (Xwayland's), KWIN_PID, KWIN_LOG and BUS_PID. Returns
# non-zero with a message on stderr when KWin is missing or does not come up.
# stop_kwin ends it. kwin_script FILE runs a KWin script (its print() lines
# go to $KWIN_LOG prefixed "js: ").
#
# kwin_wayland carries a file capability (CAP_SYS_NICE) that exec refuses in a
# container without it: a plain copy of the binary runs. Like mutter it starts
# Xwayland only with /tmp/.X11-unix writable by all (mode 1777).
start_kwin() {
  local dir="$1" run="$1/kwin-run" i size=${KWIN_OUTPUT_SIZE:-1280x800}
  local kwin
  kwin=$(command -v kwin_wayland) || { echo "kwin_wayland is not installed (apt-get install kwin-wayland)" >&2; return 1; }
  rm -rf "$run"
  mkdir -p "$run" "$dir/kwin-bin"
  chmod 700 "$run"
  cp "$kwin" "$dir/kwin-bin/kwin_wayland" || return 1
  export XDG_RUNTIME_DIR="$run"
  local bus
  bus=$(dbus-daemon --session --fork --nosyslog --print-address=1 --print-pid=1 2>/dev/null) \
    || { echo "no private session bus (dbus-daemon)" >&2; return 1; }
  export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p) BUS_PID=$(echo "$bus" | sed -n 2p)
  KWIN_LOG="$dir/kwin.log"
  # No screen locker: it would cover the outputs after five idle minutes.
  mkdir -p "$run/.config"
  printf '[Daemon]\nAutolock=false\nLockOnResume=false\n' >"$run/.config/kscreenlockerrc"
  QT_LOGGING_RULES="js.debug=true;kwin_scripting.debug=true" HOME="$run" XDG_CONFIG_HOME="$run/.config" \
    "$dir/kwin-bin/kwin_wayland" --virtual --width "${size%x*}" --height "${size#*x}" --output-count 2 \
    --socket tl-kwin --xwayland >"$KWIN_LOG" 2>&1 &
  KWIN_PID=$!
  export KWIN_PID KWIN_LOG WAYLAND_DISPLAY=tl-kwin
  for i in $(seq 1 300); do
    if [ -S "$run/tl-kwin" ] && timeout 5 gdbus call --session --dest org.freedesktop.DBus \
         --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.NameHasOwner org.kde.KWin 2>/dev/null \
         | grep -q true; then
      # Xwayland's display: the one its command line names.
      local x
      x=$(ps -o args= --ppid "$KWIN_PID" | sed -n 's/^[^ ]*Xwayland \(:[0-9]*\) .*/\1/p' | head -n1)
      if [ -n "$x" ] && DISPLAY="$x" timeout 5 xwininfo -root >/dev/null 2>&1; then
        export DISPLAY="$x"
        unset XAUTHORITY
        return 0
      fi
    fi
    kill -0 "$KWIN_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "kwin_wayland did not start; its log:" >&2
  tail -n 20 "$KWIN_LOG" >&2
  stop_kwin
  return 1
}

kwin_script() {
  local name="tl$$_$RANDOM"
  timeout 5 gdbus call --session --dest org.kde.KWin --object-path /Scripting \
    --method org.kde.kwin.Scripting.loadScript "$1" "$name" >/dev/null &&
    timeout 5 gdbus call --session --dest org.kde.KWin --object-path /Scripting \
      --method org.kde.kwin.Scripting.start >/dev/null
  timeout 5 gdbus call --session --dest org.kde.KWin --object-path /Scripting \
    --method org.kde.kwin.Scripting.unloadScript "$name" >/dev/null
}

stop_kwin() {
  if [ -n "${KWIN_PID:-}" ]; then
    kill "$KWIN_PID" 2>/dev/null || true
    wait "$KWIN_PID" 2>/dev/null || true
    KWIN_PID=""
  fi
  if [ -n "${BUS_PID:-}" ]; then
    kill "$BUS_PID" 2>/dev/null || true
    BUS_PID=""
  fi
}
