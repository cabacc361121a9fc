#!/usr/bin/env bash
# The Debian packages as a user meets them: installed with dpkg into a fresh
# minimal Debian 12 (debootstrap), then used there - the command's version,
# a virtual drive with a burn whose disc is exported and read back on the
# host with bsdtar, and a C program built against the installed library
# with pkg-config and with CMake's find_package(Quorvane).
#
#   run.sh BUILD_DIR WORK_DIR
#
# BUILD_DIR holds the .deb files of make package and the tree make install
# installs from; the two must lay out the same files. Needs root and Debian's
# package mirror (QUORVANE_DEBIAN_MIRROR names another).
set -euo pipefail

build=$(realpath "$1")
work=$(realpath -m "$2")
root="$work/root"
passed=0 failed=0
check() {  # check NAME COMMAND...: what the command said is shown when it fails
  local name=$1
  shift
  if "$@" >"$work/check.log" 2>&1; then
    echo "PASS $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    cat "$work/check.log"
    failed=$((failed + 1))
  fi
}
lap() { echo "== $1 in $(($(date +%s) - start)) s"; start=$(date +%s); }

for tool in debootstrap chroot dpkg-deb bsdtar; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (make package-test installs it)"; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "FAIL: the package test needs root for debootstrap and chroot"; exit 1; }
debs=("$build"/*.deb)
[ -e "${debs[0]}" ] || { echo "FAIL: no .deb in $build (run make package)"; exit 1; }
cleanup() { if mountpoint -q "$root/proc" 2>/dev/null; then umount -l "$root/proc"; fi; }
trap cleanup EXIT
trap 'exit 130' INT TERM
cleanup
rm -rf "$work"
mkdir -p "$work"
start=$(date +%s)

# make install lays out what the packages hold: the same files and links.
DESTDIR="$work/destdir" cmake --install "$build" >/dev/null
(cd "$work/destdir" && find . ! -type d | sed 's|^\.||' | sort) >"$work/installed.txt"
for d in "${debs[@]}"; do dpkg-deb -c "$d"; done | awk '$1 !~ /^d/ {print substr($6, 2)}' | sort >"$work/packaged.txt"
check "make install lays out the packages' $(wc -l <"$work/packaged.txt") files" \
  diff -u "$work/packaged.txt" "$work/installed.txt"
lap "file lists compared"

# A minimal Debian 12 with what a developer adds to build a C program.
debootstrap --variant=minbase --include=gcc,libc6-dev,pkg-config,cmake,make bookworm "$root" \
  ${QUORVANE_DEBIAN_MIRROR:-} >"$work/debootstrap.log" 2>&1 ||
  { tail -n 20 "$work/debootstrap.log"; echo "FAIL: debootstrap"; exit 1; }
mount -t proc proc "$root/proc"
lap "debootstrap"

mkdir -p "$root/tmp/debs" "$root/tmp/t"
cp "${debs[@]}" "$root/tmp/debs/"
cp "$(dirname "$0")/program.c" "$root/tmp/t/"
printf '%s\n' 'cmake_minimum_required(VERSION 3.16)' 'project(uses_quorvane C)' 'find_package(Quorvane REQUIRED)' \
  'add_executable(program program.c)' 'target_link_libraries(program PRIVATE Quorvane::quorvane)' \
  >"$root/tmp/t/CMakeLists.txt"
# The folder to burn: a size across block boundaries, depth, an empty file.
mkdir -p "$work/src/deep/er"
head -c 1234567 /dev/urandom >"$work/src/random.bin"
seq 1 5000 >"$work/src/deep/er/numbers.txt"
: >"$work/src/empty"
cp -r "$work/src" "$root/tmp/t/src"

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root QUORVANE_VDRIVE_HOME=/tmp/vd "$@"; }
step() { check "$1" in_root sh -ec "cd /tmp/t; $2"; }  # step NAME SCRIPT: a check in the chroot
# What the packages need beyond the minimal system comes from the mirror.
step "dpkg -i installs the packages" \
  'dpkg -i /tmp/debs/*.deb || { apt-get update -qq && apt-get -f install -y -qq; }; dpkg-query -W libquorvane6 libquorvane-dev quorvane'
lap "installed"

step "quorvane --version" 'quorvane --version | grep "[0-9]\.[0-9]*\.[0-9]"'
step "the manual page and the completion" 'test -s /usr/share/man/man1/quorvane.1 -a -s /usr/share/bash-completion/completions/quorvane'
step "vdrive create, burn and export" \
  'quorvane vdrive create d --media cd-r && quorvane burn --drive d src && quorvane vdrive export d --out disc.iso'
rm -rf "$work/out" && mkdir -p "$work/out"
check "bsdtar reads back every file as burned" \
  sh -c "bsdtar -xf '$root/tmp/t/disc.iso' -C '$work/out' && diff -r '$work/src' '$work/out'"
step "a C program builds with pkg-config" 'gcc -o program-pc program.c $(pkg-config --cflags --libs quorvane)'
step "a C program builds with find_package(Quorvane)" 'cmake -S . -B b >/dev/null && cmake --build b >/dev/null'
device=$(in_root quorvane --json devices | sed -n 's/.*"device": *"\([^"]*\)".*/\1/p' | head -n 1)
for p in program-pc b/program; do step "$p reads the virtual drive ${device:-?}" "./$p '$device'"; done
lap "used"

echo "$passed passed, $failed failed"
# The chroot is some 400 MB; a failed run keeps it to look into.
if [ "$failed" -eq 0 ]; then cleanup; rm -rf "$root"; fi
[ "$failed" -eq 0 ]
