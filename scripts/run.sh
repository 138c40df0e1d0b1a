#!/usr/bin/env bash
# Installs what is missing, builds, makes the bundled sample recording if it
# is not there yet, and plays it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)"
SAMPLE=samples/sample.img
if [ -x "$BUILD_DIR/tools/orvan-mkdisk" ] && [ ! -f "$SAMPLE" ]; then
  mkdir -p samples
  "$BUILD_DIR/tools/orvan-mkdisk" -o "$SAMPLE" --duration 60 --events 12 --seed 1
fi
if [ -x "$BUILD_DIR/app/orvan-viewer" ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$BUILD_DIR/app/orvan-viewer" --image "$SAMPLE" --hdd "$@"
elif [ -x "$BUILD_DIR/tools/orvan-cli" ] && [ -x "$BUILD_DIR/app/orvan-viewer" ]; then
  echo "No display: the sample's summary, then ten seconds of it played headless." >&2
  "$BUILD_DIR/tools/orvan-cli" info "$SAMPLE"
  "$BUILD_DIR/tools/orvan-cli" play "$SAMPLE" --duration 10
elif [ -x "$BUILD_DIR/tools/orvan-cli" ]; then
  "$BUILD_DIR/tools/orvan-cli" info "$SAMPLE"
  "$BUILD_DIR/tools/orvan-cli" events "$SAMPLE"
else
  echo "Built. The sample tools are not part of this build yet." >&2
fi
