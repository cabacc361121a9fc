#!/usr/bin/env bash
# Builds Joliet images to /dev/null with our command, genisoimage
# (-J -joliet-long) and xorriso (-as mkisofs -J), and UDF images with our
# command and genisoimage -udf, from the same trees in one run, and prints
# time, files/s, MB/s and peak memory side by side:
#   (a) 100 000 files of 1 KiB (FILES=... changes the count);
#   (b) two files of 1 GiB (BIG_MIB=... changes their size).
# The trees are made once under the build folder and kept. Run it twice and
# read the second run: the first also fills the page cache. Each tool runs
# RUNS times (5 unless told), the tools taking turns, so a machine that
# others load slows them alike; the medians are printed, and how many
# times as fast as genisoimage our command is.
#   usage: bench/iso_vs_tools.sh [build folder]
set -euo pipefail
build=${1:-build}
quorvane="$build/cli/quorvane"
[ -x "$quorvane" ] || { echo "build $quorvane first (make build)" >&2; exit 1; }
files=${FILES:-100000}
big_mib=${BIG_MIB:-1024}
runs=${RUNS:-5}
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
declare -A seconds peak
# One run of a tool: its time and peak memory join its earlier runs'.
run() {
  local name=$1
  shift
  /usr/bin/time -o "$report" -f '%e %M' "$@" >/dev/null 2>&1 || { echo "$name failed" >&2; return; }
  read -r secs kib < "$report"
  seconds[$name]+="$secs "
  peak[$name]+="$kib "
}
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# tool name, files, bytes: the medians of its runs.
row() {
  local name=$1 count=$2 bytes=$3
  [ -n "${seconds[$name]:-}" ] || return 0
  awk -v n="$name" -v c="$count" -v b="$bytes" -v s="$(median <<< "${seconds[$name]}")" \
      -v k="$(median <<< "${peak[$name]}")" -v r="$runs" 'BEGIN {
    if (s < 0.01) s = 0.01;
    printf "%-16s %9.2f s %12.0f files/s %9.0f MB/s %9.1f MiB peak %7.0f B/file  (median of %d)\n",
           n, s, c / s, b / s / 1e6, k / 1024, k * 1024 / c, r }'
}
# How many times as fast as the other tool ours is, by median times.
ratio() {
  [ -n "${seconds[$1]:-}" ] && [ -n "${seconds[$2]:-}" ] || return 0
  awk -v a="$(median <<< "${seconds[$1]}")" -v b="$(median <<< "${seconds[$2]}")" -v x="$1" -v y="$2" \
      'BEGIN { if (a < 0.01) a = 0.01; printf "%-16s %9.1fx as fast as %s\n", x, b / a, y }'
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
  seconds=()
  peak=()
  for ((r = 0; r < runs; ++r)); do
    run quorvane "$quorvane" image iso --quiet --out /dev/null "$tree"
    if command -v genisoimage >/dev/null; then
      run genisoimage genisoimage -quiet -J -joliet-long -o /dev/null "$tree"
    fi
    run "quorvane udf" "$quorvane" image udf --quiet --out /dev/null "$tree"
    if command -v genisoimage >/dev/null; then
      run "genisoimage -udf" genisoimage -quiet -udf -o /dev/null "$tree"
    fi
    if command -v xorriso >/dev/null; then
      run xorriso xorriso -as mkisofs -quiet -J -o /dev/null "$tree"
    fi
  done
  row quorvane "$count" "$bytes"
  # What each file costs beyond an empty tree, and how much of it is names:
  # the path (the long name is its tail), the short name, and the ISO9660
  # and Joliet identifiers with their length bytes.
  python3 - "$tree" "$count" "$(median <<< "${peak[quorvane]}")" "$base_kib" <<'EOF'
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
  for name in genisoimage "quorvane udf" "genisoimage -udf" xorriso; do row "$name" "$count" "$bytes"; done
  ratio quorvane genisoimage
  ratio "quorvane udf" "genisoimage -udf"
done
