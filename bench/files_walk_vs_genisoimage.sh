#!/usr/bin/env bash
# Times the file tree's walk of 100 000 and 1 000 000 files beside
# genisoimage and xorriso sizing an image of the same folders, in one run on
# one machine. The outside tools do more than walk (they also make ISO9660
# and Joliet names), so the comparison is an upper bound for them; what it
# catches is a walk of ours that is slow or large by an order of magnitude.
#   usage: bench/files_walk_vs_genisoimage.sh [build folder]
set -euo pipefail
build=${1:-build}
bench="$build/bench/bench_files"
[ -x "$bench" ] || { echo "build $bench first (make build)" >&2; exit 1; }

# Makes the fixtures if needed and reports our time and memory.
"$bench" --benchmark_filter='BM_TreeFromDisk' --benchmark_counters_tabular=true

report=$(mktemp)
trap 'rm -f "$report"' EXIT
for n in ${SIZES:-100000 1000000}; do
  dir="$build/bench-fixtures/files/tree-$n"
  if command -v genisoimage >/dev/null; then
    /usr/bin/time -o "$report" -f "genisoimage -print-size, $n files: %e s, peak %M KiB" \
      genisoimage -quiet -print-size -J -o /dev/null "$dir" >/dev/null
    cat "$report"
  fi
  if command -v xorriso >/dev/null; then
    /usr/bin/time -o "$report" -f "xorriso -as mkisofs -print-size, $n files: %e s, peak %M KiB" \
      xorriso -as mkisofs -print-size -J "$dir" >/dev/null 2>&1
    cat "$report"
  fi
done
