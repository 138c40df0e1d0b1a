#!/usr/bin/env bash
# Export benchmark. Makes a five-minute four-channel recording at 25
# pictures a second per channel (or takes DISK) and prints, for a clip
# export (.in + .da) and a Matroska export (four .mkv) of the whole
# recording through orvan-cli, the wall time and throughput next to a plain
# sequential read (dd, 1 MiB reads) of the same bytes (the index entries and
# the records) in the same cache state:
#
#   - page cache warm: the image read through once before;
#   - page cache cold: the image's pages dropped before each run;
#   - cold, read at a hard disk's pace: as cold, with the reads of this
#     benchmark's processes held to HDD_MIBS MiB/s (default 150) by the
#     kernel's block I/O throttle, as a recorder disk in a USB or SATA dock
#     reads. Needs root and the blkio (cgroup v1) or io (cgroup v2)
#     controller; skipped otherwise.
#
# Every export is followed by the files' sync (the export syncs its own
# files before it reports), and every run starts with the previous outputs
# removed and the machine's dirty pages written. The plain read writes
# nothing: an export that keeps up with it is one that runs as fast as the
# disk reads. A plain copy into a synced file is printed beside it.
# Figures are medians of REPEAT runs (default 3).
#
#   [REPEAT=N] [HDD_MIBS=N] bench/bench-export.sh [DISK]
set -euo pipefail
REPEAT=${REPEAT:-3}
HDD_MIBS=${HDD_MIBS:-150}
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" -j "$(nproc)" --target orvan-cli orvan-mkdisk >/dev/null
CLI=$PWD/$BUILD_DIR/tools/orvan-cli
WORK=$(mktemp -d "${TMPDIR:-/var/tmp}/orvan-bench-export.XXXXXX")
GROUP=
cleanup() {
  rm -rf "$WORK"
  if [ -n "$GROUP" ] && [ -d "$GROUP" ]; then rmdir "$GROUP" 2>/dev/null || true; fi
}
trap cleanup EXIT
# shellcheck source=bench/bench_lib.sh
source bench/bench_lib.sh

DISK=${1:-}
if [ -z "$DISK" ]; then
  DISK="$WORK/sample.img"
  "$BUILD_DIR/tools/orvan-mkdisk" -o "$DISK" --duration 300 --fps 25 --events 12 --seed 1 >/dev/null
fi
info=$("$CLI" info "$DISK" --json)
field() { echo "$info" | grep -o "\"$1\": [^,}]*" | head -1 | cut -d' ' -f2 | tr -d '"'; }
data_base=$(field dataBase)
index_count=$(field indexCount)
from=$(field startSeconds)
to=$(($(field endSeconds) + 1))
index_offset=524288
entry_bytes=20
index_bytes=$((index_count * entry_bytes))

# The index entries, then the records, on standard output.
read_bytes() {
  dd if="$DISK" bs=1M iflag=skip_bytes,count_bytes skip=$index_offset count=$index_bytes \
    status=none
  dd if="$DISK" bs=1M iflag=skip_bytes,count_bytes skip="$data_base" count="$DATA_BYTES" \
    status=none
}
plain_read() { read_bytes >/dev/null; }
plain_copy() { read_bytes >"$WORK/out/copy" && sync "$WORK/out/copy"; }
export_to() {
  "$CLI" export "$DISK" --from "$from" --to "$to" -o "$WORK/out/$1"
}
export -f read_bytes plain_read plain_copy export_to

# The records' bytes: the clip's data file holds them back to back.
mkdir -p "$WORK/out"
export_to size.in >/dev/null 2>&1
DATA_BYTES=$(stat -c %s "$WORK/out/size.da")
BYTES=$((index_bytes + DATA_BYTES))
export DISK DATA_BYTES CLI WORK index_offset index_bytes data_base from to

mibs() { echo "$BYTES / 1048576 / $1" | bc -l; }
# One export's line: NAME SECONDS, against read_s and copy_s.
report_export() {
  printf '  %-27s %6.0f MiB/s (%.2f s) = %.2f of the read, %.2f of the copy\n' "$1" \
    "$(mibs "$2")" "$2" "$(echo "$read_s / $2" | bc -l)" "$(echo "$copy_s / $2" | bc -l)"
}

printf 'recording          %s: %.1f MiB of index entries and records\n' "$DISK" \
  "$(echo "$BYTES / 1048576" | bc -l)"
printf 'load               %s\n' "$(uptime | sed 's/.*load average: //')"
printf '(wall time of whole commands, orvan-cli start-up included; medians of %s)\n' "$REPEAT"
states=("warm:warm_cache:0" "cold:drop_cache:0")
if setup_throttle; then
  states+=("cold, reads at $HDD_MIBS MiB/s:drop_cache:1")
else
  echo "(no block I/O throttle here: root and the blkio or io controller are needed;" \
    "the hard disk's pace is skipped)"
fi
for state in "${states[@]}"; do
  IFS=: read -r name prepare throttled <<<"$state"
  read_s=$(measure "$prepare" "$throttled" plain_read)
  copy_s=$(measure "$prepare" "$throttled" plain_copy)
  clip_s=$(measure "$prepare" "$throttled" export_to bench.in)
  mkv_s=$(measure "$prepare" "$throttled" export_to bench.mkv)
  printf 'page cache %s:\n' "$name"
  printf '  plain sequential read       %6.0f MiB/s (%.2f s)\n' "$(mibs "$read_s")" "$read_s"
  printf '  plain copy, synced          %6.0f MiB/s (%.2f s)\n' "$(mibs "$copy_s")" "$copy_s"
  report_export "clip export" "$clip_s"
  report_export "Matroska export" "$mkv_s"
done
echo "(target: an export at 0.80 of the read or better)"
