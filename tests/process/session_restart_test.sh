#!/usr/bin/env bash
# The driver under a real XSMP session manager (xsmp_probe): when the session
# is saved, the driver asks not to be restarted with it (restart style hint 3,
# RestartNever), since the autostart entry starts it at every login already and
# a restored session would start a second one beside it. A save is no end: the
# driver keeps running. When the session manager then goes away (the session
# ends, or the manager dies), the driver ends as at every end of the session:
# through its close handling, exit code 0.
set -u
driver=$1
probe=$2
work=$(mktemp -d)
fail() { echo "FAIL: $*"; [ -f "$work/driver.log" ] && tail -n 12 "$work/driver.log"; exit 1; }
cleanup() { kill $(jobs -p) 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT

export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run HOME=$work
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"; chmod 700 "$XDG_RUNTIME_DIR"
. "$(dirname "$0")/../../tools/xvfb-start.sh"
start_xvfb "$work" 1280x800x24 || fail "Xvfb did not start"

mkfifo "$work/sm"
"$probe" 90 >"$work/sm" &
probe_pid=$!
exec 3<"$work/sm"
read -r -t 30 address <&3 || fail "the session manager did not start"
SESSION_MANAGER=$address QT_QPA_PLATFORM=xcb "$driver" >"$work/driver.log" 2>&1 &
driver_pid=$!
answer=""
read -r -t 80 answer <&3
echo "session manager: ${answer:-nothing}"
case "$answer" in
  "RestartStyleHint 3") ;;
  RestartStyleHint*) fail "the driver asks to be restarted with the session: $answer" ;;
  *) fail "no answer to the save: $answer" ;;
esac
sleep 1
kill -0 $driver_pid 2>/dev/null || fail "the save of the session ended the driver"

kill $probe_pid
wait $probe_pid 2>/dev/null
for _ in $(seq 300); do kill -0 $driver_pid 2>/dev/null || break; sleep 0.1; done
kill -0 $driver_pid 2>/dev/null && fail "the driver kept running without its session manager"
wait $driver_pid; code=$?
grep -q "WM_ENDSESSION: after callClose()" "$work/driver.log" || fail "no close handling when the session manager went away"
[ $code -eq 0 ] || fail "exit code $code when the session manager went away"
echo "PASS"
