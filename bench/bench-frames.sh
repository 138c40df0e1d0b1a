#!/usr/bin/env bash
# The frames table of a day-long recording: orvan-cli frames over a whole
# day (about ten million entries, an image of 2 TB that is sparse beyond its
# index and one loop of records) written to a file, with and without the
# records' MD5 and SHA-256. Prints rows a second (median of three runs) and
# the command's peak memory, which must not grow with the span.
#
#   bench/bench-frames.sh [HOURS]      (default 24)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" -j "$(nproc)" --target orvan-cli orvan-mkdisk >/dev/null
HOURS=${1:-24}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
IMG="$WORK/day.img"
"$BUILD_DIR/tools/orvan-mkdisk" -o "$IMG" --duration "$((HOURS * 3600))" --fps 25 --loop 10 \
  --size 2T --events 24
FROM="2008-02-14 09:44:57"  # the recording's start; the span runs to its end

run() {  # LABEL ARGS...: median seconds of three runs, rows, peak KiB
  local label=$1
  shift
  local runs=() rows=0 peak=0
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s.%N)
    /usr/bin/time -f '%M' -o "$WORK/mem" "$BUILD_DIR/tools/orvan-cli" frames "$IMG" --from "$FROM" \
      --to "2009-01-01 00:00:00" -o "$WORK/table.csv" --overwrite "$@" 2>/dev/null
    t1=$(date +%s.%N)
    runs+=("$(echo "$t1 - $t0" | bc -l)")
    rows=$(($(wc -l <"$WORK/table.csv") - 1))
    peak=$(cat "$WORK/mem")
  done
  local median
  median=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p)
  printf '%-28s %9d rows %8.2f s %10.0f rows/s  peak %6d KiB\n' "$label" "$rows" "$median" \
    "$(echo "$rows / $median" | bc -l)" "$peak"
}

echo "== frames over $HOURS h of a 4-channel 25 fps recording with audio ($(nproc) CPUs), to a file"
run "without hashes (--no-hash)" --no-hash
run "with MD5 and SHA-256"
echo "target: at least 1000000 rows/s (without hashes; with them the digests of every record bound it)"
