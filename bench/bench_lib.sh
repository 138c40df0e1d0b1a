# What the disk benchmarks share: the page cache dropped or warmed, the
# kernel's block I/O throttle (a control group whose reads from the image's
# disk are held to HDD_MIBS MiB/s), wall times of whole commands, and medians
# of REPEAT runs. Sourced; expects DISK, WORK, REPEAT and HDD_MIBS, and sets
# GROUP (the caller removes it).
drop_cache() { dd if="$DISK" iflag=nocache count=0 status=none; }
warm_cache() { cat "$DISK" >/dev/null; }

# The throttle: a control group (GROUP) whose reads from the image's disk
# are held to HDD_MIBS MiB/s; measure() runs a command in it.
disk_id() {
  local src parent
  src=$(findmnt -n -o SOURCE --target "$(dirname "$DISK")" 2>/dev/null) || return 1
  parent=$(lsblk -no PKNAME "$src" 2>/dev/null | head -1)
  [ -n "$parent" ] && src=/dev/$parent
  lsblk -dno MAJ:MIN "$src" 2>/dev/null | tr -d ' '
}
setup_throttle() {
  local id bps=$((HDD_MIBS * 1024 * 1024))
  [ "$(id -u)" -eq 0 ] || return 1
  id=$(disk_id) || return 1
  [ -n "$id" ] || return 1
  if [ -w /sys/fs/cgroup/blkio ]; then
    GROUP=/sys/fs/cgroup/blkio/orvan-bench-$$
    mkdir "$GROUP" && echo "$id $bps" >"$GROUP/blkio.throttle.read_bps_device" || return 1
  else
    local root
    for root in /sys/fs/cgroup/unified /sys/fs/cgroup; do
      grep -qw io "$root/cgroup.controllers" 2>/dev/null || continue
      echo +io >"$root/cgroup.subtree_control" 2>/dev/null || true
      GROUP=$root/orvan-bench-$$
      mkdir "$GROUP" && echo "$id rbps=$bps" >"$GROUP/io.max" || return 1
      return 0
    done
    return 1
  fi
}

# Wall seconds of one command, from GNU time.
wall() {
  /usr/bin/time -f "%e" -o "$WORK/time" "$@" >"$WORK/stdout" 2>"$WORK/stderr" || {
    cat "$WORK/stderr" >&2
    return 1
  }
  cat "$WORK/time"
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
# One measurement: the median seconds of REPEAT runs of CMD after PREPARE,
# in the throttled group when THROTTLED is 1.
measure() {
  local prepare=$1 throttled=$2
  shift 2
  local times=() t cmd=(bash -c "$*")
  [ "$throttled" = 1 ] && cmd=(bash -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$GROUP" "${cmd[@]}")
  for _ in $(seq "$REPEAT"); do
    rm -rf "$WORK/out" && mkdir -p "$WORK/out"
    sync
    $prepare
    t=$(wall "${cmd[@]}") || return 1
    times+=("$t")
  done
  median "${times[@]}"
}
