#!/usr/bin/env bash
# The main job on the default virtual drive: a blank DVD+RW, a sample
# folder mastered and burned, the disc exported and its files checked with
# an outside tool against the folder.
set -euo pipefail
build=${1:-build}
q="$(cd "$build" && pwd)/cli/quorvane"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$q" --version
echo
echo "== 1. The default virtual drive with a blank DVD+RW"
if "$q" vdrive list | awk 'NR > 1 {print $1}' | grep -qx default; then
  "$q" vdrive insert default --media dvd+rw
else
  "$q" vdrive create default --media dvd+rw
fi

echo
echo "== 2. Master a sample folder and burn it"
sample="$work/sample"
mkdir -p "$sample/docs/notes" "$sample/data"
printf 'Quorvane demo disc\n' > "$sample/README.txt"
printf 'Line %d of the notes\n' $(seq 1 2000) > "$sample/docs/notes/notes.txt"
head -c 3000000 /dev/urandom > "$sample/data/random.bin"
printf 'tiny' > "$sample/data/tiny.dat"
# Mastered into ISO9660/Joliet while it is written: no image file.
"$q" burn --label QUORVANE_DEMO "$sample"

echo
echo "== 3. Export the disc"
"$q" vdrive export default --out "$work/disc.iso"
"$q" info | sed -n '/^Disc/,$p'

echo
echo "== 4. Verify the files with bsdtar"
mkdir "$work/extracted"
bsdtar -xf "$work/disc.iso" -C "$work/extracted"
diff -r "$sample" "$work/extracted"
echo "The disc holds the sample folder, byte for byte."
