#!/usr/bin/env bash
# Plays the bundled sample in orvan-viewer under Xvfb and saves a screenshot
# of the window after a few seconds of playing.
#
#   bash scripts/screenshot.sh [OUT.png] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
OUT=${1:-viewer.png}
SECONDS_PLAYING=${2:-5}
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
SAMPLE=samples/sample.img
if [ ! -f "$SAMPLE" ]; then
  mkdir -p samples
  "$BUILD_DIR/tools/orvan-mkdisk" -o "$SAMPLE" --duration 60 --events 12 --seed 1
fi
SCREEN=${ORVAN_XVFB_DISPLAY:-:91}
Xvfb "$SCREEN" -screen 0 1280x1024x24 >/dev/null 2>&1 &
XVFB=$!
trap 'kill "$XVFB" 2>/dev/null || true' EXIT
sleep 1
DISPLAY=$SCREEN SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} \
  "$BUILD_DIR/app/orvan-viewer" --image "$SAMPLE" --hdd &
VIEWER=$!
sleep "$SECONDS_PLAYING"
DISPLAY=$SCREEN import -window root -crop 960x580+0+0 "$OUT"
echo "saved $OUT"
kill "$VIEWER" 2>/dev/null || true
sleep 1
