#!/usr/bin/env bash
# Hashing throughput: orvan-cli hash (SHA-256 and MD5 in one pass) against
# sha256sum and md5sum on the same raw file, read from the page cache, and
# the same data as an E01. Prints the wall seconds (median of three runs),
# MB/s of each and the ratio to sha256sum.
#
#   bench/bench-hash.sh [MIB]      (default 1024 MiB of random bytes)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ORVAN_BUILD_DIR:-build}
cmake --build "$BUILD_DIR" -j "$(nproc)" --target orvan-cli >/dev/null
MIB=${1:-1024}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
RAW="$WORK/disk.raw"
head -c "$((MIB * 1048576))" /dev/urandom >"$RAW"
cat "$RAW" >/dev/null

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

report() {  # NAME SECONDS
  printf '%-34s %8.2f s %9.1f MB/s\n' "$1" "$2" "$(echo "$MIB * 1.048576 / $2" | bc -l)"
}

sha=$(wall sha256sum "$RAW")
md5=$(wall md5sum "$RAW")
orvan=$(wall "$BUILD_DIR/tools/orvan-cli" hash "$RAW")
echo "== $MIB MiB raw file, page cache warm, $(nproc) CPUs"
report "sha256sum" "$sha"
report "md5sum" "$md5"
report "sha256sum + md5sum (two passes)" "$(echo "$sha + $md5" | bc -l)"
report "orvan-cli hash (SHA-256 + MD5)" "$orvan"
printf 'orvan-cli hash / sha256sum throughput: %.2f (target: at least 0.90)\n' \
  "$(echo "$sha / $orvan" | bc -l)"

if command -v ewfacquire >/dev/null; then
  ewfacquire -u -q -c deflate:fast -S 1.9GiB -t "$WORK/disk" "$RAW" >/dev/null
  cat "$WORK"/disk.E* >/dev/null
  e01=$(wall "$BUILD_DIR/tools/orvan-cli" hash "$WORK/disk.E01")
  report "orvan-cli hash of the E01 (+ SHA-1)" "$e01"
fi
