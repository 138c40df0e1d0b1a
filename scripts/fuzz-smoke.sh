#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each one
# briefly on a seed corpus cut from a sample recording.
#   scripts/fuzz-smoke.sh                 about 20 s per target
#   ORVAN_FUZZ_SECONDS=300 scripts/fuzz-smoke.sh
#   ORVAN_TOOLS_DIR=build/tools scripts/fuzz-smoke.sh
#                                         seeds made with tools already built
#                                         (the fuzz build then makes only the
#                                         targets and the libraries they test)
#   ORVAN_FUZZ_SEED=1 scripts/fuzz-smoke.sh
#                                         libFuzzer's random seed fixed and a
#                                         fixed number of runs per target (about
#                                         ORVAN_FUZZ_SECONDS of work on a quiet
#                                         machine, however long it takes), so
#                                         how much is tried does not depend on
#                                         the machine's speed or load (CI). The
#                                         inputs still differ a little from run
#                                         to run: libFuzzer's choices follow the
#                                         coverage it sees, not only its seed.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_FUZZ_BUILD_DIR:-build-fuzz}
SECONDS_EACH=${ORVAN_FUZZ_SECONDS:-20}
TOOLS=${ORVAN_TOOLS_DIR:-}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DORVAN_FUZZ=ON -DORVAN_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if [ -n "$TOOLS" ]; then
  for tool in orvan-mkdisk orvan-cli orvan-extract; do
    [ -x "$TOOLS/$tool" ] || { echo "no $TOOLS/$tool" >&2; exit 1; }
  done
  cmake --build "$BUILD_DIR" -j "$(nproc)" --target fuzz_all
else
  cmake --build "$BUILD_DIR" -j "$(nproc)" --target fuzz_all orvan-mkdisk orvan-cli orvan-extract
  TOOLS="$BUILD_DIR/tools"
fi

WORK="$BUILD_DIR/fuzz-work"
rm -rf "$WORK"
mkdir -p "$WORK"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Seeds: pieces of a real recording and of a clip exported from it, and the
# start of each codec's pictures as one record of the decoder's input.
IMG="$WORK/seed.img"
"$TOOLS/orvan-mkdisk" -o "$IMG" --duration 4 --events 70 --fps 4 >/dev/null
"$TOOLS/orvan-cli" export "$IMG" --from 0 --to 4000000000 -o "$WORK/seed.in" >/dev/null 2>&1
TARGETS="disk_header index_reader data_record event_log clip_trailer decoder ewf_image survey carve_scanner"
for t in $TARGETS; do mkdir -p "$WORK/corpus_$t"; done
# bytes FILE OFFSET LENGTH: a piece of a file on stdout.
bytes() { dd if="$1" iflag=skip_bytes,count_bytes skip="$2" count="$3" status=none; }
SIZE_IN=$(stat -c %s "$WORK/seed.in")
bytes "$IMG" 0 4096 >"$WORK/corpus_disk_header/header"
bytes "$IMG" 0 2016 >"$WORK/corpus_disk_header/state-table"
{ printf '\x00\x10\x00\x00\x00\x00\x00\x00\x55\x5d\xb3\x47'; bytes "$IMG" 524288 20480; } \
  >"$WORK/corpus_index_reader/index"
{ bytes "$IMG" 524288 20; printf '\x00\x00\x00\x00'; bytes "$IMG" 1572864 40000; } \
  >"$WORK/corpus_data_record/record"
bytes "$IMG" 409600 1536 >"$WORK/corpus_event_log/log"
# [index count 200, little-endian][4 spare][index]; [limit 0xffff][data area]
{ printf '\xc8\x00\x00\x00\x00\x00\x00\x00'; bytes "$IMG" 524288 20480; } \
  >"$WORK/corpus_survey/index"
{ printf '\xff\xff'; bytes "$IMG" 1572864 60000; } >"$WORK/corpus_carve_scanner/data"
{ printf '\x00\x00\x00\x00\x00\x00\x00\x00'; bytes "$WORK/seed.in" $((SIZE_IN - 2100)) 2100; } \
  >"$WORK/corpus_clip_trailer/trailer"
"$TOOLS/orvan-mkdisk" -o "$WORK/mjpeg.img" --duration 1 --fps 2 --codec mjpeg >/dev/null
mkdir -p "$WORK/streams"
"$TOOLS/orvan-extract" "$IMG" "$WORK/streams" >/dev/null
"$TOOLS/orvan-extract" "$WORK/mjpeg.img" "$WORK/streams" >/dev/null
# [decoder: 0 MPEG-4, 1 MJPEG] [kind: 1 key picture] [4000, little-endian] [bytes]
{ printf '\x00\x01\xa0\x0f'; bytes "$WORK/streams/ch0.m4v" 0 4000; } >"$WORK/corpus_decoder/mpeg4"
{ printf '\x01\x01\xa0\x0f'; bytes "$WORK/streams/ch0.mjpeg" 0 4000; } >"$WORK/corpus_decoder/mjpeg"
# An E01 of such an image's first 64 KiB in small chunks (ewfacquire -b 16
# -c deflate:fast), kept in the tree: one made here would carry the time of
# its making, and the inputs would differ from run to run. The first byte
# makes it one segment file.
{ printf '\x00'; cat fuzz/seeds/head.E01; } >"$WORK/corpus_ewf_image/e01"

# libewf 20140813 loses the chunk buffers it had made for a read that fails
# on a damaged chunk table (it frees the handle and all else): not ours to
# mend, and not to be taken for a leak of ours.
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan-suppressions.txt
# Inputs a second on a quiet machine, for the runs of the seeded mode.
declare -A RATE=([disk_header]=150000 [index_reader]=9000 [data_record]=30000 [event_log]=2000
  [clip_trailer]=30000 [decoder]=150 [ewf_image]=1000 [survey]=300 [carve_scanner]=150)

status=0
for t in $TARGETS; do
  if [ -n "${ORVAN_FUZZ_SEED:-}" ]; then
    limit=(-seed="$ORVAN_FUZZ_SEED" -runs=$((RATE[$t] * SECONDS_EACH)))
    echo "== fuzz_$t (seed $ORVAN_FUZZ_SEED, ${limit[1]#-runs=} runs)"
  else
    limit=(-max_total_time="$SECONDS_EACH")
    echo "== fuzz_$t (${SECONDS_EACH} s)"
  fi
  if ! "$BUILD_DIR/fuzz/fuzz_$t" "${limit[@]}" -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="$WORK/crash_${t}_" -print_final_stats=1 "$WORK/corpus_$t" 2>"$WORK/fuzz_$t.log"; then
    echo "fuzz_$t found a problem:"; tail -n 40 "$WORK/fuzz_$t.log"; status=1
  else
    grep -E '^stat::number_of_executed_units|^stat::new_units_added|cov:' "$WORK/fuzz_$t.log" | tail -n 3
  fi
done
exit $status
