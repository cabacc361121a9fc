#!/usr/bin/env bash
# Times `quorvane grab --track 1` beside readom and dd reading the same
# QEMU drives (virtio scsi-cd and IDE ATAPI) in one guest boot, the drive
# tests' guest (tests/qemu/guest.sh), and prints MB/s of each and our share
# of readom's speed. An ISO of QUORVANE_BENCH_MB MiB (default 200) of
# random data is the disc. Under TCG every figure is far below a real
# drive's: read them side by side only.
#
# Each program is timed from process start to exit, after one untimed run
# of each: QUORVANE_BENCH_RUNS rounds (default 5) taking turns, each
# reader's runs and their median, and our speed as a share of readom's;
# nothing is asserted. Neither syncs its file. With QUORVANE_BENCH_TRACE
# set, one run of each is first traced with strace: its system calls, and
# its SCSI commands by opcode and bytes.
#   usage: bench/grab_vs_readom.sh [build folder]
set -euo pipefail
build=${1:-build}
quorvane="$build/cli/quorvane"
[ -x "$quorvane" ] || { echo "build $quorvane first (make build)" >&2; exit 1; }
quorvane=$(realpath "$quorvane")
work="$(realpath -m "$build")/bench-fixtures/grab-guest"
runs=${QUORVANE_BENCH_RUNS:-5}
. "$(cd "$(dirname "$0")" && pwd)/../tests/qemu/guest.sh"
guest_require genisoimage readom $([ -n "${QUORVANE_BENCH_TRACE:-}" ] && echo strace)
guest_prepare

mkdir -p "$work/disc"
head -c $((${QUORVANE_BENCH_MB:-200} * 1048576)) /dev/urandom >"$work/disc/RANDOM.BIN"
genisoimage -quiet -V QVBENCH -o "$work/disc.iso" "$work/disc"
rm -rf "$work/disc"
drives=(-device scsi-cd,drive=cd0,bus=scsi0.0
  -drive if=none,id=cd0,file="$work/disc.iso",media=cdrom,readonly=on,format=raw
  -drive if=ide,index=2,media=cdrom,file="$work/disc.iso",readonly=on,format=raw)
install_program "$quorvane" quorvane
install_program "$(command -v readom)" readom
echo "$runs" >"$root/lists/runs"
if [ -n "${QUORVANE_BENCH_TRACE:-}" ]; then
  install_program "$(command -v strace)" strace
  # One traced run's system calls by name, and its SCSI commands by
  # opcode and bytes asked for (strace shows the CDB of each SG_IO).
  cat >"$root/bin/calls" <<'AWK'
#!/bin/busybox awk -f
{ sub(/^[0-9]+ +/, "") }
/^[a-z_0-9]+\(/ { n = $0; sub(/\(.*/, "", n); calls[n]++ }
/SG_IO, \{/ && match($0, /cmdp="\\x[0-9a-f][0-9a-f]/) {
  op = substr($0, RSTART + 8, 2)
  len = 0
  if (match($0, /dxfer_len=[0-9]+/)) len = substr($0, RSTART + 10, RLENGTH - 10)
  scsi[op " " len]++; commands++
}
END {
  for (c in calls) printf "TRACE %s: %d %s\n", who, calls[c], c
  for (s in scsi) { split(s, f, " "); printf "TRACE %s: opcode %s with %d bytes, %d times\n", who, f[1], f[2], scsi[s] }
  printf "TRACE %s: %d SCSI commands\n", who, commands
}
AWK
  chmod +x "$root/bin/calls"
fi
printf 'root:x:0:0::/root:/bin/sh\n' >"$root/etc/passwd"
IFS= read -r -d '' body <<'EOF' || true
  # MB/s of a whole read: 10 ms ticks of /proc/uptime around it.
  ticks() { read up idle </proc/uptime; echo ${up%.*}${up#*.}; }
  median() { c=$#; echo "$@" | tr ' ' '\n' | sort -n | sed -n "$(( (c + 1) / 2 ))p"; }
  # What starting each program costs, reading nothing: ms of ten runs
  # that print how to read.
  for who in "quorvane grab --help" "readom -help"; do
    $who >/dev/null 2>&1; t0=$(ticks); i=0
    while [ $i -lt 10 ]; do $who >/dev/null 2>&1; i=$((i + 1)); done
    echo "BENCH start-up: ${who%% *} $(( ($(ticks) - t0) * 10 )) ms for ten runs"
  done
  for n in 0 1; do
    model=$(cat /sys/block/sr$n/device/model)
    bytes=$(($(cat /sys/block/sr$n/size) * 512))
    rate() { t0=$(ticks); "$@" >/dev/null 2>&1; rc=$?; t1=$(ticks)
      echo "$rc $(( bytes * 100 / 1048576 / (t1 > t0 ? t1 - t0 : 1) ))"; }
    # Each program reads once untimed first: the first run in a TCG guest
    # pays for translating the code it runs, kernel paths included, and
    # that would be charged to whichever went first.
    quorvane grab --drive /dev/sr$n --track 1 --out /tmp/q.iso >/dev/null 2>&1; rm -f /tmp/q.iso
    readom dev=/dev/sr$n f=/tmp/r.iso >/dev/null 2>&1; rm -f /tmp/r.iso
    if [ -x /bin/strace ]; then
      strace -f -xx -s 16 -o /tmp/st quorvane grab --drive /dev/sr$n --track 1 --out /tmp/q.iso >/dev/null 2>&1
      awk -v who="quorvane $model" -f /bin/calls /tmp/st | sort; rm -f /tmp/q.iso
      strace -f -xx -s 16 -o /tmp/st readom dev=/dev/sr$n f=/tmp/r.iso >/dev/null 2>&1
      awk -v who="readom $model" -f /bin/calls /tmp/st | sort; rm -f /tmp/r.iso /tmp/st
      # Whether the kernel maps each reader's buffer for the drive or
      # copies through one of its own: of the commands that move data
      # (blk_rq_map_user_iov), those mapped straight (bio_map_user_iov).
      t=/sys/kernel/tracing
      [ -e $t/trace ] || mount -t tracefs nodev $t 2>/dev/null
      if echo 'blk_rq_map_user_iov bio_map_user_iov' >$t/set_ftrace_filter 2>/dev/null; then
        echo function >$t/current_tracer
        for who in quorvane readom; do
          echo >$t/trace
          case $who in
            quorvane) quorvane grab --drive /dev/sr$n --track 1 --out /tmp/q.iso >/dev/null 2>&1 ;;
            readom) readom dev=/dev/sr$n f=/tmp/q.iso >/dev/null 2>&1 ;;
          esac
          rm -f /tmp/q.iso
          echo "TRACE $who $model: $(grep -c ' blk_rq_map_user_iov' $t/trace) commands with data, $(grep -c ' bio_map_user_iov' $t/trace) of them straight into its buffer"
        done
        echo nop >$t/current_tracer
      else
        echo "TRACE kernel: no ftrace"
      fi
    fi
    # Then the readers take turns, each going first every other round, and
    # the medians are compared: a busy host slows single runs, not all. The
    # two runs of a round follow each other and meet much the same load, so
    # their ratio, median over the rounds, is the steadier figure.
    qs= rs= ds= ratios= exits=
    i=0
    while [ $i -lt $(cat /lists/runs) ]; do
      for who in $( [ $((i % 2)) = 0 ] && echo "q r d" || echo "r q d"); do
        case $who in
          q) x=$(rate quorvane grab --drive /dev/sr$n --track 1 --out /tmp/q.iso); rm -f /tmp/q.iso; qi=${x#* }; qs="$qs $qi" ;;
          r) x=$(rate readom dev=/dev/sr$n f=/tmp/r.iso); rm -f /tmp/r.iso; ri=${x#* }; rs="$rs $ri" ;;
          d) x=$(rate dd if=/dev/sr$n of=/dev/null bs=61440); ds="$ds ${x#* }" ;;
        esac
        exits="$exits${x%% *}"
      done
      ratios="$ratios $(( qi * 100 / (ri > 0 ? ri : 1) ))"
      i=$((i + 1))
    done
    q=$(median $qs) r=$(median $rs)
    echo "BENCH $model: quorvane grab median $q MB/s ($qs ), readom median $r MB/s ($rs ), dd median $(median $ds) MB/s ($ds ), exits $exits"
    echo "BENCH $model: quorvane at $(( q * 100 / (r > 0 ? r : 1) ))% of readom's median speed; round by round $(median $ratios)% ($ratios )"
  done
  echo "QUORVANE-PROBE-EXIT 0"
EOF
guest_run $((240 + 120 * runs)) "$body"
