#!/usr/bin/env bash
# Times `quorvane grab --track 1` beside readom and dd reading the same
# QEMU drives (virtio scsi-cd and IDE ATAPI) in one guest boot, and prints
# MB/s of each and our share of readom's speed. The guest is the one of
# the drive tests; an ISO of QUORVANE_BENCH_MB MiB (default 200) of random
# data is the disc. Under TCG every figure is far below a real drive's:
# read them side by side only. QUORVANE_BENCH_TRACE=1 first counts the
# system calls and SCSI commands of one run of each (needs strace).
#   usage: bench/grab_vs_readom.sh [build folder]
set -euo pipefail
build=${1:-build}
quorvane="$build/cli/quorvane"
[ -x "$quorvane" ] || { echo "build $quorvane first (make build)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../tests/qemu/run_drive_test.sh" --bench "$(realpath "$quorvane")" "$(realpath -m "$build")/bench-fixtures/grab-guest"
