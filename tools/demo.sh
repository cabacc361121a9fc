#!/usr/bin/env bash
# The main job: start the engine and show what it sees.
set -euo pipefail
build=${1:-build}
q="$build/cli/quorvane"
"$q" --version
echo
echo "Drives:"
"$q" devices
