#!/usr/bin/env bash
# Screenshots of the alignment view under Xvfb: two modules' live frames, and one
# module with the mask editor open and a painted stroke.
# Usage: tools/screenshots/align-view.sh [two-modules.png] [mask-editor.png]
set -euo pipefail
cd "$(dirname "$0")/../.."
two=${1:-docs/alignment-two-modules.png}
mask=${2:-docs/alignment-mask-editor.png}
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1080x24" build/bin/tesselink-align-shots "$two" "$mask"
