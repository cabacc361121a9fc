#!/usr/bin/env bash
# Builds Joliet images to /dev/null with our command, genisoimage
# (-J -joliet-long) and xorriso (-as mkisofs -J), and UDF images with our
# command and genisoimage -udf, from the same trees in one run, and prints
# time, files/s, MB/s and peak memory side by side:
#   (a) 100 000 files of 1 KiB (FILES=... changes the count);
#   (b) two files of 1 GiB (BIG_MIB=... changes their size).
# The trees are made once under the build folder and kept. Run it twice and
# read the second run: the first also fills the page cache.
#   usage: bench/iso_vs_tools.sh [build folder]
set -euo pipefail
build=${1:-build}
quorvane="$build/cli/quorvane"
[ -x "$quorvane" ] || { echo "build $quorvane first (make build)" >&2; exit 1; }
files=${FILES:-100000}
big_mib=${BIG_MIB:-1024}
fixtures="$build/bench-fixtures/iso"

small="$fixtures/small-$files"
if [ ! -d "$small" ]; then
  echo "making $files files of 1 KiB in $small" >&2
  mkdir -p "$small.tmp"
  python3 - "$small.tmp" "$files" <<'EOF'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
block = bytes(range(256)) * 4
for i in range(n):
    d = os.path.join(root, 'd%03d' % (i // 1000))
    if i % 1000 == 0:
        os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, 'file number %06d.dat' % i), 'wb') as f:
        f.write(block)
EOF
  mv "$small.tmp" "$small"
fi
big="$fixtures/big-$big_mib"
if [ ! -d "$big" ]; then
  echo "making two files of $big_mib MiB in $big" >&2
  mkdir -p "$big.tmp"
  for i in 1 2; do head -c "$((big_mib * 1048576))" /dev/urandom > "$big.tmp/big$i.bin"; done
  mv "$big.tmp" "$big"
fi

report=$(mktemp)
trap 'rm -f "$report"' EXIT
# tool name, files, bytes, command...
run() {
  local name=$1 count=$2 bytes=$3
  shift 3
  /usr/bin/time -o "$report" -f '%e %M' "$@" >/dev/null 2>&1 || { echo "$name failed" >&2; return; }
  read -r secs kib < "$report"
  awk -v n="$name" -v c="$count" -v b="$bytes" -v s="$secs" -v k="$kib" 'BEGIN {
    if (s < 0.01) s = 0.01;
    printf "%-16s %9.2f s %12.0f files/s %9.0f MB/s %9.1f MiB peak %7.0f B/file\n",
           n, s, c / s, b / s / 1e6, k / 1024, k * 1024 / c }'
}

# The program's own footprint, to tell what a file costs.
empty="$fixtures/empty"
mkdir -p "$empty"
/usr/bin/time -o "$report" -f '%M' "$quorvane" image iso --quiet --out /dev/null "$empty" >/dev/null 2>&1
base_kib=$(cat "$report")

for tree in "$small" "$big"; do
  count=$(find "$tree" -type f | wc -l)
  bytes=$(du -sb --apparent-size "$tree" | cut -f1)
  echo "== $tree: $count files, $bytes bytes"
  run quorvane "$count" "$bytes" "$quorvane" image iso --quiet --out /dev/null "$tree"
  # What each file costs beyond an empty tree, and how much of it is names:
  # the path (the long name is its tail), the short name, and the ISO9660
  # and Joliet identifiers with their length bytes.
  read -r _ peak_kib < "$report"
  python3 - "$tree" "$count" "$peak_kib" "$base_kib" <<'EOF'
import os, sys
root, count, peak, base = os.path.abspath(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
names = 0
for d, dirs, files in os.walk(root):
    for n in dirs + files:
        names += len(os.path.join(d, n)) + 1 + 13 + 14 + 2 * (len(n) + 2) + 2
per_file = (peak - base) * 1024 / count
print("%-12s %9.0f B/file over an empty tree, %.0f of them names, %.0f beyond the names"
      % ("", per_file, names / count, per_file - names / count))
EOF
  if command -v genisoimage >/dev/null; then
    run genisoimage "$count" "$bytes" genisoimage -quiet -J -joliet-long -o /dev/null "$tree"
  fi
  run "quorvane udf" "$count" "$bytes" "$quorvane" image udf --quiet --out /dev/null "$tree"
  if command -v genisoimage >/dev/null; then
    run "genisoimage -udf" "$count" "$bytes" genisoimage -quiet -udf -o /dev/null "$tree"
  fi
  if command -v xorriso >/dev/null; then
    run xorriso "$count" "$bytes" xorriso -as mkisofs -quiet -J -o /dev/null "$tree"
  fi
done
