# Sourced by the scripts that need a private X server. start_xvfb WORKDIR WxHxD
# starts Xvfb on a display number the server picks itself (-displayfd), so that
# scripts running side by side never race for the same number, waits until it
# accepts connections and exports DISPLAY. Returns non-zero if it never came up.
start_xvfb() {
  local fifo="$1/xvfb-display" n=""
  rm -f "$fifo"
  mkfifo "$fifo"
  Xvfb -displayfd 5 -screen 0 "$2" -nolisten tcp 5>"$fifo" >/dev/null 2>&1 &
  # The server writes its number once it is ready; if it dies first the read
  # ends on EOF instead.
  read -r -t 120 n <"$fifo" || true
  rm -f "$fifo"
  [ -n "$n" ] || { echo "Xvfb did not start" >&2; return 1; }
  export DISPLAY=":$n"
}
