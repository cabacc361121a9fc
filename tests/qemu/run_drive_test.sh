#!/usr/bin/env bash
# Boots the Debian kernel in QEMU with two emulated CD-ROM drives (virtio
# scsi-cd and IDE ATAPI) holding one ISO, and runs the engine's transports
# against them from a static program in the initramfs.
#
#   run_drive_test.sh DRIVE_PROBE WORK_DIR
#
# The kernel package is downloaded once into the cache folder
# (QUORVANE_QEMU_CACHE, default ${XDG_CACHE_HOME:-~/.cache}/quorvane/qemu).
# Exit 77 (skipped) when QEMU or the ISO tool is missing.
set -euo pipefail

probe=$1
work=$2
cache=${QUORVANE_QEMU_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvane/qemu}

for tool in qemu-system-x86_64 genisoimage busybox gzip dpkg-deb; do
  if ! command -v "$tool" >/dev/null; then
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

# The disc: a small ISO with data that changes from block to block.
mkdir -p "$work/disc/DATA"
head -c 300000 /dev/urandom >"$work/disc/DATA/RANDOM.BIN"
seq 1 20000 >"$work/disc/NUMBERS.TXT"
genisoimage -quiet -J -r -V QVPROBE -o "$work/disc.iso" "$work/disc"

# The initramfs: busybox, the modules, the probe and the ISO to compare with.
root="$work/initramfs"
mkdir -p "$root"/{bin,dev,proc,sys,modules}
cp /bin/busybox "$root/bin/busybox"
cp "$probe" "$root/bin/drive_probe"
cp "$work/disc.iso" "$root/disc.iso"
modules="scsi_common scsi_mod cdrom sr_mod sg virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev
  virtio_pci virtio_scsi libata ata_piix"
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
while [ \$n -lt 100 ] && ! { [ -e /dev/sr0 ] && [ -e /dev/sr1 ] && [ -e /dev/sg1 ]; }; do sleep 0.1; n=\$((n+1)); done
/bin/drive_probe /disc.iso
echo "QUORVANE-PROBE-EXIT \$?"
poweroff -f
EOF
chmod +x "$root/init"
(cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$work/initrd.gz")

# One boot with the accelerator $1, for at most $2 seconds; with $3 set it
# gives up after that many seconds unless the guest's init has spoken.
boot() {
  timeout "$2" qemu-system-x86_64 -M pc -accel "$1" -m 512 -smp 1 -nographic -no-reboot -nic none \
    -kernel "$kernel" -initrd "$work/initrd.gz" -append "console=ttyS0 quiet panic=-1 loglevel=3" \
    -device virtio-scsi-pci,id=scsi0 -device scsi-cd,drive=cd0,bus=scsi0.0 \
    -drive if=none,id=cd0,file="$work/disc.iso",media=cdrom,readonly=on,format=raw \
    -drive if=ide,index=2,media=cdrom,file="$work/disc.iso",readonly=on,format=raw \
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
  boot kvm 240 "${QUORVANE_QEMU_KVM_GRACE:-20}"
  qemu=$?
  [ $qemu -eq 125 ] && echo "KVM showed no sign of life; running the guest under TCG"
fi
[ $qemu -eq 125 ] && { boot tcg 240; qemu=$?; }
set -e
tr -d '\r' <"$work/console.log" | grep -E '^(PASS|FAIL|==|[0-9]+ passed|QUORVANE-PROBE-EXIT|insmod|drive_probe)' || true
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
echo "QEMU drive test passed"
