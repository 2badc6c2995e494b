# Sourced by the tests that need a real X server with several outputs.
# start_xorg_dummy WORKDIR starts Xorg with the dummy video driver on a display
# number the server picks itself (-displayfd), gives it two outputs with xrandr,
# DUMMY0 1280x800 at (0, 0) and DUMMY1 1920x1080 at (1280, 0), and exports
# DISPLAY and XORG_PID. Returns non-zero with a message on stderr when the
# server or the driver is missing or does not come up. stop_xorg_dummy ends it.
#
# Options through the environment:
#   XORG_OUTPUT0, XORG_OUTPUT1  "WxH X Y" of the two outputs
#   XORG_PREFIX                 words run before Xorg (e.g. "umockdev-run -d DEV -i ... --")
#   XORG_AUTO_DEVICES=1         let the server add input devices from udev (default: none)
#   XORG_CONF_EXTRA             a file appended to the generated xorg.conf
start_xorg_dummy() {
  local dir="$1" fifo="$1/xorg-display" n="" auto=false
  command -v Xorg >/dev/null || { echo "Xorg is not installed (apt-get install xserver-xorg-core)" >&2; return 1; }
  command -v xrandr >/dev/null || { echo "xrandr is not installed (apt-get install x11-xserver-utils)" >&2; return 1; }
  [ -e /usr/lib/xorg/modules/drivers/dummy_drv.so ] \
    || { echo "the dummy video driver is not installed (apt-get install xserver-xorg-video-dummy)" >&2; return 1; }
  [ "${XORG_AUTO_DEVICES:-0}" = 1 ] && auto=true
  local o0=(${XORG_OUTPUT0:-1280x800 0 0}) o1=(${XORG_OUTPUT1:-1920x1080 1280 0})
  local w0=${o0[0]%x*} h0=${o0[0]#*x} w1=${o1[0]%x*} h1=${o1[0]#*x}
  local vw=$(( (o0[1] + w0 > o1[1] + w1 ? o0[1] + w0 : o1[1] + w1) ))
  local vh=$(( (o0[2] + h0 > o1[2] + h1 ? o0[2] + h0 : o1[2] + h1) ))
  cat >"$dir/xorg.conf" <<CONF
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual $vw $vh
  EndSubSection
EndSection
Section "ServerFlags"
  Option "AutoAddDevices" "$auto"
  Option "AutoEnableDevices" "$auto"
EndSection
CONF
  [ -n "${XORG_CONF_EXTRA:-}" ] && cat "$XORG_CONF_EXTRA" >>"$dir/xorg.conf"
  rm -f "$fifo"
  mkfifo "$fifo"
  ${XORG_PREFIX:-} Xorg -noreset -nolisten tcp -config "$dir/xorg.conf" -logfile "$dir/xorg.log" \
    -displayfd 5 5>"$fifo" >"$dir/xorg.out" 2>&1 &
  XORG_PID=$!
  read -r -t 60 n <"$fifo" || true
  rm -f "$fifo"
  if [ -z "$n" ]; then
    echo "Xorg did not start; its output:" >&2
    tail -n 20 "$dir/xorg.out" >&2
    stop_xorg_dummy
    return 1
  fi
  export DISPLAY=":$n" XORG_PID
  # Output 1 has no modes until it is given one.
  local mode1="${o1[0]}_tl"
  local line
  line=$(gtf "$w1" "$h1" 60 | sed -n 's/^ *Modeline "[^"]*" *//p')
  if ! { xrandr --newmode "$mode1" $line && xrandr --addmode DUMMY1 "$mode1" \
      && xrandr --output DUMMY0 --mode "${o0[0]}" --pos "${o0[1]}x${o0[2]}" \
                --output DUMMY1 --mode "$mode1" --pos "${o1[1]}x${o1[2]}"; } >"$dir/xrandr.out" 2>&1; then
    echo "xrandr could not set up two outputs:" >&2
    cat "$dir/xrandr.out" >&2
    stop_xorg_dummy
    return 1
  fi
  # The driver marks an output connected once it has a mode, but says so only
  # when the outputs are probed again; clients that read the current
  # resources (Qt does) would otherwise still see it disconnected.
  xrandr --query >/dev/null 2>&1
  if ! xrandr --current | grep -q '^DUMMY1 connected'; then
    echo "the second output did not come up:" >&2
    xrandr --current | head -n 4 >&2
    stop_xorg_dummy
    return 1
  fi
  return 0
}

stop_xorg_dummy() {
  [ -n "${XORG_PID:-}" ] || return 0
  kill "$XORG_PID" 2>/dev/null || true
  wait "$XORG_PID" 2>/dev/null || true
  XORG_PID=""
}
