#!/usr/bin/env bash
# Boots the Debian kernel in QEMU with two emulated CD-ROM drives (virtio
# scsi-cd and IDE ATAPI) holding one ISO, and runs the engine's transports
# against them from a static program in the initramfs.
#
#   run_drive_test.sh DRIVE_PROBE WORK_DIR [QUORVANE]
#
# With QUORVANE, the guest then runs `quorvane devices` (with the libraries
# it needs): both drives are listed, a drive whose disc is mounted is
# reported busy, and a user without permission on the nodes is told about
# the cdrom group.
#
# It then grabs from both drives with `quorvane grab`: track 1 must be the
# ISO byte for byte (virtio's drive has no READ CD, so READ(10) reads it);
# the whole disc is refused by the drive without READ CD with a clear
# message, and from the other comes back as a raw image and description
# that are carried out on a scratch disk, where iat turns the image back
# into the ISO.
#
# With --bench (QUORVANE, WORK_DIR), one guest times `quorvane grab
# --track 1` beside readom and dd on the same drives holding a larger ISO
# (QUORVANE_BENCH_MB, default 200) and prints MB/s of each, from process
# start to exit, after one untimed run of each: QUORVANE_BENCH_RUNS rounds
# (default 5) taking turns, each reader's runs and their median, and our
# speed as a share of readom's; nothing is asserted. Both are timed to
# their exit, and neither syncs its file. With QUORVANE_BENCH_TRACE set,
# one run of each is first traced with strace: its system calls, and its
# SCSI commands by opcode and bytes. bench/grab_vs_readom.sh runs it.
#
# With --mount, the guest kernel's UDF driver mounts UDF images that the
# quorvane command makes (pure and bridged, of a tricky tree, and a pure
# one holding a file of 5 GiB) and compares what it reads with the files;
# its iso9660 driver mounts the last of three sessions burnt on a virtual
# CD-R with --multisession, which must show every file of the three.
#
#   run_drive_test.sh --mount QUORVANE WORK_DIR
#
# The kernel package is downloaded once into the cache folder
# (QUORVANE_QEMU_CACHE, default ${XDG_CACHE_HOME:-~/.cache}/quorvane/qemu).
# Exit 77 (skipped) when QEMU or the ISO tool is missing, a failure under
# make test (QUORVANE_REQUIRE_PROGRAMS set), which installs them.
set -euo pipefail

mode=probe
case "$1" in
  --mount) mode=mount; shift ;;
  --bench) mode=bench; shift ;;
esac
probe=$1
work=$2
cli=${3:-}
cache=${QUORVANE_QEMU_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvane/qemu}

tools="qemu-system-x86_64 genisoimage busybox gzip dpkg-deb"
[ $mode = probe ] && [ -n "${3:-}" ] && tools="$tools iat"
[ $mode = bench ] && tools="$tools readom"
[ $mode = bench ] && [ -n "${QUORVANE_BENCH_TRACE:-}" ] && tools="$tools strace"
runs=${QUORVANE_BENCH_RUNS:-5}
limit=240
[ $mode = bench ] && limit=$((240 + 120 * runs))
for tool in $tools; do
  if ! command -v "$tool" >/dev/null; then
    if [ -n "${QUORVANE_REQUIRE_PROGRAMS:-}" ]; then echo "FAIL: $tool is not installed"; exit 1; fi
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

mkdir -p "$cache"
rm -rf "$work"
mkdir -p "$work"

# The kernel: the package linux-image-amd64 depends on, fetched once.
deb=$(ls "$cache"/linux-image-*-amd64_*.deb 2>/dev/null | sort | tail -n 1 || true)
if [ -z "$deb" ]; then
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/{print $2; exit}')
  if [ -z "$pkg" ]; then
    echo "FAIL: cannot tell which kernel package linux-image-amd64 stands for (run apt-get update)"
    exit 1
  fi
  echo "Downloading $pkg into $cache"
  (cd "$cache" && apt-get download "$pkg" >/dev/null 2>&1) || {
    echo "FAIL: apt-get download $pkg failed"
    exit 1
  }
  deb=$(ls "$cache"/linux-image-*-amd64_*.deb | sort | tail -n 1)
fi
tree="$cache/$(basename "$deb" .deb)"
if [ ! -d "$tree/boot" ]; then
  rm -rf "$tree.tmp"
  dpkg-deb -x "$deb" "$tree.tmp"
  mv "$tree.tmp" "$tree"
fi
kernel=$(ls "$tree"/boot/vmlinuz-* | head -n 1)
modroot=$(ls -d "$tree"/lib/modules/* | head -n 1)

drives=()
root="$work/initramfs"
mkdir -p "$root"/{bin,dev,proc,sys,modules,lists,etc,tmp}
if [ $mode = bench ]; then
  mkdir -p "$work/disc"
  head -c $((${QUORVANE_BENCH_MB:-200} * 1048576)) /dev/urandom >"$work/disc/RANDOM.BIN"
  genisoimage -quiet -V QVBENCH -o "$work/disc.iso" "$work/disc"
  rm -rf "$work/disc"
  drives=(-device scsi-cd,drive=cd0,bus=scsi0.0
    -drive if=none,id=cd0,file="$work/disc.iso",media=cdrom,readonly=on,format=raw
    -drive if=ide,index=2,media=cdrom,file="$work/disc.iso",readonly=on,format=raw)
elif [ $mode = probe ]; then
  # The disc: a small ISO with data that changes from block to block.
  mkdir -p "$work/disc/DATA"
  head -c 300000 /dev/urandom >"$work/disc/DATA/RANDOM.BIN"
  seq 1 20000 >"$work/disc/NUMBERS.TXT"
  genisoimage -quiet -J -r -V QVPROBE -o "$work/disc.iso" "$work/disc"
  drives=(-device scsi-cd,drive=cd0,bus=scsi0.0
    -drive if=none,id=cd0,file="$work/disc.iso",media=cdrom,readonly=on,format=raw
    -drive if=ide,index=2,media=cdrom,file="$work/disc.iso",readonly=on,format=raw)
  if [ -n "$cli" ]; then
    # A scratch disk that carries the grabbed files out of the guest.
    truncate -s 16M "$work/out.img"
    drives+=(-device virtio-blk-pci,drive=out0 -drive if=none,id=out0,file="$work/out.img",format=raw)
  fi
else
  # The images, each named by the file WHICH at its root. Every file of the
  # small trees is compared whole; the file of 5 GiB (sparse but for marks)
  # by a MiB at its start, around its extents' ends and at its end, as TCG
  # reads 5 GiB too slowly for a test.
  # The trees sit under a short path: a 200-character name must stay within
  # the engine's 260-character paths wherever the build tree is.
  src=$(mktemp -d /tmp/qv-udf.XXXXXX)
  trap 'rm -rf "$src"' EXIT
  mkdir -p "$src/tricky/deep/a/b/c/d/e/f/g/h" "$src/tricky/empty folder" "$src/big"
  printf pure >"$src/tricky/WHICH"
  head -c 300000 /dev/urandom >"$src/tricky/random.bin"
  : >"$src/tricky/empty"
  printf 'umlauts\n' >"$src/tricky/Grüße.txt"
  printf 'cjk\n' >"$src/tricky/日本語.txt"
  printf 'astral\n' >"$src/tricky/smile 😀.txt"
  printf 'long\n' >"$src/tricky/$(printf 'L%.0s' $(seq 1 200)).txt"
  printf 'deep\n' >"$src/tricky/deep/a/b/c/d/e/f/g/h/bottom.txt"
  for i in $(seq 1 300); do printf '%s' "$i" >"$src/tricky/deep/entry number $i.txt"; done
  printf big >"$src/big/WHICH"
  : >"$src/big/big.bin"
  for mib in 0 1023 1024 4096; do printf 'mark %s' "$mib" | dd of="$src/big/big.bin" bs=1M seek="$mib" conv=notrunc 2>/dev/null; done
  truncate -s 5G "$src/big/big.bin"
  "$probe" image udf --quiet --out "$work/pure.udf" "$src/tricky"
  cp -r "$src/tricky" "$src/bridged"
  printf bridge >"$src/bridged/WHICH"
  "$probe" image udf --quiet --bridge --out "$work/bridge.udf" "$src/bridged"
  "$probe" image udf --quiet --out /dev/stdout "$src/big" | cp --sparse=always /dev/stdin "$work/big.udf"
  (cd "$src/tricky" && find . -type f -print0 | xargs -0 md5sum) >"$root/lists/pure.md5"
  (cd "$src/bridged" && find . -type f -print0 | xargs -0 md5sum) >"$root/lists/bridge.md5"
  (cd "$src/tricky" && find . | wc -l) >"$root/lists/pure.count"
  cp "$root/lists/pure.count" "$root/lists/bridge.count"
  (cd "$src/big" && find . | wc -l) >"$root/lists/big.count"
  for mib in 0 1023 1024 4096 5119; do
    printf '%s %s\n' "$mib" "$(dd if="$src/big/big.bin" bs=1M skip="$mib" count=1 2>/dev/null | md5sum | cut -d' ' -f1)"
  done >"$root/lists/big.slices"
  n=0
  for image in pure bridge big; do
    drives+=(-device scsi-cd,drive=cd$n,bus=scsi0.0,scsi-id=$n
      -drive if=none,id=cd$n,file="$work/$image.udf",media=cdrom,readonly=on,format=raw)
    n=$((n + 1))
  done
  # A CD-R of three sessions burnt with --multisession on a virtual drive,
  # adding, replacing and removing files: the kernel's iso9660 driver
  # mounts the last session, which must hold every file the user expects.
  export QUORVANE_VDRIVE_HOME="$src/vdrives"
  mkdir -p "$src/ms1/dir" "$src/ms2" "$src/ms3" "$src/expect/dir"
  printf 'old a\n' >"$src/ms1/a.txt"
  printf 'one\n' >"$src/ms1/dir/one.txt"
  printf 'new a\n' >"$src/ms2/a.txt"
  head -c 100000 /dev/urandom >"$src/ms2/random.bin"
  printf 'three\n' >"$src/ms3/three.txt"
  "$probe" vdrive create ms --media cd-r >/dev/null
  "$probe" burn --drive ms --multisession "$src/ms1" >/dev/null
  "$probe" burn --drive ms --multisession --replace "$src/ms2" >/dev/null
  "$probe" burn --drive ms --multisession --remove /dir/one.txt "$src/ms3" >/dev/null
  "$probe" vdrive export ms --out "$work/multi.iso" >/dev/null
  "$probe" --json info --drive ms | sed -n 's/.*"start": \([0-9]*\).*/\1/p' | tail -n 1 >"$root/lists/multi.sbsector"
  cp "$src/ms2/a.txt" "$src/ms2/random.bin" "$src/ms3/three.txt" "$src/expect/"
  (cd "$src/expect" && find . -type f -print0 | xargs -0 md5sum) >"$root/lists/multi.md5"
  (cd "$src/expect" && find . | wc -l) >"$root/lists/multi.count"
  drives+=(-device scsi-cd,drive=cd3,bus=scsi0.0,scsi-id=3
    -drive if=none,id=cd3,file="$work/multi.iso",media=cdrom,readonly=on,format=raw)
fi

# The initramfs: busybox, the modules, the probe and the ISO to compare with
# (or the lists of what the UDF images hold).
cp /bin/busybox "$root/bin/busybox"
modules="scsi_common scsi_mod cdrom sr_mod sg virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev
  virtio_pci virtio_scsi libata ata_piix"
# Programs and every library they load, at the paths they ask for.
install_program() {
  for f in "$1" $(ldd "$1" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$f")"
    objcopy --strip-debug "$(realpath "$f")" "$root$f"
  done
  mv "$root$1" "$root/bin/$2"
}
if [ $mode = bench ]; then
  install_program "$probe" quorvane
  install_program "$(command -v readom)" readom
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
elif [ $mode = probe ]; then
  cp "$probe" "$root/bin/drive_probe"
  cp "$work/disc.iso" "$root/disc.iso"
  if [ -n "$cli" ]; then
    install_program "$cli" quorvane
    modules="$modules virtio_blk"
    printf 'root:x:0:0::/root:/bin/sh\nnobody:x:65534:65534::/tmp:/bin/sh\n' >"$root/etc/passwd"
    printf 'root:x:0:\ncdrom:x:24:\nnogroup:x:65534:\n' >"$root/etc/group"
    modules="$modules isofs"
  fi
else
  modules="$modules crc-itu-t udf isofs"
fi
for m in $modules; do
  f=$(find "$modroot/kernel" -name "$m.ko*" | head -n 1)
  if [ -z "$f" ]; then
    echo "FAIL: module $m not found in $modroot"
    exit 1
  fi
  case "$f" in
    *.ko.xz) xz -dc "$f" >"$root/modules/$m.ko" ;;
    *.ko.zst) zstd -qdc "$f" >"$root/modules/$m.ko" ;;
    *) cp "$f" "$root/modules/$m.ko" ;;
  esac
done
modules=$(echo $modules)  # one line for the init script
cat >"$root/init" <<EOF
#!/bin/busybox sh
/bin/busybox echo QUORVANE-GUEST-UP
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $modules; do insmod /modules/\$m.ko || echo "insmod \$m failed"; done
n=0
while [ \$n -lt 100 ] && ! { [ -e /dev/sr0 ] && [ -e /dev/sr1 ] && { [ -e /dev/sg1 ] || [ -e /dev/sr2 ]; }; }; do sleep 0.1; n=\$((n+1)); done
if [ -x /bin/drive_probe ]; then
  /bin/drive_probe /disc.iso
  status=\$?
  if [ -x /bin/quorvane ]; then
    chmod 1777 /tmp
    export QUORVANE_VDRIVE_HOME=/tmp/vd HOME=/tmp
    says() {  # says NAME TEXT COMMAND...: the command exits 0 and prints TEXT
      name=\$1 text=\$2
      shift 2
      out=\$("\$@" 2>&1) && echo "\$out" | grep -q "\$text" && echo "PASS devices: \$name" ||
        { echo "FAIL devices: \$name"; echo "\$out"; status=1; }
    }
    says "the CD-ROM of virtio scsi-cd" '"product": "QEMU CD-ROM' quorvane --json devices
    says "the DVD-ROM of IDE ATAPI" '"product": "QEMU DVD-ROM' quorvane --json devices
    says "both as real drives" '"kind": "real"' quorvane --json devices
    mkdir -p /mnt/busy
    mount -t iso9660 -o ro /dev/sr0 /mnt/busy
    says "a mounted disc makes its drive busy" '^real .*/dev/sr0 .*mounted or another program' quorvane devices
    umount /mnt/busy
    chmod 000 /dev/sr* /dev/sg*
    says "a node without permission names the cdrom group" '^real .*/dev/sr1 .*cdrom group' su -s /bin/sh nobody -c quorvane\ devices
    chmod 660 /dev/sr* /dev/sg*
    # Grabs: track 1 is the ISO itself; the whole disc where the drive
    # reads raw sectors (QEMU's ATAPI drive gives zero EDC/ECC, so its
    # blocks are kept as read and reported), a clear refusal where not.
    mkdir -p /tmp/out
    for n in 0 1; do
      model=\$(cat /sys/block/sr\$n/device/model)
      if quorvane grab --drive /dev/sr\$n --track 1 --out /tmp/t.iso >/tmp/log 2>&1 && cmp /tmp/t.iso /disc.iso; then
        echo "PASS grab: track 1 of \$model is the ISO"
      else
        echo "FAIL grab: track 1 of \$model"; cat /tmp/log; status=1
      fi
      rm -f /tmp/t.iso
      quorvane --json grab --drive /dev/sr\$n --disc --retries 0 --skip-errors --out /tmp/out/g\$n >/tmp/log 2>&1
      rc=\$?
      case "\$model" in
        "QEMU CD-ROM"*)
          [ \$rc = 7 ] && grep -q "no READ CD" /tmp/log && [ ! -e /tmp/out/g\$n.mds ] &&
            echo "PASS grab: the whole disc refused by \$model, which has no READ CD" ||
            { echo "FAIL grab: whole disc of \$model exits \$rc"; cat /tmp/log; status=1; } ;;
        *)
          [ \$rc = 0 ] && [ -e /tmp/out/g\$n.mds ] && echo "PASS grab: the whole disc of \$model" ||
            { echo "FAIL grab: whole disc of \$model exits \$rc"; cat /tmp/log; status=1; } ;;
      esac
    done
    tar -cf /dev/vda -C /tmp/out . && sync
  fi
  echo "QUORVANE-PROBE-EXIT \$status"
elif [ -e /bin/readom ]; then
  # MB/s of a whole read: 10 ms ticks of /proc/uptime around it.
  ticks() { read up idle </proc/uptime; echo \${up%.*}\${up#*.}; }
  median() { c=\$#; echo "\$@" | tr ' ' '\\n' | sort -n | sed -n "\$(( (c + 1) / 2 ))p"; }
  # What starting each program costs, reading nothing: ms of ten runs
  # that print how to read.
  for who in "quorvane grab --help" "readom -help"; do
    \$who >/dev/null 2>&1; t0=\$(ticks); i=0
    while [ \$i -lt 10 ]; do \$who >/dev/null 2>&1; i=\$((i + 1)); done
    echo "BENCH start-up: \${who%% *} \$(( (\$(ticks) - t0) * 10 )) ms for ten runs"
  done
  for n in 0 1; do
    model=\$(cat /sys/block/sr\$n/device/model)
    bytes=\$((\$(cat /sys/block/sr\$n/size) * 512))
    rate() { t0=\$(ticks); "\$@" >/dev/null 2>&1; rc=\$?; t1=\$(ticks)
      echo "\$rc \$(( bytes * 100 / 1048576 / (t1 > t0 ? t1 - t0 : 1) ))"; }
    # Each program reads once untimed first: the first run in a TCG guest
    # pays for translating the code it runs, kernel paths included, and
    # that would be charged to whichever went first.
    quorvane grab --drive /dev/sr\$n --track 1 --out /tmp/q.iso >/dev/null 2>&1; rm -f /tmp/q.iso
    readom dev=/dev/sr\$n f=/tmp/r.iso >/dev/null 2>&1; rm -f /tmp/r.iso
    if [ -x /bin/strace ]; then
      strace -f -xx -s 16 -o /tmp/st quorvane grab --drive /dev/sr\$n --track 1 --out /tmp/q.iso >/dev/null 2>&1
      awk -v who="quorvane \$model" -f /bin/calls /tmp/st | sort; rm -f /tmp/q.iso
      strace -f -xx -s 16 -o /tmp/st readom dev=/dev/sr\$n f=/tmp/r.iso >/dev/null 2>&1
      awk -v who="readom \$model" -f /bin/calls /tmp/st | sort; rm -f /tmp/r.iso /tmp/st
      # Whether the kernel maps each reader's buffer for the drive or
      # copies through one of its own: of the commands that move data
      # (blk_rq_map_user_iov), those mapped straight (bio_map_user_iov).
      t=/sys/kernel/tracing
      [ -e \$t/trace ] || mount -t tracefs nodev \$t 2>/dev/null
      if echo 'blk_rq_map_user_iov bio_map_user_iov' >\$t/set_ftrace_filter 2>/dev/null; then
        echo function >\$t/current_tracer
        for who in quorvane readom; do
          echo >\$t/trace
          case \$who in
            quorvane) quorvane grab --drive /dev/sr\$n --track 1 --out /tmp/q.iso >/dev/null 2>&1 ;;
            readom) readom dev=/dev/sr\$n f=/tmp/q.iso >/dev/null 2>&1 ;;
          esac
          rm -f /tmp/q.iso
          echo "TRACE \$who \$model: \$(grep -c ' blk_rq_map_user_iov' \$t/trace) commands with data, \$(grep -c ' bio_map_user_iov' \$t/trace) of them straight into its buffer"
        done
        echo nop >\$t/current_tracer
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
    while [ \$i -lt $runs ]; do
      for who in \$( [ \$((i % 2)) = 0 ] && echo "q r d" || echo "r q d"); do
        case \$who in
          q) x=\$(rate quorvane grab --drive /dev/sr\$n --track 1 --out /tmp/q.iso); rm -f /tmp/q.iso; qi=\${x#* }; qs="\$qs \$qi" ;;
          r) x=\$(rate readom dev=/dev/sr\$n f=/tmp/r.iso); rm -f /tmp/r.iso; ri=\${x#* }; rs="\$rs \$ri" ;;
          d) x=\$(rate dd if=/dev/sr\$n of=/dev/null bs=61440); ds="\$ds \${x#* }" ;;
        esac
        exits="\$exits\${x%% *}"
      done
      ratios="\$ratios \$(( qi * 100 / (ri > 0 ? ri : 1) ))"
      i=\$((i + 1))
    done
    q=\$(median \$qs) r=\$(median \$rs)
    echo "BENCH \$model: quorvane grab median \$q MB/s (\$qs ), readom median \$r MB/s (\$rs ), dd median \$(median \$ds) MB/s (\$ds ), exits \$exits"
    echo "BENCH \$model: quorvane at \$(( q * 100 / (r > 0 ? r : 1) ))% of readom's median speed; round by round \$(median \$ratios)% (\$ratios )"
  done
  echo "QUORVANE-PROBE-EXIT 0"
else
  failed=0
  for d in 0 1 2; do
    mkdir -p /mnt/\$d
    if ! mount -t udf -o ro /dev/sr\$d /mnt/\$d; then echo "FAIL mount /dev/sr\$d"; failed=1; continue; fi
    cd /mnt/\$d
    which=\$(cat WHICH)
    [ "\$(find . | wc -l)" = "\$(cat /lists/\$which.count)" ] && echo "PASS \$which: every entry there" || { echo "FAIL \$which: entries"; failed=1; }
    if [ -e /lists/\$which.md5 ]; then
      md5sum -c -s /lists/\$which.md5 && echo "PASS \$which: every file equal" || { md5sum -c /lists/\$which.md5 | grep -v OK; echo "FAIL \$which: files"; failed=1; }
    else
      [ "\$(stat -c %s big.bin)" = 5368709120 ] && echo "PASS big: 5 GiB" || { echo "FAIL big: size"; failed=1; }
      while read mib sum; do
        [ "\$(dd if=big.bin bs=1M skip=\$mib count=1 2>/dev/null | md5sum | cut -d' ' -f1)" = "\$sum" ] && echo "PASS big: MiB \$mib" || { echo "FAIL big: MiB \$mib"; failed=1; }
      done </lists/big.slices
    fi
    cd /
  done
  mkdir -p /mnt/3
  if mount -t iso9660 -o ro,sbsector=\$(cat /lists/multi.sbsector) /dev/sr3 /mnt/3; then
    cd /mnt/3
    [ "\$(find . | wc -l)" = "\$(cat /lists/multi.count)" ] && echo "PASS multi: every entry of the last session there" || { find .; echo "FAIL multi: entries"; failed=1; }
    md5sum -c -s /lists/multi.md5 && echo "PASS multi: every file equal" || { md5sum -c /lists/multi.md5 | grep -v OK; echo "FAIL multi: files"; failed=1; }
    cd /
  else
    echo "FAIL mount the last session of /dev/sr3"; failed=1
  fi
  echo "QUORVANE-PROBE-EXIT \$failed"
fi
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$work/initrd.gz")

# One boot with the accelerator $1, for at most $2 seconds; with $3 set it
# gives up after that many seconds unless the guest's init has spoken.
boot() {
  timeout "$2" qemu-system-x86_64 -M pc -accel "$1" -m 512 -smp 1 -nographic -no-reboot -nic none \
    -kernel "$kernel" -initrd "$work/initrd.gz" -append "console=ttyS0 quiet panic=-1 loglevel=3 no_timer_check" \
    -device virtio-scsi-pci,id=scsi0 "${drives[@]}" \
    </dev/null >"$work/console.log" 2>&1 &
  local pid=$! waited=0
  if [ -n "${3:-}" ]; then
    while ! grep -q QUORVANE-GUEST-UP "$work/console.log" 2>/dev/null; do
      if ! kill -0 "$pid" 2>/dev/null || [ "$waited" -ge "$3" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        return 125
      fi
      sleep 1
      waited=$((waited + 1))
    done
  fi
  wait "$pid"
}

# KVM only once it shows signs of life: a writable /dev/kvm may still hang
# the guest after the BIOS, or make QEMU stop at once. TCG otherwise.
set +e
qemu=125
if [ -w /dev/kvm ] || [ "${QUORVANE_QEMU_TRY_KVM:-}" = 1 ]; then
  boot kvm "$limit" "${QUORVANE_QEMU_KVM_GRACE:-20}"
  qemu=$?
  [ $qemu -eq 125 ] && echo "KVM showed no sign of life; running the guest under TCG"
fi
[ $qemu -eq 125 ] && { boot tcg "$limit"; qemu=$?; }
set -e
tr -d '\r' <"$work/console.log" | grep -E '^(PASS|FAIL|BENCH|TRACE|==|[0-9]+ passed|QUORVANE-PROBE-EXIT|insmod|drive_probe)' || true
if [ $qemu -ne 0 ]; then
  echo "FAIL: QEMU exited with $qemu; console in $work/console.log"
  tail -n 30 "$work/console.log"
  exit 1
fi
status=$(tr -d '\r' <"$work/console.log" | sed -n 's/^QUORVANE-PROBE-EXIT \([0-9]*\).*/\1/p' | tail -n 1)
if [ "$status" != "0" ]; then
  echo "FAIL: the probe exited with '${status:-nothing}'"
  exit 1
fi
if [ -e "$work/out.img" ]; then
  # The whole-disc grab, carried out: iat turns its raw image into the ISO.
  mkdir -p "$work/out"
  tar -xf "$work/out.img" -C "$work/out"
  images=$(ls "$work"/out/g*.xmf 2>/dev/null || true)
  for image in $images; do
    [ -s "${image%.xmf}.mds" ] || { echo "FAIL: $image has no description"; exit 1; }
    iat "$image" "${image%.xmf}.iso" >/dev/null 2>&1 || { echo "FAIL: iat cannot read $image"; exit 1; }
    cmp "${image%.xmf}.iso" "$work/disc.iso" || { echo "FAIL: iat's ISO of $image differs from the disc"; exit 1; }
    echo "PASS grab: iat turns $(basename "$image") back into the ISO"
  done
fi
echo "QEMU $mode test passed"
