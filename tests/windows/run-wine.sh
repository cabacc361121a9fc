#!/usr/bin/env bash
# The Windows suite under Wine, in a WINEPREFIX of its own that is removed
# afterwards:
#   1. every test of the Windows build (ctest; one entry per test program);
#   2. regsvr32 Quorvane.ocx;
#   3. a VBScript and a compiled MTA client against the server and virtual
#      drives: each builds an image of a folder with a collision it answers
#      and burns it to a blank DVD+R; the discs are then exported on the
#      Linux side and their files compared with the folder. Beside that,
#      VBScript makes a boot image and DVD-Video images, grabs a track of
#      a CD-RW and erases it, and burns a Video CD; the C++ client appends
#      a session to its disc and cancels from a second thread: each is
#      read back here by outside tools. A JScript smoke lists the drives;
#   4. regsvr32 /u, and the compiled client's check that nothing of the
#      registration is left.
# Usage: run-wine.sh [build-windows [build]]   (build: the Linux tree with
# the quorvane command, which makes and exports the virtual drives)
set -uo pipefail
build=$(cd "${1:-build-windows}" && pwd) || exit 2
linux_build=$(cd "${2:-build}" && pwd) || exit 2
quorvane=$linux_build/cli/quorvane
here=$(cd "$(dirname "$0")" && pwd)
[ -x "$quorvane" ] || { echo "run-wine.sh: $quorvane is missing (make build)" >&2; exit 2; }
for program in wine wineserver winepath bsdtar xorriso 7z lsdvd udfinfo ffmpeg vcd-info; do
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
work=$WINEPREFIX/work
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

# A client passes only with its closing "N passed, 0 failed" line and exit
# code 0: cscript swallows uncaught script errors.
run_client() {
  local name=$1 out rc
  shift
  echo "== $name"
  out=$(run_with_drives wine "$@" 2>&1)
  rc=$?
  echo "$out"
  grep -Eq '^[0-9]+ passed, 0 failed' <<<"$out" && [ $rc -eq 0 ] || fail "$name (exit code $rc)"
}
# The virtual drives, seen by the engine under Wine through the
# pass-through library: two blank DVD+R, a written CD-RW, one empty, a
# CD-R for the Video CD, a DVD+R whose burn the C++ client cancels, and
# one for the DVD-Video image of files.
export QUORVANE_VDRIVE_HOME=$work/vdrives
mkdir -p "$QUORVANE_VDRIVE_HOME" "$work/source/sub" "$work/other" "$work/scratch"
n=0
for media in dvd+r dvd+r cd-rw cd-r cd-r dvd+r dvd+r; do
  "$quorvane" vdrive create "CdRom$((n++))" --media "$media" >/dev/null || fail "vdrive create"
done
"$quorvane" vdrive eject CdRom3 >/dev/null || fail "vdrive eject"
# Progress is reported once a second: each WRITE takes 10 ms, so that a
# burn lasts a few seconds on any machine.
for i in 0 1 5; do
  echo '{"rules": [{"kind": "slow", "opcode": 42, "ms": 10, "times": 0}]}' >"$QUORVANE_VDRIVE_HOME/CdRom$i/faults.json"
done
written_cdrw() { "$quorvane" vdrive insert CdRom2 --disc "$here/../../vdrive/discs/cd-rw-complete.json" >/dev/null; }
echo "the file in the folder" >"$work/source/a.txt"
echo "the file that collides" >"$work/other/a.txt"
# Large enough for the burn to outlast the one-second progress interval.
head -c 20000000 /dev/urandom >"$work/source/sub/random.bin"
head -c 4096 /dev/urandom >"$work/boot.img"
# One second of test picture and tone, as ffmpeg makes it for a Video CD.
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=rate=29.97 -f lavfi -i sine=sample_rate=44100 -t 1 \
  -target ntsc-vcd "$work/scratch/movie.mpg" || fail "ffmpeg"
video_ts=$here/../udf/fixtures/video_ts
vdrive_dll=$(win "$build/bin/quorvane_vdrive.dll")
run_with_drives() {
  QUORVANE_VDRIVE_HOME=$(win "$QUORVANE_VDRIVE_HOME") QUORVANE_LIB_DTPRO=$vdrive_dll QUORVANE_LIB_DRALIK=$vdrive_dll "$@"
}
client_args=("$(win "$work/source")" "$(win "$work/other")" "$(win "$work/scratch")")

written_cdrw
cscript=(cscript //nologo)
run_client server.vbs "${cscript[@]}" "$(win "$here/clients/server.vbs")" "${client_args[@]}" "$(win "$work/boot.img")" \
  "$(win "$video_ts")"
run_client server.js "${cscript[@]}" "$(win "$here/clients/server.js")" "$(win "$work/scratch")"
mta_client=$build/bin/mta_client.exe
run_client "mta_client registered" "$mta_client" registered
run_client "mta_client scenario" "$mta_client" scenario "${client_args[@]}"

# The README's example, as a user would copy it, on a drive of its own:
# cscript hides its errors, so the disc it burnt is the judge.
readme_home=$work/readme-drives
QUORVANE_VDRIVE_HOME=$readme_home "$quorvane" vdrive create CdRom0 --media dvd+r >/dev/null || fail "vdrive create"
example=$(awk '/^A VBScript that burns a folder/ { on = 1; next }
               on && /^    / { sub(/^    /, ""); print; next }
               on && NF { exit }' "$here/../../README.md")
printf '%s\n' "${example//'C:\Photos'/"$(win "$work/source")"}" >"$work/readme.vbs"
echo "== the README's example"
QUORVANE_VDRIVE_HOME=$readme_home run_with_drives wine cscript //nologo "$(win "$work/readme.vbs")" | tail -n 1
mkdir -p "$work/got-readme"
{ grep -q 'TrackAtOnceFromFileSystemHandle' "$work/readme.vbs" &&
  QUORVANE_VDRIVE_HOME=$readme_home "$quorvane" vdrive export CdRom0 --out "$work/readme.iso" >/dev/null &&
  bsdtar -xf "$work/readme.iso" -C "$work/got-readme" && diff -r "$work/source" "$work/got-readme/source"; } ||
  fail "the README's example"

# Each client's disc, exported and compared with what it burnt: the
# folder, with the colliding file as the client's answer made it.
compare_disc() {
  local drive=$1 answer=$2 expected=$work/expected-$1 got=$work/got-$1
  mkdir -p "$expected" "$got"
  cp -r "$work/source" "$expected/source"
  case $answer in
    replace) cp "$work/other/a.txt" "$expected/source/a.txt" ;;
    rename:*) cp "$work/other/a.txt" "$expected/source/${answer#rename:}" ;;
  esac
  if ! "$quorvane" vdrive export "$drive" --out "$work/$drive.iso" >/dev/null ||
     ! bsdtar -xf "$work/$drive.iso" -C "$got" || ! diff -r "$expected" "$got"; then
    fail "the files on $drive"
  fi
}
echo "== the discs, exported"
compare_disc CdRom0 replace           # VBScript
compare_disc CdRom1 rename:cpp.txt    # C++, its first session

echo "== what the clients made, read by outside tools"
# VBScript's disc boots: the El Torito record of its hidden boot image.
xorriso -indev "stdio:$work/CdRom0.iso" -report_el_torito plain 2>/dev/null | grep -q 'El Torito boot img' ||
  fail "no El Torito boot image on CdRom0"
# VBScript's DVD-Video image: a title set structure libdvdread reads, and
# the VIDEO_TS files unchanged (no IFO patching asked for).
lsdvd "$work/scratch/vbs-dvd.iso" >/dev/null 2>&1 || fail "lsdvd on the DVD-Video image"
mkdir -p "$work/dvd-x"
{ 7z x -y -o"$work/dvd-x" "$work/scratch/vbs-dvd.iso" >/dev/null && diff -r "$video_ts" "$work/dvd-x/VIDEO_TS"; } ||
  fail "the DVD-Video image's files"
# VBScript's patched DVD-Video image: every address in the IFO and BUP
# files where the file now lies, and the titles as libdvdread sees them
# (dvdbackup copies such an image back in UdfOracles).
dvd_titles() { lsdvd -x "$1" 2>/dev/null | grep -E '^(Disc Title|Title)'; }
expected_titles='Title: 01, Length: 00:00:02.000 Chapters: 02, Cells: 02, Audio streams: 01, Subpictures: 00
Title: 02, Length: 00:00:03.000 Chapters: 01, Cells: 01, Audio streams: 01, Subpictures: 00'
patched=$work/scratch/vbs-dvd-patched.iso
/usr/bin/python3 "$here/../udf/dvd_check.py" "$patched" >/dev/null || fail "the patched image's IFO addresses"
[ "$(dvd_titles "$patched")" = "Disc Title: VBSDVD"$'\n'"$expected_titles" ] || fail "lsdvd on the patched image"
udfinfo "$patched" >/dev/null 2>&1 || fail "udfinfo on the patched image"
# VBScript's image of single files: laid out IFO and VOB first, backups
# last; read by libdvdread, and the disc it burnt holds the saved image.
files_dvd=$work/scratch/files-dvd.iso
[ "$(/usr/bin/python3 "$here/../udf/dvd_check.py" --order "$files_dvd")" = \
  "VIDEO_TS.IFO VIDEO_TS.BUP VTS_01_0.IFO VTS_01_1.VOB VTS_02_0.IFO VTS_02_1.VOB VTS_01_0.BUP VTS_02_0.BUP" ] ||
  fail "the order of the files in the DVD-Video image of files"
[ "$(dvd_titles "$files_dvd")" = "Disc Title: FILESDVD"$'\n'"$expected_titles" ] || fail "lsdvd on the DVD-Video image of files"
mkdir -p "$work/files-dvd-x"
{ udfinfo "$files_dvd" >/dev/null 2>&1 && 7z x -y -o"$work/files-dvd-x" "$files_dvd" >/dev/null &&
  diff -r "$video_ts" "$work/files-dvd-x/VIDEO_TS"; } || fail "the files of the DVD-Video image of files"
{ udfinfo "$work/scratch/files-dvd-empty.iso" >/dev/null 2>&1 &&
  [ "$(7z l -ba "$work/scratch/files-dvd-empty.iso" | awk '{ print $NF }' | sort | tr '\n' ' ')" = "AUDIO_TS VIDEO_TS " ]; } ||
  fail "the DVD-Video image without files"
{ "$quorvane" vdrive export CdRom6 --out "$work/CdRom6.iso" >/dev/null &&
  cmp -n "$(stat -c %s "$files_dvd")" "$files_dvd" "$work/CdRom6.iso"; } || fail "the DVD-Video disc of files"
# VBScript's grab of the CD-RW's first track: the drive's own blocks.
written_cdrw
{ "$quorvane" vdrive export CdRom2 --track 1 --out "$work/track1.expected" >/dev/null &&
  cmp "$work/track1.expected" "$work/scratch/track1.iso"; } || fail "the grabbed track"
# VBScript's Video CD, as a player's software reads it.
{ "$quorvane" vdrive export CdRom4 --out "$work/vcd.bin" --cue "$work/vcd.cue" >/dev/null &&
  vcd-info --no-banner -c "$work/vcd.cue" 2>&1 | grep -q 'VCD 2.0 detected'; } || fail "the Video CD"
# The C++ client's second session: the first one's files, imported, and
# the file it added.
start=$(tr -dc 0-9 <"$work/scratch/cpp-session2.txt")
mkdir -p "$work/session2" "$work/expected-session2"
cp -r "$work/expected-CdRom1/." "$work/expected-session2/"
cp "$work/other/a.txt" "$work/expected-session2/second.txt"
{ [ -n "$start" ] && xorriso -indev "stdio:$work/CdRom1.iso" -load sbsector "$start" -osirrox on \
    -extract / "$work/session2" >/dev/null 2>&1 && diff -r "$work/expected-session2" "$work/session2"; } ||
  fail "the second session on CdRom1"

echo "== regsvr32 /u $ocx"
wine regsvr32 /u /s "$ocx" || fail "regsvr32 /u"
run_client "mta_client unregistered" "$mta_client" unregistered

if [ ${#failures[@]} -ne 0 ]; then
  echo "run-wine.sh: ${#failures[@]} step(s) failed: ${failures[*]}"
  exit 1
fi
echo "run-wine.sh: all steps passed"
