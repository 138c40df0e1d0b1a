#!/usr/bin/env bash
# The examination report of a day-long recording (10 million index
# entries, four channels at 25 pictures a second, a sparse 2 TB image):
# orvan-cli report without --hash, as HTML and as PDF, next to reading the
# index area once with dd (the floor: the report reads it twice). Prints
# the wall seconds (median of three runs, page cache warm); the target is
# under 5 s.
#
#   bench/bench-report.sh
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" -j2 --target orvan-cli orvan-mkdisk >/dev/null
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
DAY="$WORK/day.img"
"$BUILD_DIR/tools/orvan-mkdisk" -o "$DAY" --duration 86400 --fps 25 --loop 10 --size 2T |
  sed 's/^/made: /'
export QT_QPA_PLATFORM=offscreen

# Median wall seconds of three runs of a command.
wall() {
  local runs=()
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    t1=$(date +%s.%N)
    runs+=("$(echo "$t1 - $t0" | bc -l)")
  done
  printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p
}

# The index area: the first indexAreaMiB MiB after the header.
MIB=$("$BUILD_DIR/tools/orvan-cli" info "$DAY" --json | sed -n 's/.*"indexAreaMiB": \([0-9]*\).*/\1/p')
index=$(wall dd if="$DAY" of=/dev/null bs=8M count=$(((MIB + 7) / 8 + 1)))
html=$(wall "$BUILD_DIR/tools/orvan-cli" report "$DAY" -o "$WORK/day.html" --overwrite)
pdf=$(wall "$BUILD_DIR/tools/orvan-cli" report "$DAY" -o "$WORK/day.pdf" --overwrite)
echo "== day-long recording, $(nproc) CPUs, page cache warm (index area $MIB MiB)"
printf '%-40s %8.2f s\n' "dd of the index area (one read)" "$index"
printf '%-40s %8.2f s  (%.1f x the read)\n' "orvan-cli report -o day.html" "$html" \
  "$(echo "$html / $index" | bc -l)"
printf '%-40s %8.2f s  (%.1f x the read)\n' "orvan-cli report -o day.pdf" "$pdf" \
  "$(echo "$pdf / $index" | bc -l)"
printf 'target: under 5 s without --hash: %s\n' \
  "$(echo "$html < 5 && $pdf < 5" | bc -l | sed 's/1/met/;s/0/NOT met/')"
