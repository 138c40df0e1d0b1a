#!/usr/bin/env bash
# Survey and carve benchmark. Makes a five-minute four-channel recording at
# 25 pictures a second over an earlier ten-minute one, with most of the live
# index's sectors lost (or takes DISK), and prints the wall time and
# throughput of `orvan-cli survey` and `orvan-cli carve` next to a plain
# sequential read (dd, 4 MiB reads) of the same bytes: the index area the
# survey reads and the windows of the data area it reads the records'
# starts from; for the carve, those and the unreferenced stretches it scans.
# In the cache states of bench/bench-export.sh: warm, cold, and cold read at
# a hard disk's pace (HDD_MIBS MiB/s, default 150, through the kernel's
# block I/O throttle; needs root, skipped otherwise). Medians of REPEAT runs
# (default 3). The target: both at 0.80 of the read or better.
#
#   [REPEAT=N] [HDD_MIBS=N] bench/bench-recovery.sh [DISK]
set -euo pipefail
REPEAT=${REPEAT:-3}
HDD_MIBS=${HDD_MIBS:-150}
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" -j "$(nproc)" --target orvan-cli orvan-mkdisk >/dev/null
CLI=$PWD/$BUILD_DIR/tools/orvan-cli
WORK=$(mktemp -d "${TMPDIR:-/var/tmp}/orvan-bench-recovery.XXXXXX")
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
  echo "making the recording (five minutes over ten) ..."
  "$BUILD_DIR/tools/orvan-mkdisk" -o "$DISK" --duration 300 --fps 25 --previous 600 \
    --lose-index 100:1200 --seed 1 >/dev/null
fi
json() { python3 -c "import json,sys; d=json.load(sys.stdin); print($1)"; }
survey=$("$CLI" survey "$DISK" --json)
index_bytes=$(echo "$survey" | json 'd["read"]["indexBytes"]')
data_bytes=$(echo "$survey" | json 'd["read"]["dataBytes"]')
data_base=$(echo "$survey" | json 'd["dataBase"]')
mkdir -p "$WORK/carve"
carved=$("$CLI" carve "$DISK" -o "$WORK/carve" --json --overwrite)
scanned=$(echo "$carved" | json 'd["bytesScanned"]')
# The unreferenced stretches the carve scans, as the survey lists them.
echo "$survey" | json '"\n".join("%d %d" % (r["offset"], r["bytes"]) for r in d["dataArea"]["unreferencedList"])' \
  >"$WORK/stretches"
pictures=$(echo "$carved" | json 'len(d["pictures"])')
SURVEY_BYTES=$((index_bytes + data_bytes))
CARVE_BYTES=$((SURVEY_BYTES + scanned))
export DISK CLI WORK index_bytes data_bytes data_base scanned

# The same bytes, read sequentially: the index, then the data area.
plain_survey() {
  dd if="$DISK" bs=4M iflag=skip_bytes,count_bytes skip=524288 count="$index_bytes" status=none
  dd if="$DISK" bs=4M iflag=skip_bytes,count_bytes skip="$data_base" count="$data_bytes" status=none
}
plain_carve() {
  plain_survey
  while read -r at bytes; do
    dd if="$DISK" bs=4M iflag=skip_bytes,count_bytes skip="$at" count="$bytes" status=none
  done <"$WORK/stretches"
}
run_survey() { "$CLI" survey "$DISK" --json; }
run_carve() { rm -rf "$WORK/carve" && "$CLI" carve "$DISK" -o "$WORK/carve" --json; }
export -f plain_survey plain_carve run_survey run_carve

mibs() { echo "$1 / 1048576 / $2" | bc -l; }
line() {  # NAME BYTES SECONDS [READ_SECONDS]
  if [ -n "${4:-}" ]; then
    printf '  %-24s %6.0f MiB/s (%.2f s) = %.2f of the read\n' "$1" "$(mibs "$2" "$3")" "$3" \
      "$(echo "$4 / $3" | bc -l)"
  else
    printf '  %-24s %6.0f MiB/s (%.2f s)\n' "$1" "$(mibs "$2" "$3")" "$3"
  fi
}

printf 'disk               %s\n' "$DISK"
printf 'survey reads       %.1f MiB (index %.1f, records'"'"' starts %.1f)\n' \
  "$(echo "$SURVEY_BYTES / 1048576" | bc -l)" "$(echo "$index_bytes / 1048576" | bc -l)" \
  "$(echo "$data_bytes / 1048576" | bc -l)"
printf 'carve reads        %.1f MiB (the survey, and %.1f MiB unreferenced), %s pictures\n' \
  "$(echo "$CARVE_BYTES / 1048576" | bc -l)" "$(echo "$scanned / 1048576" | bc -l)" "$pictures"
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
  read_s=$(measure "$prepare" "$throttled" plain_survey)
  survey_s=$(measure "$prepare" "$throttled" run_survey)
  readc_s=$(measure "$prepare" "$throttled" plain_carve)
  carve_s=$(measure "$prepare" "$throttled" run_carve)
  printf 'page cache %s:\n' "$name"
  line "plain read (survey's)" "$SURVEY_BYTES" "$read_s"
  line "survey" "$SURVEY_BYTES" "$survey_s" "$read_s"
  line "plain read (carve's)" "$CARVE_BYTES" "$readc_s"
  line "carve" "$CARVE_BYTES" "$carve_s" "$readc_s"
  printf '  %-24s %6.0f a second\n' "carved pictures" "$(echo "$pictures / $carve_s" | bc -l)"
done
# What a carve costs the processors: the decoder's check and the PNG of
# every picture found, on worker threads beside the reading.
/usr/bin/time -f "%U %S" -o "$WORK/cpu" "$CLI" carve "$DISK" -o "$WORK/carve-cpu" >/dev/null
read -r user sys <"$WORK/cpu"
printf 'carve, processor time      %.2f s user + %.2f s system for %s pictures (%.1f ms each)\n' \
  "$user" "$sys" "$pictures" "$(echo "($user + $sys) * 1000 / $pictures" | bc -l)"
echo "(target: survey and carve at 0.80 of the read or better)"
