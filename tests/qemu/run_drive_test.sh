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
# With --mount, the guest kernel's UDF driver mounts UDF images that the
# quorvane command makes (pure and bridged, of a tricky tree, and a pure
# one holding a file of 5 GiB) and compares what it reads with the files;
# its iso9660 driver mounts the last of three sessions burnt on a virtual
# CD-R with --multisession, which must show every file of the three.
#
#   run_drive_test.sh --mount QUORVANE WORK_DIR
#
# The guest itself is guest.sh's, shared with the grab benchmark.
set -euo pipefail

mode=probe
[ "$1" = --mount ] && { mode=mount; shift; }
probe=$1
work=$2
cli=${3:-}
. "$(cd "$(dirname "$0")" && pwd)/guest.sh"

if [ $mode = probe ]; then
  guest_require genisoimage $([ -n "$cli" ] && echo iat)
  guest_prepare
  # The disc: a small ISO with data that changes from block to block.
  mkdir -p "$work/disc/DATA"
  head -c 300000 /dev/urandom >"$work/disc/DATA/RANDOM.BIN"
  seq 1 20000 >"$work/disc/NUMBERS.TXT"
  genisoimage -quiet -J -r -V QVPROBE -o "$work/disc.iso" "$work/disc"
  drives=(-device scsi-cd,drive=cd0,bus=scsi0.0
    -drive if=none,id=cd0,file="$work/disc.iso",media=cdrom,readonly=on,format=raw
    -drive if=ide,index=2,media=cdrom,file="$work/disc.iso",readonly=on,format=raw)
  cp "$probe" "$root/bin/drive_probe"
  cp "$work/disc.iso" "$root/disc.iso"
  if [ -n "$cli" ]; then
    # A scratch disk that carries the grabbed files out of the guest.
    truncate -s 16M "$work/out.img"
    drives+=(-device virtio-blk-pci,drive=out0 -drive if=none,id=out0,file="$work/out.img",format=raw)
    install_program "$cli" quorvane
    modules="$modules virtio_blk isofs"
    printf 'root:x:0:0::/root:/bin/sh\nnobody:x:65534:65534::/tmp:/bin/sh\n' >"$root/etc/passwd"
    printf 'root:x:0:\ncdrom:x:24:\nnogroup:x:65534:\n' >"$root/etc/group"
  fi
  IFS= read -r -d '' body <<'EOF' || true
  /bin/drive_probe /disc.iso
  status=$?
  if [ -x /bin/quorvane ]; then
    chmod 1777 /tmp
    export QUORVANE_VDRIVE_HOME=/tmp/vd HOME=/tmp
    says() {  # says NAME TEXT COMMAND...: the command exits 0 and prints TEXT
      name=$1 text=$2
      shift 2
      out=$("$@" 2>&1) && echo "$out" | grep -q "$text" && echo "PASS devices: $name" ||
        { echo "FAIL devices: $name"; echo "$out"; status=1; }
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
      model=$(cat /sys/block/sr$n/device/model)
      if quorvane grab --drive /dev/sr$n --track 1 --out /tmp/t.iso >/tmp/log 2>&1 && cmp /tmp/t.iso /disc.iso; then
        echo "PASS grab: track 1 of $model is the ISO"
      else
        echo "FAIL grab: track 1 of $model"; cat /tmp/log; status=1
      fi
      rm -f /tmp/t.iso
      quorvane --json grab --drive /dev/sr$n --disc --retries 0 --skip-errors --out /tmp/out/g$n >/tmp/log 2>&1
      rc=$?
      case "$model" in
        "QEMU CD-ROM"*)
          [ $rc = 7 ] && grep -q "no READ CD" /tmp/log && [ ! -e /tmp/out/g$n.mds ] &&
            echo "PASS grab: the whole disc refused by $model, which has no READ CD" ||
            { echo "FAIL grab: whole disc of $model exits $rc"; cat /tmp/log; status=1; } ;;
        *)
          [ $rc = 0 ] && [ -e /tmp/out/g$n.mds ] && echo "PASS grab: the whole disc of $model" ||
            { echo "FAIL grab: whole disc of $model exits $rc"; cat /tmp/log; status=1; } ;;
      esac
    done
    tar -cf /dev/vda -C /tmp/out . && sync
  fi
  echo "QUORVANE-PROBE-EXIT $status"
EOF
else
  guest_require
  guest_prepare
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
  modules="$modules crc-itu-t udf isofs"
  IFS= read -r -d '' body <<'EOF' || true
  failed=0
  for d in 0 1 2; do
    mkdir -p /mnt/$d
    if ! mount -t udf -o ro /dev/sr$d /mnt/$d; then echo "FAIL mount /dev/sr$d"; failed=1; continue; fi
    cd /mnt/$d
    which=$(cat WHICH)
    [ "$(find . | wc -l)" = "$(cat /lists/$which.count)" ] && echo "PASS $which: every entry there" || { echo "FAIL $which: entries"; failed=1; }
    if [ -e /lists/$which.md5 ]; then
      md5sum -c -s /lists/$which.md5 && echo "PASS $which: every file equal" || { md5sum -c /lists/$which.md5 | grep -v OK; echo "FAIL $which: files"; failed=1; }
    else
      [ "$(stat -c %s big.bin)" = 5368709120 ] && echo "PASS big: 5 GiB" || { echo "FAIL big: size"; failed=1; }
      while read mib sum; do
        [ "$(dd if=big.bin bs=1M skip=$mib count=1 2>/dev/null | md5sum | cut -d' ' -f1)" = "$sum" ] && echo "PASS big: MiB $mib" || { echo "FAIL big: MiB $mib"; failed=1; }
      done </lists/big.slices
    fi
    cd /
  done
  mkdir -p /mnt/3
  if mount -t iso9660 -o ro,sbsector=$(cat /lists/multi.sbsector) /dev/sr3 /mnt/3; then
    cd /mnt/3
    [ "$(find . | wc -l)" = "$(cat /lists/multi.count)" ] && echo "PASS multi: every entry of the last session there" || { find .; echo "FAIL multi: entries"; failed=1; }
    md5sum -c -s /lists/multi.md5 && echo "PASS multi: every file equal" || { md5sum -c /lists/multi.md5 | grep -v OK; echo "FAIL multi: files"; failed=1; }
    cd /
  else
    echo "FAIL mount the last session of /dev/sr3"; failed=1
  fi
  echo "QUORVANE-PROBE-EXIT $failed"
EOF
fi
guest_run 240 "$body"
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
