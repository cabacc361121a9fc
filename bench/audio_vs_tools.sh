#!/usr/bin/env bash
# Times `quorvane audio decode` beside the formats' own command-line
# decoders on the same five-minute inputs, in one run:
#   bench/audio_vs_tools.sh [BUILD_DIR]
# Needs sox, oggenc/oggdec (vorbis-tools), flac and lame.
set -euo pipefail
build=${1:-build}
quorvane=$(cd "$build" && pwd)/cli/quorvane
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
sox -n -r 44100 -c 2 -b 16 in.wav synth 300 sine 440 sine 880 gain -6
oggenc -Q -q 5 -o in.ogg in.wav
flac --silent -o in.flac in.wav
lame --quiet -b 192 --resample 48 in.wav in.mp3
seconds() { local s; s=$(date +%s.%N); "$@" >/dev/null 2>&1; echo "$(date +%s.%N) - $s" | bc; }
printf '%-6s %14s %14s   %s\n' format "quorvane (xCD)" "tool (xCD)" tool
row() {  # row FORMAT INPUT TOOL...
  local format=$1 input=$2; shift 2
  local ours theirs
  ours=$(seconds "$quorvane" audio decode -q "$input" --out ours.wav)
  theirs=$(seconds "$@")
  printf '%-6s %14.0f %14.0f   %s\n' "$format" "$(echo "300 / $ours" | bc -l)" "$(echo "300 / $theirs" | bc -l)" "$1"
}
row wav in.wav sox in.wav theirs.wav
row ogg in.ogg oggdec -Q -o theirs.wav in.ogg
row flac in.flac flac --silent -d -f -o theirs.wav in.flac
row mp3 in.mp3 lame --quiet --decode in.mp3 theirs.wav
