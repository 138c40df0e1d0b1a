#!/usr/bin/env bash
# Playback benchmark. Makes a one-minute four-channel recording at 25
# pictures a second per channel (or takes DISK) and prints:
#
#   - unpaced play (orvan-cli play --no-pacing: read, decode, convert, draw)
#     against the ffmpeg tool decoding the same pictures;
#   - a paced 20 s play: CPU per shown picture against ffmpeg's decode +
#     conversion to BGRA + scaling to 360 x 240 (the size a tile shows) per
#     picture, and the share of one core while playing; the per-picture
#     figure with the start-up (the whole run over the pictures shown) and
#     without it (the 20 s run less a 5 s run, over the pictures between);
#   - ffmpeg doing the same work paced (-re, the four channels at once for
#     20 s): what the same pictures cost when they come at the recording's
#     pace, with the caches cold between two pictures of a channel;
#   - the main window paused for 10 s on the recording;
#   - the pipeline's peak memory.
#
# The paced figures are medians of REPEAT runs (default 3). Every figure is CPU time (user + system of the process and all its
# threads, from GNU time or getrusage), not wall time, so other work on the
# machine does not inflate it; shares of a core are CPU time over the wall
# time the process ran.
#
#   [REPEAT=N] bench/bench-playback.sh [DISK]
set -euo pipefail
REPEAT=${REPEAT:-3}
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" -j "$(nproc)" \
  --target orvan-cli orvan-mkdisk orvan-extract paused_window_bench >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

load_before=$(uptime)
DISK=${1:-}
if [ -z "$DISK" ]; then
  DISK="$WORK/sample.img"
  "$BUILD_DIR/tools/orvan-mkdisk" -o "$DISK" --duration 60 --fps 25 --events 12 --seed 1 >/dev/null
fi
"$BUILD_DIR/tools/orvan-extract" "$DISK" "$WORK" >/dev/null

# "CPU-seconds wall-seconds peak-KiB" of one command, from GNU time.
measure() {
  /usr/bin/time -f "%U %S %e %M" -o "$WORK/time" "$@" >"$WORK/out" 2>"$WORK/err" || {
    cat "$WORK/err" >&2
    return 1
  }
  read -r user sys wall rss <"$WORK/time"
  echo "$(echo "$user + $sys" | bc -l) $wall $rss"
}
# Sum of one number field over the channels of orvan-cli's JSON report.
json_sum() { grep -o "\"$1\": [0-9]*" "$WORK/out" | awk '{s+=$2} END {print s+0}'; }

# ffmpeg over every extracted channel: "CPU-seconds pictures".
ffmpeg_run() {
  local total=0 pictures=0 stream fmt cpu n
  for stream in "$WORK"/ch*; do
    case "$stream" in
      *.m4v) fmt=m4v ;;
      *) fmt=mjpeg ;;
    esac
    read -r cpu _ _ < <(measure ffmpeg -nostdin -hide_banner -loglevel error -threads 1 \
      -filter_threads 1 -f "$fmt" -i "$stream" "$@" -f null -)
    n=$(ffprobe -v error -f "$fmt" -count_frames -select_streams v:0 \
      -show_entries stream=nb_read_frames -of csv=p=0 "$stream")
    total=$(echo "$total + $cpu" | bc -l)
    pictures=$((pictures + n))
  done
  echo "$total $pictures"
}

read -r pipeline_cpu _ pipeline_rss < <(measure "$BUILD_DIR/tools/orvan-cli" play "$DISK" --no-pacing --json)
decoded=$(json_sum decoded)
read -r decode_cpu decode_pictures < <(ffmpeg_run)
read -r tile_cpu tile_pictures < <(ffmpeg_run -vf "scale=360:240:flags=bilinear,format=bgra")

# The middle value of the arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# Paced plays of 20 s and of 5 s, REPEAT times each, alternated.
long_cpu=() long_wall=() long_shown=() short_cpu=() short_shown=() paced_rss=0
for _ in $(seq "$REPEAT"); do
  read -r cpu wall rss < <(measure "$BUILD_DIR/tools/orvan-cli" play "$DISK" --duration 20 --json)
  long_cpu+=("$cpu") long_wall+=("$wall") long_shown+=("$(json_sum shown)")
  paced_rss=$((rss > paced_rss ? rss : paced_rss))
  read -r cpu _ _ < <(measure "$BUILD_DIR/tools/orvan-cli" play "$DISK" --duration 5 --json)
  short_cpu+=("$cpu") short_shown+=("$(json_sum shown)")
done
per_picture_ms() { echo "$1 * 1000 / $2" | bc -l; }
paced_all=() paced_marginal=() paced_share=()
for i in "${!long_cpu[@]}"; do
  paced_all+=("$(per_picture_ms "${long_cpu[$i]}" "${long_shown[$i]}")")
  paced_marginal+=("$(echo "(${long_cpu[$i]} - ${short_cpu[$i]}) * 1000 / (${long_shown[$i]} - ${short_shown[$i]})" | bc -l)")
  paced_share+=("$(echo "${long_cpu[$i]} / ${long_wall[$i]} * 100" | bc -l)")
done
paced_cpu=$(median "${long_cpu[@]}")
paced_wall=$(median "${long_wall[@]}")
shown=$(median "${long_shown[@]}")
paced_ms=$(median "${paced_all[@]}")
marginal_ms=$(median "${paced_marginal[@]}")
share=$(median "${paced_share[@]}")
startup_cpu=$(echo "$(median "${short_cpu[@]}") - $(median "${short_shown[@]}") * $marginal_ms / 1000" | bc -l)

# ffmpeg paced: the four channels at once, at their own pace, for 20 s.
ffmpeg_paced() {
  local stream fmt c=0
  for stream in "$WORK"/ch*; do
    case "$stream" in
      *.m4v) fmt=m4v ;;
      *) fmt=mjpeg ;;
    esac
    /usr/bin/time -f "%U %S" -o "$WORK/paced$c" ffmpeg -nostdin -hide_banner -loglevel error \
      -threads 1 -filter_threads 1 -re -f "$fmt" -i "$stream" -t 20 \
      -vf "scale=360:240:flags=bilinear,format=bgra" -progress "$WORK/progress$c" -f null - &
    c=$((c + 1))
  done
  wait
  local cpu pictures=0
  cpu=$(cat "$WORK"/paced* | awk '{s += $1 + $2} END {print s}')
  for c in "$WORK"/progress*; do
    pictures=$((pictures + $(grep -o '^frame=[0-9]*' "$c" | tail -1 | cut -d= -f2)))
  done
  echo "$cpu $pictures"
}
read -r ffmpeg_paced_cpu ffmpeg_paced_pictures < <(ffmpeg_paced)

read -r _ _ _ < <(measure "$BUILD_DIR/bench/paused_window_bench" "$DISK" --seconds 10)
paused=$(cat "$WORK/out")

ffmpeg_tile_ms=$(per_picture_ms "$tile_cpu" "$tile_pictures")
ffmpeg_paced_ms=$(per_picture_ms "$ffmpeg_paced_cpu" "$ffmpeg_paced_pictures")
peak_rss=$(( pipeline_rss > paced_rss ? pipeline_rss : paced_rss ))

printf 'recording                  %s\n' "$DISK"
printf 'load before                %s\n' "${load_before#*load average: }"
printf 'load after                 %s\n' "$(uptime | sed 's/.*load average: //')"
printf '(figures are CPU time of the process and its threads, not wall time; paced: medians of %s)\n' "$REPEAT"
printf 'unpaced play               %.2f CPU s for %s pictures decoded\n' "$pipeline_cpu" "$decoded"
printf 'ffmpeg decode only         %.2f CPU s for %s pictures (-threads 1)\n' "$decode_cpu" "$decode_pictures"
printf 'ratio unpaced / decode     %.2f\n' "$(echo "$pipeline_cpu / $decode_cpu" | bc -l)"
printf 'ffmpeg decode+BGRA+360x240 %.2f CPU s for %s pictures: %.3f ms a picture\n' \
  "$tile_cpu" "$tile_pictures" "$ffmpeg_tile_ms"
printf 'paced 20 s play            %.2f CPU s in %.1f s, %s pictures shown: %.3f ms a picture\n' \
  "$paced_cpu" "$paced_wall" "$shown" "$paced_ms"
printf '  without the start-up       %.3f ms a picture (20 s run less 5 s run; start-up %.2f CPU s)\n' \
  "$marginal_ms" "$startup_cpu"
printf '  runs (ms a picture)        %s\n' "$(printf '%.3f ' "${paced_all[@]}")"
printf 'ratio paced / ffmpeg tile  %.2f  (target 1.2 or less; %.2f without the start-up)\n' \
  "$(echo "$paced_ms / $ffmpeg_tile_ms" | bc -l)" "$(echo "$marginal_ms / $ffmpeg_tile_ms" | bc -l)"
printf 'ffmpeg paced (-re), 4 at once  %.2f CPU s for %s pictures: %.3f ms a picture\n' \
  "$ffmpeg_paced_cpu" "$ffmpeg_paced_pictures" "$ffmpeg_paced_ms"
printf 'ratio paced / ffmpeg paced %.2f\n' "$(echo "$paced_ms / $ffmpeg_paced_ms" | bc -l)"
printf 'share of a core playing    %.1f%%  (target 10%% or less)\n' "$share"
printf '%s  (target 0.5%% or less)\n' "$paused"
printf 'peak memory                %.1f MiB  (target 100 MiB or less)\n' "$(echo "$peak_rss / 1024" | bc -l)"
