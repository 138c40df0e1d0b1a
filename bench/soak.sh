#!/usr/bin/env bash
# Soak: plays a day-long recording (a sparse 2 TB image from orvan-mkdisk,
# one minute of pictures repeated) at 16 times in the main window under
# Xvfb, samples the window's resident memory, open descriptors and threads
# every 10 s, and prints their growth after the first minute (targets: under
# 5 MB, no descriptor, no thread). A script to run by hand, not a test.
#
#   bench/soak.sh [MINUTES] [DISK]      (default 30 minutes, a new day-long image)
set -euo pipefail
MINUTES=${1:-30}
DISK=${2:-}
cd "$(dirname "$0")/.."
ROOT=$(pwd)
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" --target orvan-viewer orvan-mkdisk >/dev/null
WORK=$(mktemp -d)
XVFB=
VIEWER=
cleanup() {
  [ -n "$VIEWER" ] && kill "$VIEWER" 2>/dev/null || true
  [ -n "$VIEWER" ] && wait "$VIEWER" 2>/dev/null || true
  [ -n "$XVFB" ] && kill "$XVFB" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

if [ -z "$DISK" ]; then
  DISK="$WORK/day.img"
  echo "making a day-long sparse image ..." >&2
  "$ROOT/$BUILD_DIR/tools/orvan-mkdisk" -o "$DISK" --duration 86400 --loop 60 --size 2T \
    --events 48 >/dev/null
fi

# A display of its own (the first free number from :90).
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB=$!
for _ in $(seq 1 60); do
  [ -s "$WORK/display" ] && break
  sleep 0.5
done
export DISPLAY=":$(head -1 "$WORK/display")"

cd "$WORK"
XDG_CONFIG_HOME="$WORK" SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} \
  "$ROOT/$BUILD_DIR/app/orvan-viewer" --image "$DISK" --hdd >"$WORK/viewer.log" 2>&1 &
VIEWER=$!
WINDOW=
for _ in $(seq 1 120); do
  WINDOW=$(xdotool search --pid "$VIEWER" --name "ORVAN Viewer" 2>/dev/null | head -1 || true)
  [ -n "$WINDOW" ] && break
  sleep 0.5
done
[ -n "$WINDOW" ] || { echo "the window did not show" >&2; exit 1; }
sleep 3
# Four steps up from normal speed: 2, 4, 8, 16 times (keys go to the
# focused window; events sent to a window are ignored by Qt).
xdotool windowfocus --sync "$WINDOW" 2>/dev/null || true
for _ in 1 2 3 4; do
  xdotool key bracketright
  sleep 0.3
done

sample() {
  local rss fds threads
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$VIEWER/status")
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$VIEWER/status")
  fds=$(ls "/proc/$VIEWER/fd" | wc -l)
  echo "$rss $fds $threads"
}

echo "seconds  rss_kib  fds  threads"
START=$(date +%s)
END=$((START + MINUTES * 60))
BASE=
LAST=
MAXRSS=0
while [ "$(date +%s)" -lt "$END" ]; do
  kill -0 "$VIEWER" 2>/dev/null || { echo "the window ended:" >&2; cat "$WORK/viewer.log" >&2; exit 1; }
  read -r rss fds threads < <(sample)
  t=$(($(date +%s) - START))
  printf "%7d  %7d  %3d  %7d\n" "$t" "$rss" "$fds" "$threads"
  [ -z "$BASE" ] && [ "$t" -ge 60 ] && BASE="$rss $fds $threads"
  LAST="$rss $fds $threads"
  [ "$rss" -gt "$MAXRSS" ] && MAXRSS=$rss
  sleep 10
done
import -window root -crop 960x580+0+0 "$ROOT/soak-end.png" 2>/dev/null || true

[ -n "$BASE" ] || BASE=$LAST
read -r rss0 fds0 th0 <<<"$BASE"
read -r rss1 fds1 th1 <<<"$LAST"
echo
echo "after the first minute, over $((MINUTES - 1)) minutes of playing at 16x:"
printf "  resident memory  %+d KiB (%.2f MB; from %d to %d KiB, at most %d)\n" \
  $((rss1 - rss0)) "$(echo "($rss1 - $rss0) * 1024 / 1000000" | bc -l)" "$rss0" "$rss1" "$MAXRSS"
printf "  descriptors      %+d (from %d to %d)\n" $((fds1 - fds0)) "$fds0" "$fds1"
printf "  threads          %+d (from %d to %d)\n" $((th1 - th0)) "$th0" "$th1"
echo "  the window at the end: soak-end.png"
