#!/usr/bin/env bash
# Screenshots of the calibration window under Xvfb at 1920 x 1080: the auto
# pattern and a manual target with its ring half drawn, and the overlay of the
# demo's pattern scenario (expected centres green, found centres red).
# Usage: tools/screenshots/calibration-window.sh [outdir]
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-docs}
mkdir -p "$out"
xvfb-run -a -s "-screen 0 1920x1080x24" build/bin/calshot "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build/bin/tesselink-demo --scenario pattern --display 1920x1080 --lens 1 --seed 1 --find-speed 0.05 \
    --save-images "$work" | tail -1
convert "$work/overlay.png" -colors 128 "PNG8:$out/pattern-overlay.png"
