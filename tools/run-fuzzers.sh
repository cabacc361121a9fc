#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while each:
#   tools/run-fuzzers.sh BUILD_DIR SECONDS
# A target named fuzz_X starts from BUILD_DIR/corpus/fuzz_X when that exists
# (new inputs are added there). Crashes are left as crash-* in BUILD_DIR.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-60}
status=0
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "$0")" && pwd)/lsan-suppressions.txt${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
for target in $(find "$build" -type f -executable -name 'fuzz_*' | sort); do
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  echo "== $name ($seconds s)"
  args=(-max_total_time="$seconds" -artifact_prefix="$build/" -print_final_stats=1)
  if [ -d "$corpus" ]; then args+=("$corpus"); fi
  "$target" "${args[@]}" 2>&1 | grep -E "^(#[0-9]+ +DONE|==[0-9]+==ERROR|SUMMARY|stat::number_of_executed_units)" || status=1
done
exit $status
