# Sourced by the tests that need GNOME's compositor. start_mutter WORKDIR starts
# mutter headless as a Wayland compositor with two virtual monitors, Meta-0
# 1920x1080 at (0, 0) and Meta-1 1280x800 at (1920, 0) (mutter lays them out
# left to right in this order), with Xwayland, on a private session bus of its
# own. It waits until DisplayConfig answers and Xwayland takes connections,
# and exports XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS, WAYLAND_DISPLAY
# (tl-mutter), DISPLAY and XAUTHORITY (Xwayland's), MUTTER_PID and BUS_PID.
# Returns non-zero with a message on stderr when mutter is missing or does not
# come up. stop_mutter ends it.
#
# mutter starts Xwayland only when /tmp/.X11-unix is writable by all (mode
# 1777); a test can give itself a private one (see mutter_test.sh).
start_mutter() {
  local dir="$1" run="$1/mutter-run" i
  command -v mutter >/dev/null || { echo "mutter is not installed (apt-get install mutter)" >&2; return 1; }
  rm -rf "$run"
  mkdir -p "$run"
  chmod 700 "$run"
  export XDG_RUNTIME_DIR="$run"
  local bus
  bus=$(dbus-daemon --session --fork --nosyslog --print-address=1 --print-pid=1 2>/dev/null) \
    || { echo "no private session bus (dbus-daemon)" >&2; return 1; }
  export DBUS_SESSION_BUS_ADDRESS=$(echo "$bus" | sed -n 1p) BUS_PID=$(echo "$bus" | sed -n 2p)
  mutter --wayland --headless --virtual-monitor 1920x1080 --virtual-monitor 1280x800 \
    --wayland-display tl-mutter >"$dir/mutter.log" 2>&1 &
  MUTTER_PID=$!
  export MUTTER_PID WAYLAND_DISPLAY=tl-mutter
  for i in $(seq 1 200); do
    local x
    x=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$dir/mutter.log" | head -n1)
    if [ -n "$x" ] && [ -S "$run/tl-mutter" ] && ls "$run"/.mutter-Xwaylandauth.* >/dev/null 2>&1 \
        && gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
             --method org.gnome.Mutter.DisplayConfig.GetCurrentState >/dev/null 2>&1; then
      export DISPLAY="$x" XAUTHORITY=$(ls "$run"/.mutter-Xwaylandauth.* | head -n1)
      xwininfo -root >/dev/null 2>&1 && return 0
    fi
    kill -0 "$MUTTER_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "mutter did not start; its log:" >&2
  tail -n 20 "$dir/mutter.log" >&2
  stop_mutter
  return 1
}

stop_mutter() {
  if [ -n "${MUTTER_PID:-}" ]; then
    kill "$MUTTER_PID" 2>/dev/null || true
    wait "$MUTTER_PID" 2>/dev/null || true
    MUTTER_PID=""
  fi
  if [ -n "${BUS_PID:-}" ]; then
    kill "$BUS_PID" 2>/dev/null || true
    BUS_PID=""
  fi
}
