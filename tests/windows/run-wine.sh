#!/usr/bin/env bash
# The Windows suite under Wine, in a WINEPREFIX of its own that is removed
# afterwards:
#   1. every test of the Windows build (ctest; one entry per test program);
#   2. regsvr32 Quorvane.ocx;
#   3. a VBScript and a compiled MTA client against the server;
#   4. regsvr32 /u, and a check that nothing of the registration is left.
# Usage: run-wine.sh [build-windows]
set -uo pipefail
build=$(cd "${1:-build-windows}" && pwd) || exit 2
here=$(cd "$(dirname "$0")" && pwd)
for program in wine wineserver winepath; do
  command -v "$program" >/dev/null || { echo "run-wine.sh: $program is not installed" >&2; exit 2; }
done

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/quorvane-wine.XXXXXX") || exit 2
export WINEPREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

failures=()
fail() { failures+=("$1"); echo "run-wine.sh: FAILED: $1"; }
win() { winepath -w "$1" 2>/dev/null; }

# A kept-alive wineserver makes every later wine start cheap.
wineserver -p
wine wineboot --init >/dev/null 2>&1 || { echo "run-wine.sh: wineboot failed" >&2; exit 1; }

echo "== tests of the Windows build"
(cd "$build" && ctest --output-on-failure) || fail "ctest"

ocx=$(win "$build/bin/Quorvane.ocx")
echo "== regsvr32 $ocx"
if ! wine regsvr32 /s "$ocx"; then
  fail "regsvr32"
  exit 1
fi

# cscript swallows uncaught script errors: a script passes only with its
# closing "N passed, 0 failed" line and exit code 0.
run_script() {
  local script=$1 out rc
  echo "== cscript $(basename "$script")"
  out=$(wine cscript //nologo "$(win "$script")" 2>&1)
  rc=$?
  echo "$out"
  if ! grep -Eq '^[0-9]+ passed, 0 failed' <<<"$out" || [ $rc -ne 0 ]; then
    fail "$(basename "$script") (exit code $rc)"
  fi
}
run_script "$here/clients/server.vbs"

run_client() {
  local mode=$1 out rc
  echo "== mta_client $mode"
  out=$(wine "$build/bin/mta_client.exe" "$mode" 2>&1)
  rc=$?
  echo "$out"
  if ! grep -Eq '^[0-9]+ passed, 0 failed' <<<"$out" || [ $rc -ne 0 ]; then
    fail "mta_client $mode (exit code $rc)"
  fi
}
run_client registered

echo "== regsvr32 /u $ocx"
wine regsvr32 /u /s "$ocx" || fail "regsvr32 /u"
run_client unregistered
for key in 'HKCR\Quorvane.DiscInfo.1' 'HKCR\Quorvane.DAOLayout' 'HKCR\TypeLib\{553B8CD4-023B-4F0E-92F2-D99822581E63}'; do
  if wine reg query "$key" >/dev/null 2>&1; then fail "$key is still registered"; fi
done

if [ ${#failures[@]} -ne 0 ]; then
  echo "run-wine.sh: ${#failures[@]} step(s) failed: ${failures[*]}"
  exit 1
fi
echo "run-wine.sh: all steps passed"
