#!/usr/bin/env bash
# The Debian packages as a user meets them: installed with dpkg into a fresh
# minimal Debian 12 (debootstrap), then used there - the command's version,
# a virtual drive with a burn whose disc is exported and compared on the
# host with bsdtar, and a C program built against the installed library
# with pkg-config and with CMake's find_package(Quorvane).
#
#   run.sh PACKAGE_BUILD WORK_DIR
#
# PACKAGE_BUILD holds the .deb files of make package and the tree that make
# install installs from; the two must lay out the same files. Needs root
# (debootstrap, chroot) and Debian's package mirror; QUORVANE_DEBIAN_MIRROR
# names another. Prints "N passed, N failed".
set -euo pipefail

build=$(realpath "$1")
work=$(realpath -m "$2")
root="$work/root"
passed=0
failed=0
check() {  # check NAME COMMAND...: one result line
  local name=$1
  shift
  if "$@"; then
    echo "PASS $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    failed=$((failed + 1))
  fi
}
seconds() { echo $(($(date +%s) - start)); }

for tool in debootstrap chroot dpkg-deb bsdtar; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (make package-test installs it)"; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "FAIL: the package test needs root for debootstrap and chroot"; exit 1; }
debs=("$build"/*.deb)
[ -e "${debs[0]}" ] || { echo "FAIL: no .deb in $build (run make package)"; exit 1; }

cleanup() {
  for m in proc dev/pts; do
    mountpoint -q "$root/$m" 2>/dev/null && umount -l "$root/$m"
  done
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM
cleanup
rm -rf "$work"
mkdir -p "$work"

# make install lays out what the packages hold: the same files and links.
start=$(date +%s)
DESTDIR="$work/destdir" cmake --install "$build" >/dev/null
(cd "$work/destdir" && find . ! -type d | sed 's|^\./|/|' | sort) >"$work/installed.txt"
for d in "${debs[@]}"; do dpkg-deb -c "$d"; done | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./|/|' | sort >"$work/packaged.txt"
check "make install lays out the packages' $(wc -l <"$work/packaged.txt") files" \
  diff -u "$work/packaged.txt" "$work/installed.txt"
for f in /usr/bin/quorvane /usr/share/man/man1/quorvane.1 /usr/share/bash-completion/completions/quorvane \
  /usr/include/quorvane.h /usr/include/qvdrive.h; do
  check "packaged: $f" grep -qx "$f" "$work/packaged.txt"
done
for f in 'libquorvane.so.6' 'libquorvane_vdrive.so' 'pkgconfig/quorvane.pc' 'cmake/Quorvane/QuorvaneConfig.cmake'; do
  check "packaged: $f" grep -q "/usr/lib/.*/$f\$" "$work/packaged.txt"
done
echo "== file lists compared in $(seconds) s"

# A minimal Debian 12 with what a developer adds to build a C program.
start=$(date +%s)
debootstrap --variant=minbase --include=gcc,libc6-dev,pkg-config,cmake,make bookworm "$root" \
  ${QUORVANE_DEBIAN_MIRROR:-} >"$work/debootstrap.log" 2>&1 || {
  tail -n 20 "$work/debootstrap.log"
  echo "FAIL: debootstrap (log in $work/debootstrap.log)"
  exit 1
}
echo "== debootstrap in $(seconds) s"
mount -t proc proc "$root/proc"

start=$(date +%s)
mkdir -p "$root/tmp/debs" "$root/tmp/t"
cp "${debs[@]}" "$root/tmp/debs/"
cp "$(dirname "$0")/program.c" "$root/tmp/t/"
cat >"$root/tmp/t/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(uses_quorvane C)
find_package(Quorvane REQUIRED)
add_executable(program program.c)
target_link_libraries(program PRIVATE Quorvane::quorvane)
EOF
# The folder to burn: names and sizes that cross block boundaries.
mkdir -p "$work/src/deep/er" "$root/tmp/t"
head -c 1234567 /dev/urandom >"$work/src/random.bin"
seq 1 5000 >"$work/src/deep/er/numbers.txt"
: >"$work/src/empty"
cp -r "$work/src" "$root/tmp/t/src"

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
installed() {
  if ! in_root sh -c 'dpkg -i /tmp/debs/*.deb' >"$work/dpkg.log" 2>&1; then
    # What the packages need beyond the minimal system comes from the mirror.
    in_root apt-get update -qq >>"$work/dpkg.log" 2>&1 && in_root apt-get -f install -y -qq >>"$work/dpkg.log" 2>&1
  fi
  in_root dpkg-query -W libquorvane6 libquorvane-dev quorvane >>"$work/dpkg.log" 2>&1
}
check "dpkg -i installs the packages" installed || { cat "$work/dpkg.log"; }
echo "== installed in $(seconds) s"

start=$(date +%s)
version() { in_root quorvane --version | tee "$work/version.txt" | grep -q '[0-9]\.[0-9]*\.[0-9]'; }
check "quorvane --version" version
check "man page and completion are installed" in_root test -s /usr/share/man/man1/quorvane.1 \
  -a -s /usr/share/bash-completion/completions/quorvane
job() {
  in_root sh -ec '
    export QUORVANE_VDRIVE_HOME=/tmp/vd
    cd /tmp/t
    quorvane vdrive create d --media cd-r
    quorvane burn --drive d src
    quorvane vdrive export d --out /tmp/t/disc.iso
    quorvane --json devices | grep -q "\"name\": *\"d\""
  ' >"$work/job.log" 2>&1
}
check "vdrive create, burn and export" job || cat "$work/job.log"
compare() {
  rm -rf "$work/out" && mkdir -p "$work/out" && bsdtar -xf "$root/tmp/t/disc.iso" -C "$work/out" &&
    diff -r "$work/src" "$work/out"
}
check "bsdtar reads back every file as burned" compare
device=$(in_root env QUORVANE_VDRIVE_HOME=/tmp/vd quorvane --json devices | grep -o '"device": *"[^"]*"' | head -n 1 |
  sed 's/.*"\([^"]*\)"$/\1/') || true
build_pkgconfig() {
  in_root sh -ec 'cd /tmp/t && gcc -o program-pc program.c $(pkg-config --cflags --libs quorvane)' >"$work/cc.log" 2>&1
}
build_cmake() {
  in_root sh -ec 'cd /tmp/t && cmake -S . -B b -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build b >/dev/null' \
    >"$work/cmake.log" 2>&1
}
check "a C program builds with pkg-config" build_pkgconfig || cat "$work/cc.log"
check "a C program builds with find_package(Quorvane)" build_cmake || cat "$work/cmake.log"
for p in program-pc b/program; do
  check "$p runs and reads the virtual drive $device" \
    in_root env QUORVANE_VDRIVE_HOME=/tmp/vd "/tmp/t/$p" "$device"
done
echo "== used in $(seconds) s"
echo "$passed passed, $failed failed"
# The chroot is some 400 MB; a failed run keeps it to look into.
if [ "$failed" -eq 0 ]; then
  cleanup
  rm -rf "$root"
fi
[ "$failed" -eq 0 ]
