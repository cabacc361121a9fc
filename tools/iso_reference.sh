#!/usr/bin/env bash
# Builds a fixed set of ISO images with `quorvane image iso` from tricky
# trees (Unicode and long names, a deep tree, a big folder, empty files,
# clashing names, boot images, plain ISO9660) and either keeps them as the
# reference or compares new ones with it. Every byte must match except the
# build time in the root records of the volume descriptors.
#   usage: tools/iso_reference.sh save|check [build folder] [reference folder]
set -euo pipefail
mode=$1
build=${2:-build}
ref=${3:-$build/iso-reference}
quorvane="$build/cli/quorvane"
trees="$build/iso-reference-trees"

make_trees() {
  rm -rf "$trees"
  mkdir -p "$trees"
  python3 - "$trees" <<'PY'
import os, sys
root = sys.argv[1]
def write(path, data):
    path = os.path.join(root, path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)
body = lambda n, seed: bytes((i * 131 + seed) & 0xFF for i in range(n))
# Unicode, long and clashing names.
for n in ['Grüße.txt', '日本語.txt', 'smile 😀.txt', 'L' * 103 + '.txt', 'report_2023_q1.doc',
          'report_2023_q2.doc', 'what?.txt', 'what*.txt', 'a', 'a1', 'a.b', 'a.b1', 'A_', 'MiXeD CaSe.TXT',
          'semi;colon;name.txt', 'no_extension', '.hidden_dot']:
    write('mixed/names/' + n, n.encode())
write('mixed/empty1', b'')
write('mixed/sub/empty2.txt', b'')
for i in range(3):
    write('mixed/two sectors %d.bin' % i, body(2049, i))
write('mixed/zz/last.bin', body(4096, 7))
# A deep tree.
deep = 'mixed/' + '/'.join('level%d' % i for i in range(11))
write(deep + '/bottom.txt', b'deep')
# A big folder: several directory sectors, many path table records.
for i in range(2500):
    write('big/folder/entry number %05d.dat' % i, body(i % 3000, i))
for i in range(300):
    write('big/dirs/d%03d/f.txt' % i, b'%d' % i)
# Boot images.
write('boot/noemul.bin', bytes([0xBA, 0xF8, 0x03, 0xB0, 0x4F, 0xEE, 0xB0, 0x4B, 0xEE, 0xB0, 0x10, 0xE6, 0xF4, 0xFA, 0xF4]))
write('boot/floppy.img', body(1474560, 3))
PY
  find "$trees" -exec touch -h -d '2021-06-15 12:34:56 UTC' {} +
}

build_all() {
  local out=$1
  mkdir -p "$out"
  TZ=UTC "$quorvane" image iso --quiet --label MIXED --out "$out/mixed.iso" "$trees/mixed"
  TZ=UTC "$quorvane" image iso --quiet --label PLAIN --no-joliet --out "$out/plain.iso" "$trees/mixed"
  TZ=UTC "$quorvane" image iso --quiet --out "$out/big.iso" "$trees/big"
  TZ=UTC "$quorvane" image iso --quiet --boot "$trees/boot/noemul.bin" --out "$out/boot.iso" "$trees/mixed/names"
  TZ=UTC "$quorvane" image iso --quiet --no-joliet --boot "$trees/boot/floppy.img" --boot-emulation floppy \
    --out "$out/floppy.iso" "$trees/mixed/sub"
  TZ=Europe/Berlin "$quorvane" image iso --quiet --label BERLIN --out "$out/zone.iso" "$trees/mixed/zz" "$trees/mixed/sub"
  mkdir -p "$trees/nothing"
  TZ=UTC "$quorvane" image iso --quiet --out "$out/empty.iso" "$trees/nothing"
}

# The images without the build time: the descriptors' root records and
# every record of the root folder (made when the image is).
masked() {
  python3 - "$1" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
roots = []
for s in range(16, 24):
    d = s * 2048
    if data[d + 1:d + 6] == b'CD001' and data[d] in (1, 2):
        data[d + 156 + 18:d + 156 + 25] = bytes(7)
        roots.append((struct.unpack_from('<I', data, d + 158)[0], struct.unpack_from('<I', data, d + 166)[0]))
def walk(extent, length, root, seen):
    if extent in seen:
        return
    seen.add(extent)
    at, end = extent * 2048, extent * 2048 + length
    while at < end:
        n = data[at]
        if n == 0:
            at = (at // 2048 + 1) * 2048
            continue
        kid, size = struct.unpack_from('<I', data, at + 2)[0], struct.unpack_from('<I', data, at + 10)[0]
        if kid == root:
            data[at + 18:at + 25] = bytes(7)
        if data[at + 25] & 2 and not (data[at + 32] == 1 and data[at + 33] <= 1):
            walk(kid, size, root, seen)
        at += n
for extent, length in roots:
    walk(extent, length, extent, set())
sys.stdout.buffer.write(data)
PY
}

make_trees
case $mode in
  save)
    rm -rf "$ref"
    build_all "$ref"
    ls -l "$ref"
    ;;
  check)
    new="$build/iso-reference-new"
    rm -rf "$new"
    build_all "$new"
    bad=0
    for f in "$ref"/*.iso; do
      n="$new/$(basename "$f")"
      if cmp -s <(masked "$f") <(masked "$n") && [ -s "$n" ]; then
        echo "same: $(basename "$f")"
      else
        echo "DIFFERS: $(basename "$f")"
        cmp <(masked "$f") <(masked "$n") | head -n 3 || true
        bad=1
      fi
    done
    exit $bad
    ;;
  *) echo "usage: $0 save|check [build] [reference]" >&2; exit 2 ;;
esac
