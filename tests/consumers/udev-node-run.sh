#!/bin/sh
# Runs a program inside umockdev-run as a udev-managed evdev node's consumer:
# udev's database from DIR/udev (as feed files write it) and the node's device
# number on fstat(), through the preloaded shim (udev_node_shim.c).
# Usage: udev-node-run.sh SHIM.so DIR PROGRAM [ARGS...]
shim="$1" dir="$2"
shift 2
export TL_UDEV_RUN_DIR="$dir/udev"
export LD_PRELOAD="$shim${LD_PRELOAD:+:$LD_PRELOAD}"
exec "$@"
