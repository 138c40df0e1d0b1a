#!/usr/bin/env bash
# Playback pipeline benchmark: plays one recording through the real player,
# viewers, decoders and drawers (orvan-cli play --no-pacing) and decodes the
# same pictures with the ffmpeg tool, then prints the CPU seconds of each,
# their ratio, the pipeline's peak memory, and the CPU cost of playing one
# minute at normal speed.
#
#   bench/bench-playback.sh [DISK]     (default: a new one-minute sample)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" -j "$(nproc)" >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

DISK=${1:-}
if [ -z "$DISK" ]; then
  DISK="$WORK/sample.img"
  "$BUILD_DIR/tools/orvan-mkdisk" -o "$DISK" --duration 60 --events 12 --seed 1 >/dev/null
fi
"$BUILD_DIR/tools/orvan-extract" "$DISK" "$WORK" >/dev/null

# user + system seconds and peak RSS (KiB) of one command, from GNU time.
measure() {
  /usr/bin/time -f "%U %S %M" -o "$WORK/time" "$@" >"$WORK/out" 2>"$WORK/err" || {
    cat "$WORK/err" >&2
    return 1
  }
  read -r user sys rss <"$WORK/time"
  echo "$(echo "$user + $sys" | bc -l) $rss"
}

read -r pipeline_cpu pipeline_rss < <(measure "$BUILD_DIR/tools/orvan-cli" play "$DISK" --no-pacing --json)
frames=$(grep -o '"decoded": [0-9]*' "$WORK/out" | awk '{s+=$2} END {print s}')

ffmpeg_cpu=0
for stream in "$WORK"/ch*; do
  case "$stream" in
    *.m4v) fmt=m4v ;;
    *) fmt=mjpeg ;;
  esac
  read -r cpu _ < <(measure ffmpeg -nostdin -hide_banner -loglevel error -threads 1 -f "$fmt" -i "$stream" -f null -)
  ffmpeg_cpu=$(echo "$ffmpeg_cpu + $cpu" | bc -l)
done

read -r minute_cpu _ < <(measure "$BUILD_DIR/tools/orvan-cli" play "$DISK" --duration 60)

printf 'recording                 %s\n' "$DISK"
printf 'pictures decoded          %s (four channels, 720 x 480)\n' "$frames"
printf 'pipeline CPU seconds      %.2f  (orvan-cli play --no-pacing: read, decode, convert, draw)\n' "$pipeline_cpu"
printf 'ffmpeg decode CPU seconds %.2f  (ffmpeg -threads 1, the same pictures, no conversion)\n' "$ffmpeg_cpu"
printf 'ratio pipeline / ffmpeg   %.2f\n' "$(echo "$pipeline_cpu / $ffmpeg_cpu" | bc -l)"
printf 'pipeline peak memory      %.1f MiB\n' "$(echo "$pipeline_rss / 1024" | bc -l)"
printf 'one minute at normal speed: %.2f CPU seconds (%.1f%% of one core)\n' "$minute_cpu" \
  "$(echo "$minute_cpu / 60 * 100" | bc -l)"
