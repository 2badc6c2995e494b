# Sourced by the tests that need a real Wayland compositor. start_sway WORKDIR
# starts sway headless with two outputs, HEADLESS-1 1280x800 at (0, 0) and
# HEADLESS-2 1920x1080 at (1280, 0), with the pixman renderer and no input
# devices, waits until its IPC answers and exports XDG_RUNTIME_DIR,
# WAYLAND_DISPLAY, SWAYSOCK, SWAY_PID and SWAY_RUN (the command prefix that runs
# a client as the compositor's user). Returns non-zero with a message on stderr
# when sway is missing or does not come up. stop_sway ends it.
#
# sway refuses to run as root: under root it runs as nobody (65534), and its
# clients must run as the same user (sway_run CMD...). Output sizes can be
# changed with SWAY_OUTPUT1 / SWAY_OUTPUT2 ("WxH X Y").
start_sway() {
  local dir="$1" run="$1/sway-run" i
  command -v sway >/dev/null || { echo "sway is not installed (apt-get install sway)" >&2; return 1; }
  rm -rf "$run"
  mkdir -p "$run"
  chmod 700 "$run"
  SWAY_RUN=()
  if [ "$(id -u)" -eq 0 ]; then
    chown 65534:65534 "$run"
    SWAY_RUN=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  local o1=(${SWAY_OUTPUT1:-1280x800 0 0}) o2=(${SWAY_OUTPUT2:-1920x1080 1280 0})
  cat >"$dir/sway.config" <<CONF
output HEADLESS-1 mode ${o1[0]} position ${o1[1]} ${o1[2]}
output HEADLESS-2 mode ${o2[0]} position ${o2[1]} ${o2[2]}
default_border none
default_floating_border none
focus_follows_mouse no
CONF
  chmod 644 "$dir/sway.config"
  env -i PATH="$PATH" HOME="$run" XDG_RUNTIME_DIR="$run" WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS=2 \
    WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 "${SWAY_RUN[@]}" sway -c "$dir/sway.config" \
    >"$dir/sway.log" 2>&1 &
  SWAY_PID=$!
  export XDG_RUNTIME_DIR="$run" SWAY_PID
  for i in $(seq 1 200); do
    SWAYSOCK=$(ls "$run"/sway-ipc.*.sock 2>/dev/null | head -n1)
    if [ -n "$SWAYSOCK" ] && [ -S "$run/wayland-1" ] \
        && SWAYSOCK="$SWAYSOCK" swaymsg -t get_outputs >/dev/null 2>&1; then
      export SWAYSOCK WAYLAND_DISPLAY=wayland-1
      return 0
    fi
    kill -0 "$SWAY_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "sway did not start; its log:" >&2
  tail -n 20 "$dir/sway.log" >&2
  stop_sway
  return 1
}

# Runs a command as the compositor's user, in its session.
sway_run() {
  "${SWAY_RUN[@]}" env XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" WAYLAND_DISPLAY="$WAYLAND_DISPLAY" \
    SWAYSOCK="$SWAYSOCK" "$@"
}

stop_sway() {
  [ -n "${SWAY_PID:-}" ] || return 0
  kill "$SWAY_PID" 2>/dev/null || true
  wait "$SWAY_PID" 2>/dev/null || true
  SWAY_PID=""
}
