#!/usr/bin/env bash
# Screenshots of the wizard's first page under Xvfb in English, German, Arabic
# and Persian (the right-to-left languages mirror every group). Takes all the
# dialog shots into a scratch folder and keeps the first-page ones.
# Usage: tools/screenshots/wizard-pages.sh [outdir]
set -euo pipefail
cd "$(dirname "$0")/../.."
out=${1:-docs}
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1920x1080x24" build/bin/tesselink-dialog-shots "$work"
for lang in en de ar fa; do
  cp "$work/wizard-page1-$lang.png" "$out/"
  echo "screenshot: $out/wizard-page1-$lang.png"
done
