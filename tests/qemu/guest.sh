# The QEMU guest of the drive tests and the grab benchmark, sourced by
# both: the Debian kernel, an initramfs of busybox, kernel modules and
# programs, and one boot with the drives in $drives. The caller sets work
# (an empty folder is made of it) and fills $root before guest_run.
#
# The kernel package is downloaded once into the cache folder
# (QUORVANE_QEMU_CACHE, default ${XDG_CACHE_HOME:-~/.cache}/quorvane/qemu).

# Exit 77 (skipped) when a program is missing, a failure under make test
# (QUORVANE_REQUIRE_PROGRAMS set), which installs them.
guest_require() {
  for tool in qemu-system-x86_64 busybox gzip dpkg-deb "$@"; do
    if ! command -v "$tool" >/dev/null; then
      if [ -n "${QUORVANE_REQUIRE_PROGRAMS:-}" ]; then echo "FAIL: $tool is not installed"; exit 1; fi
      echo "SKIP: $tool is not installed"
      exit 77
    fi
  done
}

# Makes $work and $root, and finds (or fetches) the kernel: $kernel, $modroot.
guest_prepare() {
  local cache=${QUORVANE_QEMU_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/quorvane/qemu} deb pkg tree
  mkdir -p "$cache"
  rm -rf "$work"
  mkdir -p "$work"
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
  cp /bin/busybox "$root/bin/busybox"
  modules="scsi_common scsi_mod cdrom sr_mod sg virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev
    virtio_pci virtio_scsi libata ata_piix"
}

# A program and every library it loads, at the paths it asks for, as /bin/NAME.
install_program() {
  for f in "$1" $(ldd "$1" | grep -o '/[^ ]*'); do
    mkdir -p "$root$(dirname "$f")"
    objcopy --strip-debug "$(realpath "$f")" "$root$f"
  done
  mv "$root$1" "$root/bin/$2"
}

# One boot with the accelerator $1, for at most $2 seconds; with $3 set it
# gives up after that many seconds unless the guest's init has spoken.
guest_boot() {
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

# guest_run LIMIT BODY: the init runs BODY (which prints
# QUORVANE-PROBE-EXIT with its status) once the modules are loaded and the
# drives are there; the console's result lines are printed. Fails unless
# QEMU and BODY exit 0.
guest_run() {
  local m f qemu status
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
  cat >"$root/init" <<EOF2
#!/bin/busybox sh
/bin/busybox echo QUORVANE-GUEST-UP
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
for m in $(echo $modules); do insmod /modules/\$m.ko || echo "insmod \$m failed"; done
n=0
while [ \$n -lt 100 ] && ! { [ -e /dev/sr0 ] && [ -e /dev/sr1 ] && { [ -e /dev/sg1 ] || [ -e /dev/sr2 ]; }; }; do sleep 0.1; n=\$((n+1)); done
$2
poweroff -f
EOF2
  chmod +x "$root/init"
  (cd "$root" && find . | busybox cpio -o -H newc 2>/dev/null | gzip -1 >"$work/initrd.gz")
  # KVM only once it shows signs of life: a writable /dev/kvm may still hang
  # the guest after the BIOS, or make QEMU stop at once. TCG otherwise.
  set +e
  qemu=125
  if [ -w /dev/kvm ] || [ "${QUORVANE_QEMU_TRY_KVM:-}" = 1 ]; then
    guest_boot kvm "$1" "${QUORVANE_QEMU_KVM_GRACE:-20}"
    qemu=$?
    [ $qemu -eq 125 ] && echo "KVM showed no sign of life; running the guest under TCG"
  fi
  [ $qemu -eq 125 ] && { guest_boot tcg "$1"; qemu=$?; }
  set -e
  tr -d '\r' <"$work/console.log" | grep -E '^(PASS|FAIL|BENCH|TRACE|==|[0-9]+ passed|QUORVANE-PROBE-EXIT|insmod|drive_probe)' || true
  if [ $qemu -ne 0 ]; then
    echo "FAIL: QEMU exited with $qemu; console in $work/console.log"
    tail -n 30 "$work/console.log"
    exit 1
  fi
  status=$(tr -d '\r' <"$work/console.log" | sed -n 's/^QUORVANE-PROBE-EXIT \([0-9]*\).*/\1/p' | tail -n 1)
  if [ "$status" != "0" ]; then
    echo "FAIL: the guest's checks exited with '${status:-nothing}'"
    exit 1
  fi
}
